#include "tls_test_server.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#include "web/web_request.h"

namespace web::testing {
namespace {

std::string PortFile() {
  std::random_device random;
  return std::string(WEB_TEST_DIR) + "/tls_port_" + std::to_string(random()) + ".txt";
}

bool StartNode(const std::string& portFile) {
  return std::system(("'" + std::string(WEB_TEST_NODE) + "' '" + WEB_TEST_TLS_SERVER_SCRIPT +
                      "' '" + portFile + "' </dev/null >/dev/null 2>&1 &")
                         .c_str()) == 0;
}

}  // namespace

TlsTestServer::TlsTestServer() {
  if (std::string_view(WEB_TEST_NODE).empty()) {
    error_ = "node not found (scripts/setup.sh installs nodejs)";
    return;
  }
  const std::string portFile = PortFile();
  if (!StartNode(portFile)) {
    error_ = "node could not be started";
    return;
  }
  // Waiting for another process to be ready: bounded, and short when it is.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
    std::ifstream file(portFile);
    if (!(file >> port_)) {
      port_ = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  std::remove(portFile.c_str());
  if (port_ == 0) error_ = "node wrote no port within 20 s";
}

TlsTestServer::~TlsTestServer() {
  if (port_ == 0) return;
  WebRequest({.url = Url("/quit"), .timeoutSeconds = 5, .ignoreCertificateErrors = true});
}

std::string TlsTestServer::Url(std::string_view path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

}  // namespace web::testing
