// The TLS server of tls_test_server.js (HTTP/2 and HTTP/1.1 on 127.0.0.1),
// run by node for the length of a test: cpp-httplib offers no HTTP/2. Under
// Wine the test starts the (Linux) node as Wine starts any Unix program.
#pragma once

#include <string>
#include <string_view>

namespace web::testing {

class TlsTestServer {
 public:
  // kTrusted: issued by certs/test-root.pem, which the test set-up makes
  // trusted (Wine's machine store; libcurl through a test hook).
  // kUntrusted: self-signed, refused by any client that checks.
  enum class Certificate { kTrusted, kUntrusted };
  // kTls10Only: a server too old to be talked to.
  enum class Versions { kCurrent, kTls10Only };

  explicit TlsTestServer(Certificate certificate = Certificate::kUntrusted,
                         Versions versions = Versions::kCurrent);
  ~TlsTestServer();  // removes the port file, which ends the server
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  // Empty when it runs; otherwise why not.
  const std::string& error() const { return error_; }
  std::string Url(std::string_view path) const;
  // Requests that reached it.
  int Requests() const;

 private:
  int port_ = 0;
  std::string portFile_;
  std::string error_;
};

// The PEM file of the authority that issued the trusted certificate.
std::string TestRootCertificateFile();

}  // namespace web::testing
