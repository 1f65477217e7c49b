// Text services on arbitrary bytes: no read past the end, and the search
// results stay consistent with each other.
#include <cstdint>
#include <cstdlib>

#include "runtime/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  const std::size_t cut = data[0] % size;
  const std::string_view all(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::string_view t = all.substr(0, cut), s = all.substr(cut);
  const int pos = rt::FindText(t, s, data[0] % 7, data[0] & 1);
  if (pos > 0 && !s.empty() && !(data[0] & 1) && t.substr(pos - 1, s.size()) != s) std::abort();
  const auto parts = rt::SplitText(t, s);
  std::size_t total = 0;
  for (const auto& p : parts) total += p.size();
  if (total > t.size()) std::abort();
  rt::ReplaceText(t, s, "x", data[0] % 5, std::nullopt, data[0] & 2);
  rt::TrimText(t);
  rt::RemoveAllBlanks(t);
  rt::UpperCase(t);
  return 0;
}
