#include "local_http_server.h"

#include <cstdlib>

#include "runtime/text.h"
#include "test_socket.h"

namespace web::testing {
namespace {

constexpr int kIdleMs = 10000;

// False when no whole head came; a body cut short is kept as it came.
bool ReadRequest(Connection& connection, ReceivedRequest& request) {
  net::RequestBytes bytes;
  if (!connection.ReadRequest(bytes)) return false;
  const auto firstLine = bytes.head.find("\r\n");
  const std::string requestLine = bytes.head.substr(0, firstLine);
  const auto sp1 = requestLine.find(' '), sp2 = requestLine.rfind(' ');
  request.method = requestLine.substr(0, sp1);
  request.target = sp1 == sp2 ? std::string() : requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  request.head = firstLine == std::string::npos ? "" : bytes.head.substr(firstLine + 2);
  request.body = std::move(bytes.body);  // what came is what the client sent
  return true;
}

// Relays bytes between the client and a port of 127.0.0.1 until one side
// ends, both stay silent for the idle time, or the server stops.
void Tunnel(Connection& connection, const std::string& target) {
  const auto colon = target.rfind(':');
  const std::string host = target.substr(0, colon);
  if (colon == std::string::npos || (host != "127.0.0.1" && host != "localhost")) {
    connection.Send("HTTP/1.1 403 Loopback Only\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const net::Socket upstream = net::ConnectLoopback(std::atoi(target.c_str() + colon + 1));
  if (upstream == net::kNoSocket) {
    connection.Send("HTTP/1.1 502 No Connection\r\nContent-Length: 0\r\n\r\n");
    return;
  }
  const net::Socket client = connection.socket();
  if (connection.Send("HTTP/1.1 200 Connection Established\r\n\r\n")) {
    char buffer[16384];
    for (;;) {
      const int ready = net::WaitReadable(client, upstream, kIdleMs);
      if (ready == 0) break;
      const net::Socket from = (ready & 1) ? client : upstream;
      const net::Socket to = from == client ? upstream : client;
      const std::size_t n = net::Receive(from, buffer, sizeof buffer, kIdleMs);
      if (n == 0 || !net::SendAll(to, std::string_view(buffer, n))) break;
    }
  }
  net::Close(upstream);
}

}  // namespace

std::string ReceivedRequest::Header(std::string_view name) const {
  for (const std::string& line : rt::SplitText(head, "\r\n")) {
    const auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    if (rt::EqualsIgnoreCase(line.substr(0, colon), name)) {
      return rt::TrimText(line.substr(colon + 1));
    }
  }
  return {};
}

int ReceivedRequest::HeaderCount(std::string_view name) const {
  int count = 0;
  for (const std::string& line : rt::SplitText(head, "\r\n")) {
    const auto colon = line.find(':');
    if (colon != std::string::npos && rt::EqualsIgnoreCase(line.substr(0, colon), name)) ++count;
  }
  return count;
}

LocalHttpServer::LocalHttpServer(Handler handler)
    : handler_(std::move(handler)), server_([this](Connection& c) { Serve(c); }) {}

std::vector<ReceivedRequest> LocalHttpServer::Requests() {
  const std::lock_guard lock(mutex_);
  return requests_;
}

void LocalHttpServer::Serve(Connection& connection) {
  ReceivedRequest request;
  if (!ReadRequest(connection, request)) return;
  {
    const std::lock_guard lock(mutex_);
    requests_.push_back(request);
  }
  const Answer answer = handler_(request);
  if (answer.hold) {
    connection.Hold();
  } else if (answer.tunnel && request.method == "CONNECT") {
    Tunnel(connection, request.target);
  } else if (!answer.raw.empty()) {
    connection.Send(answer.raw);
  } else {
    connection.Send("HTTP/1.1 " + std::to_string(answer.status) +
                    " Answer\r\nContent-Length: " + std::to_string(answer.body.size()) +
                    "\r\nConnection: close\r\n" + answer.headers + "\r\n" + answer.body);
  }
}

}  // namespace web::testing
