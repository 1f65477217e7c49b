// The addresses the program talks to and points its user at.
#pragma once

#include <string>

namespace app {

struct Settings {
  std::string pushBaseUrl;  // ends in "/"; the key follows it directly
  std::string keyHelpUrl;
  std::string siteUrl;  // no trailing slash
};
// The values the build was configured with.
Settings DefaultSettings();

}  // namespace app
