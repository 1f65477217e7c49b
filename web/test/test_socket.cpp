#include <algorithm>
#include <cstdlib>

#include "runtime/text.h"
#include "test_socket.h"

namespace web::testing::net {
namespace {

constexpr std::size_t kMaxHead = 64 * 1024;
constexpr std::size_t kMaxBody = 1024 * 1024;

std::size_t ContentLength(const std::string& head) {
  for (const std::string& line : rt::SplitText(head, "\r\n")) {
    const auto colon = line.find(':');
    if (colon != std::string::npos &&
        rt::EqualsIgnoreCase(line.substr(0, colon), "Content-Length")) {
      return std::strtoul(line.c_str() + colon + 1, nullptr, 10);
    }
  }
  return 0;
}

}  // namespace

bool ReadRequest(Socket s, int idleMs, RequestBytes& request) {
  std::string data;
  char buffer[4096];
  std::size_t headEnd;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > kMaxHead) return false;
    const std::size_t n = Receive(s, buffer, sizeof buffer, idleMs);
    if (n == 0) return false;
    data.append(buffer, n);
  }
  request.head = data.substr(0, headEnd);
  request.body = data.substr(headEnd + 4);
  const std::size_t length = ContentLength(request.head);
  const std::size_t kept = std::min(length, kMaxBody);
  while (request.body.size() < kept) {
    const std::size_t n = Receive(s, buffer, sizeof buffer, idleMs);
    if (n == 0) break;
    request.body.append(buffer, n);
  }
  request.whole = request.body.size() >= length;
  return true;
}

}  // namespace web::testing::net
