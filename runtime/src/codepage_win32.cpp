#include <windows.h>

#include "codepage_internal.h"

namespace rt::codepage {
namespace {

constexpr UINT kCodePage936 = 936;

}  // namespace

int PlatformBytesOf(char16_t unit, unsigned char out[2]) {
  const auto wide = static_cast<wchar_t>(unit);
  char bytes[4];
  BOOL usedDefault = FALSE;
  // Without best-fit look-alikes: the table turns Ā into ā and changes a
  // word silently.
  const int n = WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, &wide, 1, bytes,
                                    sizeof bytes, nullptr, &usedDefault);
  if (n < 1 || n > 2 || usedDefault) return 0;
  // Only bytes that read back as this unit (0xFF does not).
  wchar_t back[2];
  if (MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, bytes, n, back, 2) != 1 ||
      back[0] != wide) {
    return 0;
  }
  out[0] = static_cast<unsigned char>(bytes[0]);
  out[1] = static_cast<unsigned char>(bytes[1]);
  return n;
}

char16_t PlatformUnitOf(const unsigned char* bytes, std::size_t size) {
  wchar_t unit = 0;
  const int n =
      MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, reinterpret_cast<const char*>(bytes),
                          static_cast<int>(size), &unit, 1);
  return n == 1 ? static_cast<char16_t>(unit) : 0;
}

}  // namespace rt::codepage
