#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdlib>
#include <cstring>

#include "local_http_server.h"
#include "runtime/text.h"

namespace web::testing {
namespace {

struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};

bool ReadRequest(SOCKET s, ReceivedRequest& request) {
  std::string data;
  char buffer[4096];
  std::size_t headEnd = std::string::npos;
  while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  const std::string head = data.substr(0, headEnd);
  const auto firstLine = head.find("\r\n");
  const std::string requestLine = head.substr(0, firstLine);
  const auto sp1 = requestLine.find(' '), sp2 = requestLine.rfind(' ');
  request.method = requestLine.substr(0, sp1);
  request.target = requestLine.substr(sp1 + 1, sp2 - sp1 - 1);
  request.head = firstLine == std::string::npos ? "" : head.substr(firstLine + 2);
  const std::size_t length =
      static_cast<std::size_t>(std::strtoul(request.Header("Content-Length").c_str(), nullptr, 10));
  request.body = data.substr(headEnd + 4);
  while (request.body.size() < length) {
    const int n = recv(s, buffer, sizeof buffer, 0);
    if (n <= 0) return false;
    request.body.append(buffer, static_cast<std::size_t>(n));
  }
  return true;
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

LocalHttpServer::LocalHttpServer(Handler handler) : handler_(std::move(handler)) {
  static WinsockUser winsock;
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(s, 16);
  int size = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  listener_ = s;
  thread_ = std::thread([this] { Serve(); });
}

LocalHttpServer::~LocalHttpServer() {
  closesocket(static_cast<SOCKET>(listener_));  // ends the accept loop
  thread_.join();
}

std::string LocalHttpServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<ReceivedRequest> LocalHttpServer::Requests() {
  const std::lock_guard lock(mutex_);
  return requests_;
}

void LocalHttpServer::Serve() {
  for (;;) {
    const SOCKET client = accept(static_cast<SOCKET>(listener_), nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    ReceivedRequest request;
    if (ReadRequest(client, request)) {
      {
        const std::lock_guard lock(mutex_);
        requests_.push_back(request);
      }
      const Answer answer = handler_(request);
      const std::string response =
          "HTTP/1.1 " + std::to_string(answer.status) +
          " Answer\r\nContent-Length: " + std::to_string(answer.body.size()) +
          "\r\nConnection: close\r\n" + answer.headers + "\r\n" + answer.body;
      send(client, response.data(), static_cast<int>(response.size()), 0);
    }
    shutdown(client, SD_BOTH);
    closesocket(client);
  }
}

}  // namespace web::testing
