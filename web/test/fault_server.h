// A raw TCP server on 127.0.0.1: each connection runs a scripted behaviour on
// its own thread. Tests of how exchanges end script misbehaviour (silent,
// trickling, endless, closing...); LocalHttpServer scripts a plain answer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "test_socket.h"

namespace web::testing {

class FaultServer;

// One accepted connection, as a behaviour sees it.
class Connection {
 public:
  // Reads up to the end of the request (head and Content-Length body);
  // false when the peer went away first. Returns the head in *head and the
  // body in *body.
  bool ReadRequest(std::string* head = nullptr, std::string* body = nullptr);
  // The same, also true for a whole head whose body ended early.
  bool ReadRequest(net::RequestBytes& request);
  // Sends all bytes; false when the peer is gone or the server stops.
  bool Send(std::string_view bytes);
  // Waits up to ms milliseconds; false when the server stops meanwhile.
  bool Pause(int ms);
  // Waits until the server stops.
  void Hold();
  // Ends the connection with a reset; nothing can be sent after it.
  void Reset();
  // For relaying bytes; stopping the server shuts it down.
  net::Socket socket() const { return socket_; }

 private:
  friend class FaultServer;
  Connection(FaultServer& server, net::Socket socket) : server_(server), socket_(socket) {}
  FaultServer& server_;
  net::Socket socket_;
  bool reset_ = false;
};

class FaultServer {
 public:
  using Behaviour = std::function<void(Connection&)>;
  explicit FaultServer(Behaviour behaviour);
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  int port() const { return port_; }
  std::string Url(std::string_view path = "/", std::string_view scheme = "http") const;
  int Connections() const { return connections_.load(); }
  int Requests() const { return requests_.load(); }  // requests read whole
  // Waits (up to a bound) until n requests were read whole.
  bool WaitForRequests(int n);

  // Common behaviours.
  static Behaviour Answer(std::string response);  // a whole raw response
  static Behaviour Silent();                      // reads the request, never answers
  static Behaviour Trickle(int everyMs);          // a head, then one body byte at a time
  static Behaviour Endless();                     // a head without length, then data for ever
  static Behaviour Huge(std::size_t bytes);       // a 200 whose body has that many bytes
  static Behaviour CloseAfterRequest();           // reads the request, then closes
  static Behaviour ResetAfterRequest();           // reads the request, then resets
  static Behaviour Mute();                        // reads nothing, says nothing

 private:
  friend class Connection;
  void Serve();

  Behaviour behaviour_;
  net::Socket listener_;
  int port_ = 0;
  std::atomic<int> connections_{0};
  std::atomic<int> requests_{0};
  std::mutex mutex_;
  std::condition_variable changed_;
  bool stopping_ = false;
  std::vector<net::Socket> clients_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace web::testing
