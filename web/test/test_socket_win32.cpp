#include <winsock2.h>
#include <ws2tcpip.h>

#include "test_socket.h"

namespace web::testing::net {
namespace {

struct WinsockUser {
  WinsockUser() {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  }
  ~WinsockUser() { WSACleanup(); }
};

void UseWinsock() {
  static WinsockUser winsock;
}

SOCKET Raw(Socket s) {
  return static_cast<SOCKET>(s);
}

sockaddr_in Loopback(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<u_short>(port));
  return address;
}

}  // namespace

Socket ListenLoopback(int& port) {
  UseWinsock();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(0);
  int size = sizeof address;
  // A server that cannot listen says so through a port of 0.
  if (s == INVALID_SOCKET || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(s, 64) != 0 || getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    if (s != INVALID_SOCKET) closesocket(s);
    port = 0;
    return kNoSocket;
  }
  port = ntohs(address.sin_port);
  return static_cast<Socket>(s);
}

Socket Accept(Socket listener) {
  const SOCKET s = accept(Raw(listener), nullptr, nullptr);
  return s == INVALID_SOCKET ? kNoSocket : static_cast<Socket>(s);
}

// Closing the socket is what ends a pending accept here.
void StopListening(Socket listener) {
  closesocket(Raw(listener));
}
void CloseListener(Socket) {}

Socket ConnectLoopback(int port) {
  UseWinsock();
  const SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = Loopback(port);
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    closesocket(s);
    return kNoSocket;
  }
  return static_cast<Socket>(s);
}

std::size_t Receive(Socket s, char* buffer, std::size_t size, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Raw(s), &readable);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, &wait) != 1) return 0;
  const int n = recv(Raw(s), buffer, static_cast<int>(size), 0);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

bool SendAll(Socket s, std::string_view data) {
  while (!data.empty()) {
    const int n = send(Raw(s), data.data(), static_cast<int>(data.size()), 0);
    if (n <= 0) return false;
    data.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

int WaitReadable(Socket a, Socket b, int timeoutMs) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(Raw(a), &readable);
  FD_SET(Raw(b), &readable);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  if (select(0, &readable, nullptr, nullptr, &wait) <= 0) return 0;
  return (FD_ISSET(Raw(a), &readable) ? 1 : 0) | (FD_ISSET(Raw(b), &readable) ? 2 : 0);
}

void Shutdown(Socket s) {
  shutdown(Raw(s), SD_BOTH);
}

void Close(Socket s) {
  Shutdown(s);
  closesocket(Raw(s));
}

void Reset(Socket s) {
  const linger abort{1, 0};
  setsockopt(Raw(s), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&abort), sizeof(abort));
  closesocket(Raw(s));
}

}  // namespace web::testing::net
