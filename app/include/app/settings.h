// The addresses the program talks to and points its user at.
#pragma once

#include <string>
#include <string_view>

namespace app {

struct Settings {
  std::string pushBaseUrl;  // ends in "/"; the key follows it directly
  std::string keyHelpUrl;
  std::string siteUrl;  // no trailing slash
};
// The values the build was configured with.
Settings DefaultSettings();

// Keys of the form "sctp<number>t..." are sent to a host of their own
// number, when the default relay is configured: kKeyHostScheme + number +
// kKeyHostRest.
inline constexpr std::string_view kKeyHostScheme = "https://";
inline constexpr std::string_view kKeyHostRest = ".push.ft07.com/send/";

}  // namespace app
