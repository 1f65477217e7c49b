// Finding the push key in what a relay sent back, however it is written, so
// that no piece of it reaches the console or the history.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace app {

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
