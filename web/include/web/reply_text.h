// Turning a reply body into printable text. Pure functions: any thread.
#pragma once

#include <string>
#include <string_view>

#include "runtime/text.h"

namespace web {

// The bytes up to the first zero read as UTF-8 (a malformed sequence as
// U+FFFD), as a code page 936 text.
std::string Utf8ToGbk(const rt::Bytes& bytes);

// Decodes backslash sequences as a single-quoted script string literal does,
// then "%uXXXX" and "%XX". A lone line break or a trailing backslash is kept
// as it stands; a decoded zero ends the text. A leading CR is dropped, and
// the stand-ins the decoding uses come out as what they stand for: a right
// single quote (A1 AF) in the text as "'", and "{$}" as "\r\n".
std::string DecodeUnicodeEscapes(std::string_view text);

// The bytes read as UTF-16LE text (a leading byte-order mark skipped), as a
// code page 936 text ending at the first zero (an odd last byte is dropped).
std::string StreamTextFromBytes(const rt::Bytes& bytes);

}  // namespace web
