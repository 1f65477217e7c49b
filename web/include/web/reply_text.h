// Turning a reply body into printable text.
#pragma once

#include <string>
#include <string_view>

#include "runtime/text.h"

namespace web {

// The bytes read as UTF-8, as a code page 936 text ending at the first zero.
std::string Utf8ToGbk(const rt::Bytes& bytes);

// Decodes backslash sequences as a single-quoted script string literal does,
// then "%uXXXX" and "%XX". A lone line break or a trailing backslash is kept
// as it stands; a decoded zero ends the text.
std::string DecodeUnicodeEscapes(std::string_view text);

// The bytes read as UTF-16LE text (a leading byte-order mark skipped), as a
// code page 936 text ending at the first zero.
std::string StreamTextFromBytes(const rt::Bytes& bytes);

}  // namespace web
