#include "runtime/value.h"

#include <cmath>
#include <cstdio>
#include <cstring>

#include "runtime/clock.h"

namespace rt {
namespace {

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

// The bytes of a run of elements up to the first zero byte.
std::string ByteRun(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const char*>(data);
  const void* zero = size ? std::memchr(bytes, 0, size) : nullptr;
  return std::string(
      bytes, zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes) : size);
}

template <class T>
std::string ArrayRun(const Array<T>& a) {
  return ByteRun(a.elements.data(), a.elements.size() * sizeof(T));
}

// Days beyond which a year no longer fits an int.
constexpr double kMaxDays = 7.0e11;

}  // namespace

std::string RealToText(double value) {
  std::string text = FormatText("%f", value);
  if (text.find('.') == std::string::npos) return text;  // inf, nan
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
  return text;
}

std::string DateTimeToText(double dateTime, bool dateOnly) {
  if (!std::isfinite(dateTime) || std::fabs(dateTime) > kMaxDays) return {};
  const double whole = std::trunc(dateTime);
  const double fraction = dateTime - whole;
  const std::int64_t s = std::llround(std::fabs(fraction) * 86400);  // nearest whole second
  const auto hours = s / 3600, minutes = s % 3600 / 60, seconds = s % 60;

  const CivilDate date = CivilFromDays(static_cast<std::int64_t>(whole));
  std::string text = FormatText("%d年%d月%d日", date.year, date.month, date.day);
  if (dateOnly) return text;
  if (seconds != 0) {
    text += FormatText("%lld时%lld分%lld秒", static_cast<long long>(hours),
                       static_cast<long long>(minutes), static_cast<long long>(seconds));
  } else if (minutes != 0) {
    text +=
        FormatText("%lld时%lld分", static_cast<long long>(hours), static_cast<long long>(minutes));
  } else if (hours != 0) {
    text += FormatText("%lld时", static_cast<long long>(hours));
  }
  return text;
}

std::string BytesToText(const Bytes& bytes) {
  return ByteRun(bytes.data(), bytes.size());
}

std::string ValueToText(const Value& value) {
  return std::visit(
      Overloaded{
          [](bool v) -> std::string { return v ? "真" : "假"; },
          [](DateTimeValue v) { return DateTimeToText(v.days); },
          [](const std::string& v) { return v; },
          [](const Bytes& v) { return BytesToText(v); },
          [](RoutinePointer v) { return FormatText("%lld", static_cast<long long>(v.address)); },
          [](std::uint8_t v) { return FormatText("%d", v); },
          [](std::int16_t v) { return FormatText("%d", v); },
          [](std::int32_t v) { return FormatText("%d", v); },
          [](std::int64_t v) { return FormatText("%lld", static_cast<long long>(v)); },
          [](float v) { return RealToText(static_cast<double>(v)); },
          [](double v) { return RealToText(v); },
          [](const Array<std::uint8_t>& a) { return ArrayRun(a); },
          [](const Array<std::int16_t>& a) { return ArrayRun(a); },
          [](const Array<std::int32_t>& a) { return ArrayRun(a); },
          [](const Array<std::int64_t>& a) { return ArrayRun(a); },
          [](const Array<RoutinePointer>& a) {
            // Routine pointers travel as 32-bit words.
            std::vector<std::int32_t> words;
            for (auto p : a.elements) words.push_back(static_cast<std::int32_t>(p.address));
            return ByteRun(words.data(), words.size() * sizeof(std::int32_t));
          },
          [](const Array<std::string>&) { return std::string(); },
          [](const Array<double>&) { return std::string(); },
      },
      value);
}

}  // namespace rt
