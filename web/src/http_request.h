// The HTTP request component: the members and the defaults of the platform's
// request object, over a transport that carries out one exchange at a time
// (libcurl on Linux, the platform's HTTP functions on Windows).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "runtime/text.h"
#include "web/automation.h"

namespace web {

// The most header bytes of one reply, interim replies included, and the
// most interim (1xx) replies before the final one: a server that goes on
// past either is not answering.
inline constexpr std::size_t kMaxReplyHeaderBytes = 64 * 1024;
inline constexpr int kMaxInterimReplies = 10;

struct HttpHeader {
  std::string name;   // UTF-8
  std::string value;  // UTF-8
};

// One exchange as the component hands it to its transport: wire texts in
// UTF-8, limits in milliseconds (0: none).
struct HttpExchange {
  std::string method{};
  std::string url{};
  std::string proxy{};  // empty: none
  std::vector<HttpHeader> headers{};
  std::string body{};
  long resolveMs = 0;
  long connectMs = 0;
  long sendMs = 0;
  long receiveMs = 0;
  long limitMs = 0;    // the whole exchange
  long sslIgnore = 0;  // kIgnore* certificate errors let pass
  std::size_t maxBody = SIZE_MAX;
};

struct HttpReply {
  ResultCode result = kOk;  // kOk: an answer came (its body perhaps cut at maxBody)
  bool overLimit = false;   // ended by the whole exchange's limit
  long status = 0;
  std::string statusText{};  // as received
  std::string headers{};     // header lines as received, each ending in CR LF
  rt::Bytes body{};
};

class HttpTransport {
 public:
  virtual ~HttpTransport() = default;
  // Carries out the exchange; returns once nothing of it runs any more
  // (or, where the platform cannot promise that, once its limit passed).
  virtual HttpReply Perform(const HttpExchange& exchange) = 0;
};

std::shared_ptr<Component> MakeHttpRequest(std::unique_ptr<HttpTransport> transport);

// The count behind AbandonedExchanges (web/web_request.h), kept by the
// transports that may leave an exchange running.
std::atomic<int>& AbandonedExchangeCount();

}  // namespace web
