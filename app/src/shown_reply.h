// What of a relay's reply reaches the console and the history: the reply
// decoded, and the push key found in it however it is written, so that no
// piece of it shows.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "runtime/text.h"

namespace app {

// The reply as text (UTF-8 read, escapes decoded as web::DecodeUnicodeEscapes
// does), from its start until at least `enough` bytes of text are there or
// it ends. It is decoded in pieces cut where no escape, line break or
// character reaches over, so that a long reply costs little; where there is
// no such place (a reply of escapes), as a whole. A decoded zero ends it.
std::string DecodedReply(const rt::Bytes& answer, std::size_t enough);

// Runs that spell this many bytes of the key's start are masked too: what a
// cut leaves of a key.
inline constexpr std::size_t kMinKeyPiece = 6;

// The text with every run that spells the key, or at least kMinKeyPiece
// bytes of its start, replaced by "***": as it stands, in any letter case,
// percent-encoded (its UTF-8 or its own bytes, once or more), "\u", "%u" or
// "\x" escaped, or split by a backslash line continuation. A key shorter
// than 4 bytes is not looked for.
std::string MaskKey(std::string_view text, std::string_view key);

}  // namespace app
