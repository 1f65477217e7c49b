#include "fault_server.h"

#include <algorithm>
#include <cstdlib>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using Socket = SOCKET;
using SockLen = int;
constexpr int kSendFlags = 0;
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using Socket = int;
using SockLen = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;
#endif

namespace web::testing {
namespace {

#ifdef _WIN32
struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};
void CloseSocket(Socket s) {
  closesocket(s);
}
constexpr int kShutBoth = SD_BOTH;
#else
void CloseSocket(Socket s) {
  close(s);
}
constexpr int kShutBoth = SHUT_RDWR;
#endif

Socket S(std::uintptr_t s) {
  return static_cast<Socket>(s);
}

}  // namespace

bool Connection::ReadRequest(std::string* head) {
  std::string data;
  char buffer[4096];
  std::size_t end;
  while ((end = data.find("\r\n\r\n")) == std::string::npos) {
    if (data.size() > (1 << 16)) return false;
    const int n = static_cast<int>(recv(S(socket_), buffer, sizeof buffer, 0));
    if (n <= 0) return false;
    data.append(buffer, static_cast<std::size_t>(n));
  }
  std::size_t length = 0;
  for (std::size_t at = 0; at < end;) {
    const std::size_t next = data.find("\r\n", at);
    const std::string line = data.substr(at, next - at);
    if (line.size() > 15 && (line[0] == 'C' || line[0] == 'c') &&
        line.substr(1, 14) == "ontent-Length:") {
      length = std::strtoul(line.c_str() + 15, nullptr, 10);
    }
    at = next + 2;
  }
  std::size_t have = data.size() - end - 4;
  while (have < length) {
    const int n = static_cast<int>(recv(S(socket_), buffer, sizeof buffer, 0));
    if (n <= 0) return false;
    have += static_cast<std::size_t>(n);
  }
  if (head) *head = data.substr(0, end);
  ++server_.requests_;
  server_.changed_.notify_all();
  return true;
}

bool Connection::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    {
      const std::lock_guard lock(server_.mutex_);
      if (server_.stopping_) return false;
    }
    const int n = static_cast<int>(
        send(S(socket_), bytes.data(), static_cast<int>(bytes.size()), kSendFlags));
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

bool Connection::Pause(int ms) {
  std::unique_lock lock(server_.mutex_);
  return !server_.changed_.wait_for(lock, std::chrono::milliseconds(ms),
                                    [this] { return server_.stopping_; });
}

void Connection::Hold() {
  std::unique_lock lock(server_.mutex_);
  server_.changed_.wait(lock, [this] { return server_.stopping_; });
}

FaultServer::FaultServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
#ifdef _WIN32
  static WinsockUser winsock;
#endif
  const Socket s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
  listen(s, 64);
  SockLen size = sizeof address;
  getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
  port_ = ntohs(address.sin_port);
  listener_ = static_cast<std::uintptr_t>(s);
  acceptor_ = std::thread([this] { Serve(); });
}

FaultServer::~FaultServer() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    for (std::uintptr_t c : clients_) shutdown(S(c), kShutBoth);
  }
  changed_.notify_all();
  shutdown(S(listener_), kShutBoth);
  CloseSocket(S(listener_));  // ends the accept loop
  acceptor_.join();
  for (std::thread& t : threads_) t.join();
  for (std::uintptr_t c : clients_) CloseSocket(S(c));
}

std::string FaultServer::Url(std::string_view path, std::string_view scheme) const {
  return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

bool FaultServer::WaitForRequests(int n) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return requests_ >= n; });
}

void FaultServer::Serve() {
  for (;;) {
    const Socket client = accept(S(listener_), nullptr, nullptr);
    const std::lock_guard lock(mutex_);
#ifdef _WIN32
    if (client == INVALID_SOCKET) return;
#else
    if (client < 0) return;
#endif
    if (stopping_) {
      CloseSocket(client);
      return;
    }
    ++connections_;
    const auto c = static_cast<std::uintptr_t>(client);
    clients_.push_back(c);
    threads_.emplace_back([this, c] {
      Connection connection(*this, c);
      behaviour_(connection);
      shutdown(S(c), kShutBoth);
    });
  }
}

FaultServer::Behaviour FaultServer::Answer(std::string response) {
  return [response](Connection& c) {
    if (c.ReadRequest()) c.Send(response);
  };
}

FaultServer::Behaviour FaultServer::Silent() {
  return [](Connection& c) {
    if (c.ReadRequest()) c.Hold();
  };
}

FaultServer::Behaviour FaultServer::Trickle(int everyMs) {
  return [everyMs](Connection& c) {
    if (!c.ReadRequest() || !c.Send("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n")) return;
    while (c.Pause(everyMs) && c.Send("x")) {
    }
  };
}

FaultServer::Behaviour FaultServer::Endless() {
  return [](Connection& c) {
    if (!c.ReadRequest() || !c.Send("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n")) return;
    const std::string chunk(1 << 16, 'x');
    while (c.Send(chunk)) {
    }
  };
}

FaultServer::Behaviour FaultServer::Huge(std::size_t bytes) {
  return [bytes](Connection& c) {
    if (!c.ReadRequest()) return;
    if (!c.Send("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(bytes) + "\r\n\r\n")) return;
    const std::string chunk(1 << 16, 'x');
    for (std::size_t sent = 0; sent < bytes; sent += chunk.size()) {
      if (!c.Send(std::string_view(chunk).substr(0, std::min(chunk.size(), bytes - sent)))) return;
    }
  };
}

FaultServer::Behaviour FaultServer::CloseAfterRequest() {
  return [](Connection& c) { c.ReadRequest(); };
}

FaultServer::Behaviour FaultServer::Mute() {
  return [](Connection& c) { c.Hold(); };
}

}  // namespace web::testing
