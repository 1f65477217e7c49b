#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "test_socket.h"

namespace web::testing::net {
namespace {

int Raw(Socket s) {
  return static_cast<int>(s);
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

}  // namespace

Socket ListenLoopback(int& port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(0);
  socklen_t size = sizeof address;
  // A server that cannot listen says so through a port of 0.
  if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, 64) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (s >= 0) close(s);
    port = 0;
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return s;
}

Socket Accept(Socket listener) {
  const int s = accept4(Raw(listener), nullptr, nullptr, SOCK_CLOEXEC);
  return s < 0 ? kNoSocket : s;
}

// Shutting a listening socket down ends a pending accept; closing it would
// not, and would free its number while the accept still holds it.
void StopListening(Socket listener) {
  Shutdown(listener);
}
void CloseListener(Socket listener) {
  close(Raw(listener));
}

Socket ConnectLoopback(int port) {
  const int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address = Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(s);
    return kNoSocket;
  }
  return s;
}

std::size_t Receive(Socket s, char* buffer, std::size_t size, int timeoutMs) {
  pollfd p{Raw(s), POLLIN, 0};
  if (poll(&p, 1, timeoutMs) != 1) return 0;
  const ssize_t n = recv(Raw(s), buffer, size, 0);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool SendAll(Socket s, std::string_view data) {
  while (!data.empty()) {
    const ssize_t n = send(Raw(s), data.data(), data.size(), MSG_NOSIGNAL);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int WaitReadable(Socket a, Socket b, int timeoutMs) {
  pollfd p[2] = {{Raw(a), POLLIN, 0}, {Raw(b), POLLIN, 0}};
  if (poll(p, 2, timeoutMs) <= 0) return 0;
  return (p[0].revents ? 1 : 0) | (p[1].revents ? 2 : 0);
}

void Shutdown(Socket s) {
  shutdown(Raw(s), SHUT_RDWR);
}

void Close(Socket s) {
  Shutdown(s);
  close(Raw(s));
}

void Reset(Socket s) {
  const linger abort{1, 0};
  setsockopt(Raw(s), SOL_SOCKET, SO_LINGER, &abort, sizeof(abort));
  close(Raw(s));
}

}  // namespace web::testing::net
