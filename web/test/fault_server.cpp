#include "fault_server.h"

#include <algorithm>

namespace web::testing {
namespace {

// Bounds a wait for a request that never comes; stopping ends it sooner.
constexpr int kIdleMs = 30000;

}  // namespace

bool Connection::ReadRequest(std::string* head, std::string* body) {
  net::RequestBytes request;
  if (!ReadRequest(request) || !request.whole) return false;
  if (head) *head = std::move(request.head);
  if (body) *body = std::move(request.body);
  return true;
}

bool Connection::ReadRequest(net::RequestBytes& request) {
  if (!net::ReadRequest(socket_, kIdleMs, request)) return false;
  if (request.whole) {
    {
      // Under the lock, so that a waiter between its check and its wait
      // cannot miss the news.
      const std::lock_guard lock(server_.mutex_);
      ++server_.requests_;
    }
    server_.changed_.notify_all();
  }
  return true;
}

bool Connection::Send(std::string_view bytes) {
  {
    const std::lock_guard lock(server_.mutex_);
    if (server_.stopping_ || reset_) return false;
  }
  // Stopping shuts the socket down, which ends a send that waits.
  return net::SendAll(socket_, bytes);
}

bool Connection::Pause(int ms) {
  std::unique_lock lock(server_.mutex_);
  return !server_.changed_.wait_for(lock, std::chrono::milliseconds(ms),
                                    [this] { return server_.stopping_; });
}

void Connection::Reset() {
  const std::lock_guard lock(server_.mutex_);
  if (reset_) return;
  reset_ = true;
  // The server no longer closes it: its number may soon be another socket's.
  std::replace(server_.clients_.begin(), server_.clients_.end(), socket_, net::kNoSocket);
  net::Reset(socket_);
}

void Connection::Hold() {
  std::unique_lock lock(server_.mutex_);
  server_.changed_.wait(lock, [this] { return server_.stopping_; });
}

FaultServer::FaultServer(Behaviour behaviour) : behaviour_(std::move(behaviour)) {
  listener_ = net::ListenLoopback(port_);
  acceptor_ = std::thread([this] { Serve(); });
}

FaultServer::~FaultServer() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
    for (const net::Socket c : clients_) {
      if (c != net::kNoSocket) net::Shutdown(c);
    }
  }
  changed_.notify_all();
  net::StopListening(listener_);
  acceptor_.join();
  for (std::thread& t : threads_) t.join();
  for (const net::Socket c : clients_) {
    if (c != net::kNoSocket) net::Close(c);
  }
  net::CloseListener(listener_);
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
    const net::Socket client = net::Accept(listener_);
    if (client == net::kNoSocket) return;
    const std::lock_guard lock(mutex_);
    if (stopping_) {
      net::Close(client);
      return;
    }
    ++connections_;
    clients_.push_back(client);
    threads_.emplace_back([this, client] {
      Connection connection(*this, client);
      behaviour_(connection);
      const std::lock_guard held(mutex_);
      if (!connection.reset_) net::Shutdown(client);  // closed when the server ends
    });
  }
}

FaultServer::Behaviour FaultServer::Answer(std::string response) {
  return [response = std::move(response)](Connection& c) {
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

FaultServer::Behaviour FaultServer::ResetAfterRequest() {
  return [](Connection& c) {
    if (c.ReadRequest()) c.Reset();
  };
}

FaultServer::Behaviour FaultServer::Mute() {
  return [](Connection& c) { c.Hold(); };
}

}  // namespace web::testing
