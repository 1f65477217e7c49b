#include "web/web_request.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "local_http_server.h"
#include "runtime/codepage.h"
#include "winhttp_curl.h"

namespace web {
namespace {

using Strings = std::vector<std::string>;

const char* const kUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// ---------------------------------------------------------------------------
// Against a real server on 127.0.0.1.

using testing::Answer;
using testing::LocalHttpServer;
using testing::ReceivedRequest;

// One header of a request the server saw; "(absent)" when it has none.
std::string HeaderOf(const ReceivedRequest& seen, const char* name) {
  return seen.HeaderCount(name) == 0 ? "(absent)" : seen.Header(name);
}

std::string Text(const rt::Bytes& b) {
  return std::string(b.begin(), b.end());
}

class HttpServer : public ::testing::Test {
 protected:
  Answer Route(const ReceivedRequest& r) const {
    const auto text = [](std::string body, int status = 200) {
      return Answer{
          .status = status, .headers = "Content-Type: text/plain\r\n", .body = std::move(body)};
    };
    const std::string path = r.target.substr(0, r.target.find('?'));
    if (r.method == "POST" && path == "/echo") return text(r.body);
    if (r.method != "GET") return text("no such page", 404);
    if (path == "/hello") return text("hello");
    if (path == "/redirect") return {.status = 302, .headers = "Location: /final\r\n"};
    if (path == "/redirect-away") {
      return {
          .status = 302,
          .headers = "Location: http://localhost:" + std::to_string(server_.port()) + "/final\r\n"};
    }
    if (path == "/final") return text("final");
    if (path == "/cookies") {
      return {.headers =
                  "Set-Cookie: a=1; Path=/\r\nSet-Cookie: b=2\r\n"
                  "Set-Cookie: old=deleted\r\nContent-Type: text/plain\r\n",
              .body = "ok"};
    }
    if (path == "/missing") return text("nope", 404);
    if (path == "/hang") return {.hold = true};  // until the test ends
    return text("no such page", 404);
  }

  std::vector<ReceivedRequest> SeenRequests() { return server_.Requests(); }
  std::string Url(std::string_view path) const { return server_.Url(path); }

  LocalHttpServer server_{[this](const ReceivedRequest& r) { return Route(r); }};
};

// A request object that cannot be made is a failure said as such, never an
// empty answer that reads as success.
TEST(WebRequestTest, NoRequestObjectIsSaid) {
  RegisterComponent(kHttpRequestProgId, [] { return std::shared_ptr<Component>(); });
  std::int32_t sent = kOk;
  int status = 200;
  const rt::Bytes body =
      WebRequest({.url = "http://127.0.0.1:9/", .statusCode = &status, .sendResult = &sent});
  RegisterComponent(kHttpRequestProgId, nullptr);  // the program's own again
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(sent, kClassNotRegistered);
}

TEST_F(HttpServer, PostSendsTheDefaultHeadersAndUtf8Body) {
  const std::string url = Url("/echo");
  int status = 0;
  std::string returnedHeaders;
  const rt::Bytes body = WebRequest({.url = url,
                                     .method = 1,
                                     .bodyText = "text=提醒&desp=正文",
                                     .returnedHeaders = &returnedHeaders,
                                     .statusCode = &status});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(Text(body), rt::TextToUtf8("text=提醒&desp=正文"));
  EXPECT_NE(returnedHeaders.find("Content-Type: text/plain\r\n"), std::string::npos);
  EXPECT_EQ(returnedHeaders.find("HTTP/1.1"), std::string::npos);
  const auto seen = SeenRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].method, "POST");
  const auto value = [&](const char* name) {
    const int n = seen[0].HeaderCount(name);
    return n == 1 ? seen[0].Header(name) : "count " + std::to_string(n);
  };
  EXPECT_EQ(value("Accept"), "*/*");
  EXPECT_EQ(value("Referer"), url);
  EXPECT_EQ(value("Accept-Language"), "zh-cn");
  EXPECT_EQ(value("User-Agent"), kUserAgent);
  EXPECT_EQ(value("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen[0].HeaderCount("Expect"), 0);
  EXPECT_EQ(seen[0].HeaderCount("Connection"), 0);
}

TEST_F(HttpServer, GetSendsFourAndCallerHeaders) {
  std::string headers = "x-trace-id: 7\r\nConnection: keep-alive";
  const rt::Bytes body = WebRequest({.url = Url("/hello"), .headers = &headers});
  EXPECT_EQ(Text(body), "hello");
  const auto seen = SeenRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].HeaderCount("Content-Type"), 0);
  EXPECT_EQ(seen[0].HeaderCount("Accept-Language"), 1);
  EXPECT_EQ(HeaderOf(seen[0], "X-Trace-Id"), "7");
  EXPECT_EQ(seen[0].HeaderCount("Connection"), 0);
}

TEST_F(HttpServer, ErrorStatusComesWithItsBody) {
  int status = 0;
  const rt::Bytes body = WebRequest({.url = Url("/missing"), .statusCode = &status});
  EXPECT_EQ(status, 404);
  EXPECT_EQ(Text(body), "nope");
}

TEST_F(HttpServer, RedirectsFollowedUnlessTurnedOff) {
  int status = 0;
  EXPECT_EQ(Text(WebRequest({.url = Url("/redirect"), .statusCode = &status})), "final");
  EXPECT_EQ(status, 200);
  WebRequest({.url = Url("/redirect"), .statusCode = &status, .noRedirect = true});
  EXPECT_EQ(status, 302);
  const auto seen = SeenRequests();
  ASSERT_EQ(seen.size(), 3u);
  // Same host: the referring address goes along.
  EXPECT_EQ(seen[1].target, "/final");
  EXPECT_EQ(HeaderOf(seen[1], "Referer"), Url("/redirect"));
  EXPECT_EQ(seen[2].target, "/redirect");
}

TEST_F(HttpServer, RefererDoesNotFollowARedirectToAnotherHost) {
  int status = 0;
  std::string cookies = "k=1";
  const rt::Bytes body = WebRequest(
      {.url = Url("/redirect-away?key=SECRET"), .cookies = &cookies, .statusCode = &status});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(Text(body), "final");
  const auto seen = SeenRequests();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].HeaderCount("Referer"), 1);
  EXPECT_EQ(seen[1].target, "/final");
  EXPECT_EQ(seen[1].HeaderCount("Referer"), 0);
  EXPECT_EQ(seen[1].HeaderCount("Cookie"), 0);
  EXPECT_EQ(HeaderOf(seen[1], "User-Agent"), kUserAgent);
}

TEST_F(HttpServer, SetCookieCollectedAndMerged) {
  std::string cookies = "Cookie: old=0; c=3";
  std::string returned;
  WebRequest({.url = Url("/cookies"), .cookies = &cookies, .returnedCookies = &returned});
  EXPECT_EQ(returned, "a=1; b=2; c=3");
  EXPECT_EQ(cookies, "a=1; b=2; c=3");
  const auto seen = SeenRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(HeaderOf(seen[0], "Cookie"), "old=0; c=3");

  WebRequest({.url = Url("/cookies"), .returnedCookies = &returned});
  EXPECT_EQ(returned, "a=1; b=2; old=deleted");
}

TEST_F(HttpServer, AServerThatNeverAnswersEndsAtTheTimeout) {
  int status = -1;
  std::string returnedHeaders = "x";
  // The handler answers only when the test ends, so only the time-out can
  // end this call with nothing.
  const rt::Bytes body = WebRequest({.url = Url("/hang"),
                                     .returnedHeaders = &returnedHeaders,
                                     .statusCode = &status,
                                     .timeoutSeconds = 1});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(returnedHeaders, "");
  EXPECT_EQ(SeenRequests().size(), 1u);
}

TEST_F(HttpServer, ControlCharactersInTheUrlReachNoServer) {
  int status = -1;
  const rt::Bytes body =
      WebRequest({.url = Url("/hello") + "\r\nX-Injected: 1", .method = 1, .statusCode = &status});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(status, 0);
  std::string headers = "X-Value: a\nX-Injected: 1";
  WebRequest({.url = Url("/hello"), .headers = &headers});
  EXPECT_TRUE(SeenRequests().empty());
}

TEST_F(HttpServer, CallerObjectCarriesCookiesBetweenCalls) {
  AutomationObject http;
  ASSERT_TRUE(CreateAutomationObject(http, "WinHttp.WinHttpRequest.5.1"));
  WebRequest({.url = Url("/cookies"), .callerObject = &http});
  WebRequest({.url = Url("/hello"), .callerObject = &http});
  ReleaseAutomationObject(http);
  const auto seen = SeenRequests();
  ASSERT_EQ(seen.size(), 2u);
  const std::string sentCookies = HeaderOf(seen[1], "Cookie");
  EXPECT_NE(sentCookies.find("a=1"), std::string::npos);
  EXPECT_NE(sentCookies.find("b=2"), std::string::npos);
}

TEST(UnreachablePort, GivesNothing) {
  // Nothing listens on port 1 of the loopback address.
  const int port = 1;
  int status = -1;
  std::string returnedHeaders = "x", returnedCookies = "x";
  const rt::Bytes body = WebRequest({.url = "http://127.0.0.1:" + std::to_string(port) + "/",
                                     .returnedCookies = &returnedCookies,
                                     .returnedHeaders = &returnedHeaders,
                                     .statusCode = &status});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(returnedHeaders, "");
  EXPECT_EQ(returnedCookies, "");
}

// Certificates for the HTTPS tests: a test authority and a server
// certificate for 127.0.0.1 and localhost that it signed.
class TestCertificates {
 public:
  static const TestCertificates& Get() {
    static const TestCertificates certs;
    return certs;
  }
  std::filesystem::path dir, caFile, certFile, keyFile;
  bool ok = false;

 private:
  ~TestCertificates() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
  TestCertificates() {
    std::random_device rd;
    dir = std::filesystem::temp_directory_path() / ("web_test_" + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    caFile = dir / "ca.pem";
    certFile = dir / "server.pem";
    keyFile = dir / "server.key";
    std::ofstream(dir / "ext.cnf") << "subjectAltName=IP:127.0.0.1,DNS:localhost\n";
    const std::string d = dir.string();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    const std::string script =
        "cd '" + d + "' && openssl req -x509" + ec +
        " -keyout ca.key -out ca.pem -days 2 -subj '/CN=Reminder Test CA' && openssl req" + ec +
        " -keyout server.key -out server.csr -subj '/CN=127.0.0.1' && openssl x509 -req -in "
        "server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 -extfile "
        "ext.cnf";
    ok = std::system(("(" + script + ") >/dev/null 2>&1").c_str()) == 0;
  }
};

// The test servers speak no TLS, and the node TLS server can neither echo a
// body nor tell whether a request reached it: cpp-httplib serves here.
class HttpsServer : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto& certs = TestCertificates::Get();
    ASSERT_TRUE(certs.ok) << "openssl could not make the test certificates";
    server_ = std::make_unique<httplib::SSLServer>(certs.certFile.c_str(), certs.keyFile.c_str());
    ASSERT_TRUE(server_->is_valid());
    server_->Get("/hello", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      res.set_content("hello", "text/plain");
    });
    server_->Post("/echo", [this](const httplib::Request& req, httplib::Response& res) {
      Record(req);
      res.set_content(req.body, "text/plain");
    });
    port_ = server_->bind_to_any_port("127.0.0.1");
    ASSERT_GT(port_, 0);
    thread_ = std::thread([this] { server_->listen_after_bind(); });
    // A stop before the server runs would be lost, and the join would hang.
    while (!server_->is_running()) std::this_thread::yield();
  }
  void TearDown() override {
    if (thread_.joinable()) {
      server_->stop();
      thread_.join();
    }
    SetTrustedAuthorityFileForTesting("");
  }
  void Record(const httplib::Request& req) {
    const std::lock_guard lock(mutex_);
    seen_.push_back(req.path);
  }
  Strings SeenRequests() {
    const std::lock_guard lock(mutex_);
    return seen_;
  }
  std::string Url(std::string_view path) const {
    return "https://127.0.0.1:" + std::to_string(port_) + std::string(path);
  }

  std::unique_ptr<httplib::SSLServer> server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  Strings seen_;
};

TEST_F(HttpsServer, UntrustedCertificateIsRefused) {
  int status = -1;
  const rt::Bytes body = WebRequest({.url = Url("/hello"), .statusCode = &status});
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(SeenRequests().empty());
}

TEST_F(HttpsServer, TrustedCertificateIsAccepted) {
  SetTrustedAuthorityFileForTesting(TestCertificates::Get().caFile.string());
  int status = 0;
  const rt::Bytes body =
      WebRequest({.url = Url("/echo"), .method = 1, .bodyText = "x=1", .statusCode = &status});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(Text(body), "x=1");
}

TEST_F(HttpsServer, OnlyTheExplicitArgumentIgnoresCertificateErrors) {
  int status = 0;
  const rt::Bytes body =
      WebRequest({.url = Url("/hello"), .statusCode = &status, .ignoreCertificateErrors = true});
  EXPECT_EQ(status, 200);
  EXPECT_EQ(Text(body), "hello");
}

}  // namespace
}  // namespace web
