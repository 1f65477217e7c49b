// The TLS server of tls_test_server.js (HTTP/2 and HTTP/1.1 on 127.0.0.1),
// run by node for the length of a test: cpp-httplib offers no HTTP/2.
#pragma once

#include <string>
#include <string_view>

namespace web::testing {

class TlsTestServer {
 public:
  TlsTestServer();   // starts node and waits (bounded) for its port
  ~TlsTestServer();  // asks it to end; it also ends by itself in two minutes
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  // Empty when it runs; otherwise why not.
  const std::string& error() const { return error_; }
  std::string Url(std::string_view path) const;

 private:
  int port_ = 0;
  std::string error_;
};

}  // namespace web::testing
