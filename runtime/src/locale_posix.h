// The bytes the system's locale speaks (terminal, file names): UTF-8 unless
// its character set is already code page 936 or a superset of it.
#pragma once

#include <string>
#include <string_view>

namespace rt::posix {

bool LocaleIsGbk();
std::string ToLocale(std::string_view text);
std::string FromLocale(std::string_view bytes);

}  // namespace rt::posix
