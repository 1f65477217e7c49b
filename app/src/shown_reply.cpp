#include "shown_reply.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/codepage.h"
#include "runtime/text.h"
#include "web/reply_text.h"

namespace app {
namespace {

// Decodings tried one over the other (a key percent-encoded twice, ...).
constexpr int kMaxDecodings = 3;

using Span = std::pair<std::size_t, std::size_t>;  // [first, end)

// A run of a decoded text and the run of the text below it that it came
// from: byte for byte (literal), or one escape undone.
struct Piece {
  std::uint32_t at = 0;  // where it starts in the decoded text
  std::uint32_t from = 0;
  std::uint32_t to = 0;
  bool literal = false;
};

// One reading of the text: as written (no pieces), or the reading below it
// with its escapes undone.
struct Reading {
  std::string text;
  std::vector<Piece> pieces;

  // The span of the text below that [first, end) of this one came from.
  Span Below(Span s) const {
    const auto containing = [this](std::size_t at) {
      return *(std::upper_bound(pieces.begin(), pieces.end(), at,
                                [](std::size_t x, const Piece& p) { return x < p.at; }) -
               1);
    };
    const Piece& a = containing(s.first);
    const Piece& b = containing(s.second - 1);
    return {a.literal ? a.from + (s.first - a.at) : a.from,
            b.literal ? b.from + (s.second - b.at) : b.to};
  }
};

// Exactly count hex digits at t[i].
std::optional<unsigned> HexRun(std::string_view t, std::size_t i, std::size_t count) {
  const rt::DigitRun run = rt::ReadDigits(t, i, 16, count);
  if (run.length != count) return std::nullopt;
  return static_cast<unsigned>(run.value);
}

// An escape at t[i] ("%" or "\"): its length (0: none) and what it stands
// for ("" for a line continuation).
std::pair<std::size_t, std::string> EscapeAt(std::string_view t, std::size_t i) {
  const bool percent = t[i] == '%';
  const char next = i + 1 < t.size() ? t[i + 1] : '\0';
  if (next == 'u') {
    if (const auto v = HexRun(t, i + 2, 4)) {
      return {6, rt::WideToText(std::u16string(1, static_cast<char16_t>(*v)))};
    }
  }
  const std::size_t digits = percent ? i + 1 : i + 2;
  if (percent || next == 'x') {
    if (const auto v = HexRun(t, digits, 2)) return {digits + 2 - i, {static_cast<char>(*v)}};
  }
  if (percent || i + 1 >= t.size()) return {0, {}};
  if (next == '\n') return {2, {}};
  if (next == '\r') return {i + 2 < t.size() && t[i + 2] == '\n' ? 3u : 2u, {}};
  if (next >= '0' && next <= '7') {
    // Octal: up to three digits, at most 0377.
    const rt::DigitRun run = rt::ReadDigits(t, i + 1, 8, next <= '3' ? 3 : 2);
    return {1 + run.length, {static_cast<char>(run.value)}};
  }
  // Any other escaped character stands for itself.
  return {1 + rt::CharLength(t, i + 1), std::string(t.substr(i + 1, rt::CharLength(t, i + 1)))};
}

// The text with every escape undone; nullopt when it has none.
std::optional<Reading> Decode(std::string_view t) {
  Reading r;
  std::size_t literal = 0;  // start of the literal run not yet taken
  const auto take = [&](std::size_t end) {
    if (end == literal) return;
    r.pieces.push_back({static_cast<std::uint32_t>(r.text.size()),
                        static_cast<std::uint32_t>(literal), static_cast<std::uint32_t>(end),
                        true});
    r.text.append(t.substr(literal, end - literal));
  };
  for (std::size_t i = t.find_first_of("%\\"); i != std::string_view::npos;
       i = t.find_first_of("%\\", i)) {
    const auto [length, value] = EscapeAt(t, i);
    if (length == 0) {
      ++i;
      continue;
    }
    take(i);
    r.pieces.push_back({static_cast<std::uint32_t>(r.text.size()), static_cast<std::uint32_t>(i),
                        static_cast<std::uint32_t>(i + length), false});
    r.text += value;
    i += length;
    literal = i;
  }
  if (r.pieces.empty()) return std::nullopt;
  take(t.size());
  return r;
}

// Runs of t that spell the pattern, or enough bytes of its start, letters
// in either case. atStart: where a run may begin (nullptr: anywhere).
std::vector<Span> Pieces(std::string_view t, std::string_view pattern,
                         const std::vector<bool>* atStart) {
  std::vector<Span> spans;
  const std::size_t enough = std::min(pattern.size(), kMinKeyPiece);
  const char first = rt::LowerAscii(pattern[0]);
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (rt::LowerAscii(t[i]) != first || (atStart && !(*atStart)[i])) continue;
    std::size_t n = 1;
    while (n < pattern.size() && i + n < t.size() &&
           rt::LowerAscii(t[i + n]) == rt::LowerAscii(pattern[n])) {
      ++n;
    }
    if (n < enough) continue;
    spans.emplace_back(i, i + n);
    i += n - 1;
  }
  return spans;
}

// Where a reply may be cut for decoding: at a letter, digit or blank after
// six more, so no escape (at most six bytes), line break, stand-in or
// character reaches over the cut.
bool DecodingMayCut(const rt::Bytes& b, std::size_t at) {
  constexpr std::size_t kWindow = 6;
  if (at < kWindow) return false;
  for (std::size_t i = at - kWindow; i <= at; ++i) {
    const auto c = static_cast<char>(b[i]);
    if (!(rt::IsAsciiDigit(c) || c == ' ' ||
          (rt::LowerAscii(c) >= 'a' && rt::LowerAscii(c) <= 'z'))) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::string DecodedReply(const rt::Bytes& answer, std::size_t enough) {
  constexpr std::size_t kPiece = 16 * 1024;
  // The text ends at the first zero byte.
  const auto size =
      static_cast<std::size_t>(std::find(answer.begin(), answer.end(), 0) - answer.begin());
  std::string text;
  for (std::size_t from = 0; from < size && text.size() < enough;) {
    std::size_t to = std::min(size, from + kPiece);
    while (to < size && !DecodingMayCut(answer, to)) ++to;
    rt::Bytes piece(answer.begin() + static_cast<std::ptrdiff_t>(from),
                    answer.begin() + static_cast<std::ptrdiff_t>(to));
    // A mark after a piece that has more after it: gone when a decoded zero
    // ended the text inside the piece.
    const bool more = to < size;
    if (more) piece.push_back(0x01);
    std::string decoded = web::DecodeUnicodeEscapes(web::Utf8ToGbk(piece));
    if (more && !decoded.ends_with('\x01')) return text + decoded;
    if (more) decoded.pop_back();
    text += decoded;
    from = to;
  }
  return text;
}

std::string MaskKey(std::string_view text, std::string_view key) {
  if (key.size() < 4 || text.empty()) return std::string(text);
  std::vector<std::string> patterns{std::string(key)};
  if (std::string utf8 = rt::TextToUtf8(key); utf8 != key) patterns.push_back(std::move(utf8));
  // Character starts of the text: no run begins or ends inside a character.
  std::vector<bool> starts(text.size() + 1, false);
  for (std::size_t i = 0; i < text.size(); i += rt::CharLength(text, i)) starts[i] = true;
  starts[text.size()] = true;

  std::vector<Span> spans;
  for (const auto& pattern : patterns) {
    for (const Span& s : Pieces(text, pattern, &starts)) spans.push_back(s);
  }
  std::vector<Reading> readings;  // each decoded from the one before, the first from the text
  for (int level = 0; level < kMaxDecodings; ++level) {
    auto decoded = Decode(readings.empty() ? text : std::string_view(readings.back().text));
    if (!decoded) break;
    readings.push_back(std::move(*decoded));
    for (const auto& pattern : patterns) {
      for (Span s : Pieces(readings.back().text, pattern, nullptr)) {
        for (auto r = readings.rbegin(); r != readings.rend(); ++r) s = r->Below(s);
        spans.push_back(s);
      }
    }
  }
  if (spans.empty()) return std::string(text);

  for (auto& [first, end] : spans) {
    while (!starts[first]) --first;
    while (!starts[end]) ++end;
  }
  std::sort(spans.begin(), spans.end());
  std::string out;
  out.reserve(text.size());
  std::size_t done = 0;
  for (std::size_t i = 0; i < spans.size();) {
    const std::size_t first = spans[i].first;
    std::size_t end = spans[i].second;
    for (++i; i < spans.size() && spans[i].first <= end; ++i) end = std::max(end, spans[i].second);
    out.append(text.substr(done, first - done));
    out += "***";
    done = end;
  }
  out.append(text.substr(done));
  return out;
}

}  // namespace app
