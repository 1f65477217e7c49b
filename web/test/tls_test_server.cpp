#include "tls_test_server.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

namespace web::testing {
namespace {

// Paths as node (a Unix program) sees them, and as this test opens them:
// under Wine the Unix root is drive Z.
std::string Local(const std::string& unixPath) {
#ifdef _WIN32
  return "Z:" + unixPath;
#else
  return unixPath;
#endif
}

std::string CertFile(std::string_view name) {
  return std::string(WEB_TEST_CERT_DIR) + "/" + std::string(name);
}

bool StartNode(const std::string& portFile, const std::string& cert, const std::string& key,
               bool tls10) {
  const std::string args = "\"" + std::string(WEB_TEST_TLS_SERVER_SCRIPT) + "\" \"" + portFile +
                           "\" \"" + cert + "\" \"" + key + "\"" + (tls10 ? " tls10" : "");
#ifdef _WIN32
  std::string line = "\"" + Local(WEB_TEST_NODE) + "\" " + args;
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                      nullptr, &startup, &process)) {
    return false;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return true;
#else
  return std::system(
             ("'" + std::string(WEB_TEST_NODE) + "' " + args + " </dev/null >/dev/null 2>&1 &")
                 .c_str()) == 0;
#endif
}

}  // namespace

std::string TestRootCertificateFile() {
  return Local(CertFile("test-root.pem"));
}

TlsTestServer::TlsTestServer(Certificate certificate, Versions versions) {
  if (std::string_view(WEB_TEST_NODE).empty()) {
    error_ = "node not found (scripts/setup.sh installs nodejs)";
    return;
  }
  std::random_device random;
  portFile_ = std::string(WEB_TEST_DIR) + "/tls_port_" + std::to_string(random()) + ".txt";
  const char* name = certificate == Certificate::kTrusted ? "server" : "untrusted";
  if (!StartNode(portFile_, CertFile(std::string(name) + ".pem"),
                 CertFile(std::string(name) + ".key"), versions == Versions::kTls10Only)) {
    error_ = "node could not be started";
    return;
  }
  // Waiting for another process to be ready: bounded, and short when it is.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (port_ == 0 && std::chrono::steady_clock::now() < deadline) {
    std::ifstream file(Local(portFile_));
    if (!(file >> port_)) {
      port_ = 0;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  if (port_ == 0) error_ = "node wrote no port within 20 s";
}

TlsTestServer::~TlsTestServer() {
  if (portFile_.empty()) return;
  (void)std::remove(Local(portFile_).c_str());
  (void)std::remove(Local(portFile_ + ".requests").c_str());
}

int TlsTestServer::Requests() const {
  std::ifstream file(Local(portFile_ + ".requests"));
  int lines = 0;
  for (std::string line; std::getline(file, line);) ++lines;
  return lines;
}

std::string TlsTestServer::Url(std::string_view path) const {
  return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

}  // namespace web::testing
