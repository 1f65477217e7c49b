#include "key_mask.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/codepage.h"
#include "runtime/text.h"

namespace app {
namespace {

// Decodings tried one over the other (a key percent-encoded twice, ...).
constexpr int kMaxDecodings = 3;

// One character of a reading of the text: the bytes it stands for and the
// bytes of the text it was read from.
struct Unit {
  std::array<char, 4> bytes{};
  std::uint8_t size = 0;
  std::uint32_t from = 0;
  std::uint32_t to = 0;  // one past
};
using Reading = std::vector<Unit>;
using Span = std::pair<std::uint32_t, std::uint32_t>;

Reading AsWritten(std::string_view text) {
  Reading r;
  r.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t length = std::min<std::size_t>(rt::CharLength(text, i), 4);
    Unit u{.size = static_cast<std::uint8_t>(length),
           .from = static_cast<std::uint32_t>(i),
           .to = static_cast<std::uint32_t>(i + length)};
    std::copy_n(text.begin() + static_cast<std::ptrdiff_t>(i), length, u.bytes.begin());
    r.push_back(u);
    i += length;
  }
  return r;
}

char ByteAt(const Reading& r, std::size_t i) {
  return i < r.size() && r[i].size == 1 ? r[i].bytes[0] : '\0';
}

// The value of count hex digits from r[i], if they are all there.
std::optional<unsigned> HexRun(const Reading& r, std::size_t i, std::size_t count) {
  unsigned v = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const char c = rt::LowerAscii(ByteAt(r, i + k));
    if (c >= '0' && c <= '9') {
      v = v * 16 + static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      v = v * 16 + static_cast<unsigned>(c - 'a' + 10);
    } else {
      return std::nullopt;
    }
  }
  return v;
}

// An escape at r[i]: how many units it takes and what it stands for
// (nullopt: nothing, a line continuation). 0 units: no escape there.
struct Escape {
  std::size_t units = 0;
  std::optional<std::string> value;
};

Escape EscapeAt(const Reading& r, std::size_t i) {
  const char c = ByteAt(r, i);
  if (c != '%' && c != '\\') return {};
  const char next = ByteAt(r, i + 1);
  if (next == 'u') {
    if (const auto v = HexRun(r, i + 2, 4)) {
      return {6, rt::WideToGbk(std::u16string(1, static_cast<char16_t>(*v)))};
    }
  }
  const bool percent = c == '%';
  const std::size_t digitsAt = percent ? i + 1 : i + 2;
  if (percent || next == 'x') {
    if (const auto v = HexRun(r, digitsAt, 2)) {
      return {digitsAt + 2 - i, std::string(1, static_cast<char>(*v))};
    }
  }
  if (percent || i + 1 >= r.size()) return {};
  if (next == '\n') return {2, std::nullopt};
  if (next == '\r') return {ByteAt(r, i + 2) == '\n' ? 3u : 2u, std::nullopt};
  // Any other escaped character stands for itself.
  return {2, std::string(r[i + 1].bytes.data(), r[i + 1].size)};
}

// The reading with each escape undone; false when it had none.
bool Decode(const Reading& in, Reading& out) {
  out.clear();
  out.reserve(in.size());
  bool changed = false;
  for (std::size_t i = 0; i < in.size();) {
    const Escape e = EscapeAt(in, i);
    if (e.units == 0) {
      out.push_back(in[i++]);
      continue;
    }
    changed = true;
    if (e.value && !e.value->empty()) {
      Unit u{.size = static_cast<std::uint8_t>(std::min<std::size_t>(e.value->size(), 4)),
             .from = in[i].from,
             .to = in[i + e.units - 1].to};
      std::copy_n(e.value->begin(), u.size, u.bytes.begin());
      out.push_back(u);
    }
    i += e.units;
  }
  return changed;
}

// How many bytes of the pattern the units from r[i] on spell, whole units
// only, letters in either case; end receives the unit after the last.
std::size_t Spelled(const Reading& r, std::size_t i, std::string_view pattern, std::size_t& end) {
  std::size_t p = 0;
  end = i;
  for (; end < r.size() && p < pattern.size(); ++end) {
    const Unit& u = r[end];
    if (u.size > pattern.size() - p) break;
    for (std::size_t k = 0; k < u.size; ++k) {
      if (rt::LowerAscii(u.bytes[k]) != rt::LowerAscii(pattern[p + k])) return p;
    }
    p += u.size;
  }
  return p;
}

void FindPieces(const Reading& r, std::string_view pattern, std::vector<Span>& spans) {
  const std::size_t enough = std::min(pattern.size(), kMinKeyPiece);
  const char first = rt::LowerAscii(pattern[0]);
  for (std::size_t i = 0; i < r.size();) {
    std::size_t end = i;
    if (rt::LowerAscii(r[i].bytes[0]) == first && Spelled(r, i, pattern, end) >= enough) {
      spans.emplace_back(r[i].from, r[end - 1].to);
      i = end;
    } else {
      ++i;
    }
  }
}

}  // namespace

std::string MaskKey(std::string_view text, std::string_view key) {
  if (key.size() < 4 || text.empty()) return std::string(text);
  std::vector<std::string> patterns{std::string(key)};
  if (std::string utf8 = rt::GbkToUtf8(key); utf8 != key) patterns.push_back(std::move(utf8));

  std::vector<Span> spans;
  Reading reading = AsWritten(text);
  Reading decoded;
  for (int level = 0;; ++level) {
    for (const auto& pattern : patterns) FindPieces(reading, pattern, spans);
    if (level == kMaxDecodings || !Decode(reading, decoded)) break;
    std::swap(reading, decoded);
  }
  if (spans.empty()) return std::string(text);

  std::sort(spans.begin(), spans.end());
  std::string out;
  out.reserve(text.size());
  std::size_t at = 0;
  for (std::size_t i = 0; i < spans.size();) {
    const std::uint32_t from = spans[i].first;
    std::uint32_t to = spans[i].second;
    for (++i; i < spans.size() && spans[i].first <= to; ++i) to = std::max(to, spans[i].second);
    out.append(text.substr(at, from - at));
    out += "***";
    at = to;
  }
  out.append(text.substr(at));
  return out;
}

}  // namespace app
