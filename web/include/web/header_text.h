// Header and cookie texts: pure routines on code page 936 texts, for any
// thread. Positions are 1-based, as in runtime/text.h.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/text.h"

namespace web {

// Header names rewritten word by word ("-" between words) with a capital
// first letter, the other letters as they were ("content-type: x" ->
// "Content-Type: x"); lines without ":" (empty ones too) are dropped; values
// are never touched. Lines are joined by "\r\n", none at the end.
std::string NormalizeHeaderCase(std::string_view headers);

// The first byte upper-cased (a to z only); the rest unchanged.
std::string CapitalizeFirst(std::string_view text);

// Every line end made "\r\n": a bare "\n" or "\r" (as some servers send)
// too, so that splitting at "\r\n" leaves no line end inside a line.
std::string NormalizeLineEnds(std::string_view text);

// How the bytes of a header block are read: as program text (code page
// 936: a lead byte takes the byte after it along, so no line end or ":" is
// found there) or as wire bytes (UTF-8 or Latin-1: byte by byte).
enum class HeaderBytes { kText, kWire };

// One header line split at its first ":"; name and value as they stand (not
// trimmed), both empty when the line has no ":".
struct HeaderLine {
  std::string_view line;  // without its line end
  std::string_view name;
  std::string_view value;
  bool hasColon = false;
};

HeaderLine SplitHeaderLine(std::string_view line, HeaderBytes bytes = HeaderBytes::kText);

// The lines of a header block (views into it), split at "\r\n" and each at
// its first ":". Empty lines between line ends stay; an empty last line is
// dropped, so an empty block has none.
std::vector<HeaderLine> ScanHeaderLines(std::string_view block,
                                        HeaderBytes bytes = HeaderBytes::kText);

// Text before / after the first ":", trimmed of blanks (not tabs); empty
// when there is no ":".
std::string HeaderName(std::string_view line);
std::string HeaderValue(std::string_view line);

// Text before the first separator found from start (nullopt or below 1:
// the first byte); empty when not found.
std::string TextBefore(std::string_view text, std::string_view separator,
                       std::optional<int> start = std::nullopt, bool ignoreCase = false);

// Text between the left marker and the first right marker after it; empty
// when either is missing.
std::string TextBetween(std::string_view text, std::string_view left, std::string_view right,
                        std::optional<int> start = std::nullopt, bool ignoreCase = false);

// Standard alphabet, "=" padding, no line breaks.
std::string Base64Encode(const rt::Bytes& bytes);
// The bytes of a Base64 text (its padding optional; bits short of a whole
// byte at the end are dropped); nullopt for a character outside the alphabet,
// blanks and line breaks included.
std::optional<rt::Bytes> Base64Decode(std::string_view text);

// Trimmed name of "name=value" (the whole item trimmed when it has no "=").
std::string CookieName(std::string_view cookie);

// Items of text split at separator, repeats removed (the first of equal
// items stays), joined by separator; an empty last item is dropped.
std::string RemoveDuplicateItems(std::string_view text, std::string_view separator);

// Merges the sent cookies into the returned ones, the returned ones winning,
// dropping those the server marked "=deleted". Both arguments are rewritten:
// returned without blanks (full-width ones too), sent holding the merged
// text ("; " between cookies), which is returned.
std::string MergeCookies(std::string& sent, std::string& returned);

}  // namespace web
