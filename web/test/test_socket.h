// The few socket calls the test servers need, over each platform's sockets.
// Every wait is bounded, so a silent peer ends a connection, never a test.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace web::testing::net {

using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// A listening socket on 127.0.0.1 and an ephemeral port.
Socket ListenLoopback(int& port);
// The next connection; kNoSocket once StopListening was called.
Socket Accept(Socket listener);
// Wakes an Accept in another thread; CloseListener follows once it returned.
void StopListening(Socket listener);
void CloseListener(Socket listener);

Socket ConnectLoopback(int port);
// Bytes read, at most size; 0 at the end, on error or after timeoutMs idle.
std::size_t Receive(Socket s, char* buffer, std::size_t size, int timeoutMs);
bool SendAll(Socket s, std::string_view data);
// Bit 1: a has data (or has ended), bit 2: b; 0 after timeoutMs.
int WaitReadable(Socket a, Socket b, int timeoutMs);
// Wakes calls blocked on s in other threads; the peer sees the end.
void Shutdown(Socket s);
void Close(Socket s);
// Closes s so that the peer sees a reset rather than an end.
void Reset(Socket s);

// A request as it came: the head up to its blank line, and as much of its
// Content-Length body (at most 1 MiB) as came before the peer ended or
// stayed idle for idleMs.
struct RequestBytes {
  std::string head, body;
  bool whole = false;  // the whole body came
};
// False when no whole head (at most 64 KiB) came.
bool ReadRequest(Socket s, int idleMs, RequestBytes& request);

}  // namespace web::testing::net
