// A small HTTP/1.1 server on 127.0.0.1 for tests that must see exactly what
// reaches a server: each connection one request and a "Connection: close"
// answer from the handler (on the connection's own thread), raw answers for
// malformed replies, held requests, and a CONNECT tunnel to act as a proxy.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "fault_server.h"

namespace web::testing {

struct ReceivedRequest {
  std::string method, target, head, body;  // head: the header lines as sent
  // The value of a header (first one, name without regard to case), or "".
  std::string Header(std::string_view name) const;
  // How many lines carry that header.
  int HeaderCount(std::string_view name) const;
};

struct Answer {
  int status = 200;
  std::string headers{};  // extra lines, each ending in "\r\n"
  std::string body{};
  std::string raw{};    // when not empty: sent as it is, instead of the above
  bool tunnel = false;  // for a CONNECT to 127.0.0.1: relay bytes both ways
  bool hold = false;    // no answer: the connection stays open until the end
};

class LocalHttpServer {
 public:
  // Called on the connection's thread: connections may overlap.
  using Handler = std::function<Answer(const ReceivedRequest&)>;
  explicit LocalHttpServer(Handler handler);
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return server_.port(); }
  std::string Url(std::string_view path = "/") const { return server_.Url(path); }
  // In the order their heads came.
  std::vector<ReceivedRequest> Requests();
  // Connections accepted, whether or not a request could be read from them.
  int Connections() const { return server_.Connections(); }

 private:
  void Serve(Connection& connection);
  Handler handler_;
  std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  FaultServer server_;  // last: its threads end before the rest goes
};

}  // namespace web::testing
