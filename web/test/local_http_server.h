// A small HTTP/1.1 server on 127.0.0.1 for tests that must see exactly what
// reaches a server: one connection at a time, "Connection: close" answers,
// raw answers for malformed replies, and a CONNECT tunnel to act as a proxy.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

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
};

class LocalHttpServer {
 public:
  using Handler = std::function<Answer(const ReceivedRequest&)>;
  explicit LocalHttpServer(Handler handler);
  ~LocalHttpServer();
  LocalHttpServer(const LocalHttpServer&) = delete;
  LocalHttpServer& operator=(const LocalHttpServer&) = delete;

  int port() const { return port_; }
  std::string Url(std::string_view path = "/") const;
  std::vector<ReceivedRequest> Requests();
  // Connections accepted, whether or not a request could be read from them.
  int Connections();

 private:
  void Serve();
  Handler handler_;
  std::intptr_t listener_;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  int connections_ = 0;
  std::thread thread_;
};

}  // namespace web::testing
