// A small HTTP/1.1 server on 127.0.0.1 for tests where no server library is
// at hand: one connection at a time, "Connection: close" answers.
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace web::testing {

struct ReceivedRequest {
  std::string method, target, head, body;  // head: the header lines as sent
  // The value of a header (first one, name without regard to case), or "".
  std::string Header(std::string_view name) const;
};

struct Answer {
  int status = 200;
  std::string headers;  // extra lines, each ending in "\r\n"
  std::string body;
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

 private:
  void Serve();
  Handler handler_;
  std::uintptr_t listener_;
  int port_ = 0;
  std::mutex mutex_;
  std::vector<ReceivedRequest> requests_;
  std::thread thread_;
};

}  // namespace web::testing
