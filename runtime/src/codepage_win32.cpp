#include <windows.h>

#include "runtime/codepage.h"

namespace rt {
namespace {

constexpr UINT kCodePage936 = 936;
// What 936 lacks becomes "?", as on Linux, never a look-alike letter (the
// best-fit table turns Ā into ā and changes a word silently).
constexpr DWORD kNoBestFit = WC_NO_BEST_FIT_CHARS;

}  // namespace

std::u16string GbkToWide(std::string_view gbk) {
  if (gbk.empty()) return {};
  const int in = static_cast<int>(gbk.size());
  const int n = MultiByteToWideChar(kCodePage936, 0, gbk.data(), in, nullptr, 0);
  std::u16string out(static_cast<std::size_t>(n), u'\0');
  MultiByteToWideChar(kCodePage936, 0, gbk.data(), in, reinterpret_cast<wchar_t*>(out.data()), n);
  return out;
}

std::string WideToGbk(std::u16string_view wide) {
  if (wide.empty()) return {};
  const auto* in = reinterpret_cast<const wchar_t*>(wide.data());
  const int size = static_cast<int>(wide.size());
  const int n =
      WideCharToMultiByte(kCodePage936, kNoBestFit, in, size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kCodePage936, kNoBestFit, in, size, out.data(), n, nullptr, nullptr);
  return out;
}

}  // namespace rt
