// Header and cookie texts on arbitrary bytes: normalising is idempotent and
// never lengthens the text; merged cookies hold no blank and no deleted item.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "web/header_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view all(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string once = web::NormalizeHeaderCase(all);
  if (once.size() > all.size() || web::NormalizeHeaderCase(once) != once) std::abort();

  const std::size_t cut = data[0] % size;
  std::string sent(all.substr(0, std::min(cut, all.size())));
  std::string returned(all.substr(std::min(cut, all.size())));
  const std::string merged = web::MergeCookies(sent, returned);
  if (merged != sent) std::abort();
  // Blanks only as part of the "; " separators.
  for (std::size_t i = 0; i < merged.size(); i += rt::CharLength(merged, i)) {
    if (merged[i] == ' ' && (i == 0 || merged[i - 1] != ';')) std::abort();
  }
  for (const std::string& item : rt::SplitText(merged, "; ")) {
    if (item.size() >= 8 && item.compare(item.size() - 8, 8, "=deleted") == 0) std::abort();
  }
  web::TextBetween(all, "Set-Cookie:", ";", data[0] % 5, data[0] & 1);
  return 0;
}
