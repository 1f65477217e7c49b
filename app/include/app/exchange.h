// One exchange with the relay: the request, its bounds, and the verdict on
// what came back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "app/context.h"
#include "app/settings.h"
#include "runtime/file.h"

namespace app {

// Bounds of one exchange.
inline constexpr int kExchangeTimeoutSeconds = 15;
inline constexpr std::size_t kMaxReplyBytes = 1 << 20;
inline constexpr std::size_t kShownReplyBytes = 2048;

std::string RequestAddress(const Settings& settings, std::string_view key);

struct ExchangeOutcome {
  bool accepted = false;
  std::string detail;  // the second log line: the reply, or why it failed
  int status = 0;      // the HTTP status; 0 when no answer came
  // Worth another try: no answer (no name, no connection, connection
  // closed, time-out), 429 or 5xx. Never a refusal.
  bool retry = false;
};
// The verdict on one exchange: accepted only for a 2xx answer whose body is
// a JSON object with a "code" (or "errno") of 0, or neither.
ExchangeOutcome JudgeExchange(int status, std::int32_t sendResult, const rt::Bytes& answer,
                              std::string_view key);
// One exchange with the relay, judged; writes nothing.
ExchangeOutcome Exchange(const AppContext& ctx, const std::string& key, const std::string& title,
                         const std::string& body);

// Seconds to wait before the next try after `tries` tries have failed
// worth retrying: 10, then 30; nullopt: no more tries.
std::optional<int> RetryDelaySeconds(int tries);
// A reply made safe for the terminal, on one line: the key masked in every
// form, then at most maxBytes of it (then a mark), line breaks and tabs as
// blanks and other control characters as "?".
std::string SafeReply(std::string_view reply, std::string_view key,
                      std::size_t maxBytes = kShownReplyBytes);

}  // namespace app
