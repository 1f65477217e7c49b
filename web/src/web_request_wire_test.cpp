// WebRequest against servers that record what reaches them, on both
// platforms: the platform's own request object on Windows, the libcurl
// component elsewhere.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>
#include <vector>

#include "automation_platform.h"
#include "fault_server.h"
#include "local_http_server.h"
#include "tls_test_server.h"
#include "web/percent_encoding.h"
#include "web/web_request.h"
#ifndef _WIN32
#include "winhttp_curl.h"
#endif

namespace web {
namespace {

using testing::Answer;
using testing::FaultServer;
using testing::LocalHttpServer;
using testing::ReceivedRequest;
using testing::TlsTestServer;
using Certificate = TlsTestServer::Certificate;

std::string Text(const rt::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

Answer Landed(const ReceivedRequest&) {
  return Answer{200, "", "landed"};
}

// What one exchange gave back.
struct Outcome {
  std::string body, cookies, headers;
  int status = -1;
  std::int32_t sent = 1;
};

Outcome Exchange(WebRequestArgs args) {
  Outcome out;
  args.returnedCookies = &out.cookies;
  args.returnedHeaders = &out.headers;
  args.statusCode = &out.status;
  args.sendResult = &out.sent;
  if (!args.timeoutSeconds) args.timeoutSeconds = 5;
  out.body = Text(WebRequest(args));
  return out;
}

TEST(WebRequestWire, NoOtherSchemeFirstOrOnARedirect) {
  // A listener for the schemes that would reach a port: it must see nothing.
  LocalHttpServer listener(Landed);
  const std::string port = std::to_string(listener.port());
  const auto file = std::filesystem::temp_directory_path() /
                    ("web_wire_" + std::to_string(std::random_device()()) + ".txt");
  std::ofstream(file) << "local secret";
  std::string fileUrl = "file:///" + file.generic_string();
  if (fileUrl.starts_with("file:////")) fileUrl.erase(7, 1);
  const std::string targets[] = {
      fileUrl,
      "gopher://127.0.0.1:" + port + "/_PING%0D%0A",
      "dict://127.0.0.1:" + port + "/info",
      "ftp://127.0.0.1:" + port + "/x",
  };
  for (const std::string& target : targets) {
    LocalHttpServer server([&target](const ReceivedRequest&) {
      return Answer{302, "Location: " + target + "\r\n", "moved"};
    });
    const Outcome redirected = Exchange({.url = server.Url("/go")});
    EXPECT_EQ(redirected.body, "") << target;
    EXPECT_EQ(redirected.status, 0) << target;
    EXPECT_EQ(redirected.headers, "") << target;
    EXPECT_EQ(redirected.sent, kHttpRedirectRefused) << target;
    EXPECT_EQ(server.Requests().size(), 1u) << target;

    const Outcome direct = Exchange({.url = target});
    EXPECT_EQ(direct.body, "") << target;
    EXPECT_EQ(direct.status, 0) << target;
  }
  EXPECT_EQ(listener.Connections(), 0);
  std::filesystem::remove(file);
}

TEST(WebRequestWire, RelativeLocationsResolvedAsRfc3986Says) {
  struct Case {
    std::string location, target;
  } cases[] = {
      {"/final?next=https://x/y", "/final?next=https://x/y"},
      {"?x=1", "/dir/sub/go?x=1"},
      {"#frag", "/dir/sub/go?q=1"},
      {"/fin al", "/fin%20al"},
      {"../up", "/dir/up"},
      {"g;x=1/../y", "/dir/sub/y"},
      {"//{host}/net", "/net"},
  // UTF-8 bytes in the header (Wine's object reads them in code page 936).
#ifndef _WIN32
      {"/\xE8\xB7\xAF", "/%E8%B7%AF"},
#endif
  };
  for (const Case& c : cases) {
    std::atomic<int> seen{0};
    LocalHttpServer server([&](const ReceivedRequest& r) {
      if (seen++ > 0) return Landed(r);
      std::string location = c.location;
      if (const auto p = location.find("{host}"); p != std::string::npos) {
        location.replace(p, 6, r.Header("Host"));
      }
      return Answer{302, "Location: " + location + "\r\n", "moved"};
    });
    const Outcome out = Exchange({.url = server.Url("/dir/sub/go?q=1")});
    EXPECT_EQ(out.body, "landed") << c.location;
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u) << c.location;
    EXPECT_EQ(requests[1].target, c.target) << c.location;
  }
}

TEST(WebRequestWire, OneCookieHeaderOnASameOriginHop) {
  LocalHttpServer server([](const ReceivedRequest& r) {
    if (r.target == "/set")
      return Answer{302, "Location: /next\r\nSet-Cookie: s=1; Path=/\r\n", ""};
    return Landed(r);
  });
  std::string cookies = "c=2";
  EXPECT_EQ(Exchange({.url = server.Url("/set"), .cookies = &cookies}).body, "landed");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].HeaderCount("Cookie"), 1);
  EXPECT_EQ(requests[1].HeaderCount("Cookie"), 1) << requests[1].head;
  const std::string sent = requests[1].Header("Cookie");
  EXPECT_NE(sent.find("s=1"), std::string::npos) << sent;
  EXPECT_NE(sent.find("c=2"), std::string::npos) << sent;
}

TEST(WebRequestWire, BareLineFeedHeadersSplitIntoLines) {
  LocalHttpServer server([](const ReceivedRequest&) {
    return Answer{.raw =
                      "HTTP/1.1 200 OK\nSet-Cookie: a=1\nX-After: 2\nSet-Cookie: b=2; Path=/\n"
                      "Content-Length: 2\nConnection: close\n\nok"};
  });
  const Outcome out = Exchange({.url = server.Url("/")});
  EXPECT_EQ(out.body, "ok");
  EXPECT_EQ(out.cookies, "a=1; b=2");
  EXPECT_NE(out.headers.find("X-After: 2\r\n"), std::string::npos) << out.headers;
  for (std::size_t i = 0; i < out.headers.size(); ++i) {
    if (out.headers[i] == '\n') {
      EXPECT_TRUE(i > 0 && out.headers[i - 1] == '\r') << i;
    }
  }
}

TEST(WebRequestWire, AddressBytesAboveAsciiArePercentEncoded) {
  LocalHttpServer server(Landed);
  // The address is program text (code page 936); it goes out as UTF-8.
  EXPECT_EQ(Exchange({.url = server.Url("/路径?q=值")}).body, "landed");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].target, "/%E8%B7%AF%E5%BE%84?q=%E5%80%BC");
}

TEST(WebRequestWire, CallersContentLengthNeverSent) {
  LocalHttpServer server(Landed);
  std::string withoutBody = "Content-Length: 5";
  const Outcome get = Exchange({.url = server.Url("/"), .headers = &withoutBody});
  EXPECT_EQ(get.status, 200);
  std::string wrongLength = "Content-Length: 10";
  const Outcome post =
      Exchange({.url = server.Url("/"), .method = 1, .bodyText = "abc", .headers = &wrongLength});
  EXPECT_EQ(post.status, 200);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  const std::string length = requests[0].Header("Content-Length");
  EXPECT_TRUE(length.empty() || length == "0") << requests[0].head;
  EXPECT_EQ(requests[1].Header("Content-Length"), "3");
  EXPECT_EQ(requests[1].body, "abc");
}

TEST(WebRequestWire, OnlyAnHttpProxy) {
  LocalHttpServer origin(Landed), socks(Landed);
  const Outcome out = Exchange(
      {.url = origin.Url("/"), .proxy = "socks5://127.0.0.1:" + std::to_string(socks.port())});
  EXPECT_EQ(out.body, "");
  EXPECT_EQ(out.status, 0);
  // Neither through the proxy nor around it.
  EXPECT_EQ(socks.Connections(), 0);
  EXPECT_EQ(origin.Connections(), 0);
}

// Against the TLS test server, on both platforms: Wine's request object
// trusts the test authority because the test set-up added it to the
// prefix's machine root store; libcurl is pointed at it by a test hook.

// The test authority trusted for the length of a test.
class TrustedRoot {
 public:
  TrustedRoot() {
#ifndef _WIN32
    SetTrustedAuthorityFileForTesting(testing::TestRootCertificateFile());
#endif
  }
  ~TrustedRoot() {
#ifndef _WIN32
    SetTrustedAuthorityFileForTesting("");
#endif
  }
  TrustedRoot(const TrustedRoot&) = delete;
  TrustedRoot& operator=(const TrustedRoot&) = delete;
};

bool IsCertificateRefusal(std::int32_t code) {
  for (const ResultCode c :
       {kHttpCertificateAuthorityInvalid, kHttpCertificateNameInvalid, kHttpCertificateDateInvalid,
        kHttpCertificateWrongUsage, kHttpSecureInvalidCertificate}) {
    if (code == c) return true;
  }
  return false;
}

TEST(WebRequestWire, HttpsRelayVerdictsCrossATrustedCertificate) {
  const TrustedRoot trusted;
  TlsTestServer tls(Certificate::kTrusted);
  ASSERT_EQ(tls.error(), "");
  for (const std::string json :
       {R"({"code":0})", R"({"code":40001,"message":"quota used up"})", R"({"errno":0})"}) {
    const Outcome out = Exchange({.url = tls.Url("/json?body=" + PercentEncode(json)),
                                  .method = 1,
                                  .bodyText = "text=t&desp=b",
                                  .deadlineSeconds = 10});
    EXPECT_EQ(out.sent, kOk) << json;
    EXPECT_EQ(out.status, 200) << json;
    EXPECT_EQ(out.body, json);
  }
}

TEST(WebRequestWire, HttpsUntrustedCertificateRefused) {
  TlsTestServer tls(Certificate::kUntrusted);
  ASSERT_EQ(tls.error(), "");
  const Outcome out =
      Exchange({.url = tls.Url("/json?body=x"), .method = 1, .bodyText = "key=SECRET"});
  EXPECT_EQ(out.sent, kHttpCertificateAuthorityInvalid) << std::hex << out.sent;
  EXPECT_EQ(out.status, 0);
  EXPECT_EQ(out.body, "");
}

TEST(WebRequestWire, HttpsNeverRedirectsToPlainHttp) {
  const TrustedRoot trusted;
  TlsTestServer tls(Certificate::kTrusted);
  ASSERT_EQ(tls.error(), "");
  LocalHttpServer plain(Landed);
  for (const int status : {301, 302, 303, 307, 308}) {
    const Outcome out = Exchange(
        {.url = tls.Url("/to?status=" + std::to_string(status) + "&u=" + plain.Url("/landed")),
         .method = 1,
         .bodyText = "key=SECRET"});
    EXPECT_EQ(out.body, "") << status;
    EXPECT_EQ(out.status, 0) << status;
    EXPECT_EQ(out.sent, kHttpRedirectRefused) << status;
  }
  EXPECT_EQ(plain.Connections(), 0);

  // The other way is fine.
  LocalHttpServer up([&tls](const ReceivedRequest&) {
    return Answer{302, "Location: " + tls.Url("/") + "\r\n", ""};
  });
  const Outcome upgraded = Exchange({.url = up.Url("/")});
  EXPECT_EQ(upgraded.status, 200);
  EXPECT_EQ(upgraded.body, "HTTP/1.1");
}

#ifndef _WIN32
// Wine's object goes straight to an origin on the loopback address,
// whatever the proxy.
TEST(WebRequestWire, ProxyCredentialsGoToTheProxyOnlyOverHttps) {
  const TrustedRoot trusted;
  TlsTestServer origin(Certificate::kTrusted);
  ASSERT_EQ(origin.error(), "");
  LocalHttpServer proxy([](const ReceivedRequest&) { return Answer{.tunnel = true}; });
  const Outcome out = Exchange({.url = origin.Url("/headers"),
                                .proxy = "127.0.0.1:" + std::to_string(proxy.port()),
                                .proxyUser = "user",
                                .proxyPassword = "pw"});
  EXPECT_EQ(out.status, 200);
  EXPECT_NE(rt::FindText(out.body, "User-Agent:", 1, true), -1) << out.body;
  EXPECT_EQ(rt::FindText(out.body, "Proxy-Authorization", 1, true), -1) << out.body;
  const auto requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].method, "CONNECT");
  EXPECT_EQ(requests[0].Header("Proxy-Authorization"), "Basic dXNlcjpwdw==");
}
#endif

TEST(WebRequestWire, CookiesOfAnHttp2CapableTlsServer) {
  const TrustedRoot trusted;
  TlsTestServer tls(Certificate::kTrusted);
  ASSERT_EQ(tls.error(), "");
  const Outcome out = Exchange({.url = tls.Url("/cookies")});
  EXPECT_EQ(out.body, "HTTP/1.1");
  EXPECT_EQ(out.cookies, "a=1; b=2");
}

// A chunked body, one byte of it every everyMs.
FaultServer::Behaviour ChunkedTrickle(int everyMs) {
  return [everyMs](testing::Connection& c) {
    if (!c.ReadRequest() || !c.Send("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n")) {
      return;
    }
    while (c.Pause(everyMs) && c.Send("1\r\nx\r\n")) {
    }
  };
}

// Whatever the server does, an exchange with a deadline ends there, on the
// thread that asked, and says so: the platform's object may go on (and be
// given up) elsewhere.
TEST(WebRequestWire, DeadlineHoldsForTrickleSilenceAndTlsHandshakeStall) {
  constexpr int kDeadline = 2;
  struct Case {
    const char* name;
    FaultServer::Behaviour server;
    const char* scheme;
  } cases[] = {
      {"trickle", FaultServer::Trickle(500), "http"},
      {"chunked trickle", ChunkedTrickle(500), "http"},
      {"silent after the request", FaultServer::Silent(), "http"},
      {"TLS handshake never ends", FaultServer::Mute(), "https"},
  };
  for (Case& c : cases) {
    FaultServer server(c.server);
    const auto start = std::chrono::steady_clock::now();
    const Outcome out = Exchange(
        {.url = server.Url("/", c.scheme), .timeoutSeconds = 30, .deadlineSeconds = kDeadline});
    const auto elapsed = std::chrono::steady_clock::now() - start;
    // A bound against hangs, not a measure of speed.
    EXPECT_LT(elapsed, std::chrono::seconds(kDeadline + 5)) << c.name;
    EXPECT_EQ(out.sent, kHttpTimeout) << c.name;
    EXPECT_EQ(out.status, 0) << c.name;
    EXPECT_EQ(out.body, "") << c.name;
  }
}

// A body without end, given up at the deadline: the process lives on, and
// the next exchange works.
TEST(WebRequestWire, EndlessBodyGivenUpAtTheDeadline) {
  FaultServer endless(FaultServer::Endless());
  LocalHttpServer after(Landed);
  for (int i = 0; i < 3; ++i) {
    const Outcome out = Exchange({.url = endless.Url("/"), .deadlineSeconds = 1});
    EXPECT_EQ(out.sent, kHttpTimeout) << i;
    EXPECT_EQ(out.body, "") << i;
  }
  EXPECT_EQ(Exchange({.url = after.Url("/")}).body, "landed");
}

// Each way a server fails to answer has its own code, the same on both
// platforms, so that the user reads the right reason.
TEST(WebRequestWire, FailuresWithoutAnAnswerNamedApart) {
  struct Case {
    const char* name;
    FaultServer::Behaviour server;
    ResultCode expected;
  } cases[] = {
      {"closed", FaultServer::CloseAfterRequest(), kHttpConnectionError},
      {"reset", FaultServer::ResetAfterRequest(), kHttpConnectionError},
      {"SSH banner", FaultServer::Answer("SSH-2.0-OpenSSH_9.2p1 Debian-2\r\n"),
       kHttpInvalidServerResponse},
      {"HTTP/0.9 body", FaultServer::Answer("<html>hello</html>\n"), kHttpInvalidServerResponse},
      {"bad status line", FaultServer::Answer("HTTP/1.1 OK fine\r\nContent-Length: 2\r\n\r\nok"),
       kHttpInvalidServerResponse},
      {"redirect loop",
       FaultServer::Answer("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: "
                           "0\r\nConnection: close\r\n\r\n"),
       kHttpRedirectFailed},
      {"redirect to file:",
       FaultServer::Answer("HTTP/1.1 302 Found\r\nLocation: file:///etc/passwd\r\nContent-Length: "
                           "0\r\nConnection: close\r\n\r\n"),
       kHttpRedirectRefused},
  };
  for (Case& c : cases) {
    FaultServer server(c.server);
    const Outcome out = Exchange({.url = server.Url("/"), .deadlineSeconds = 10});
    EXPECT_EQ(out.sent, c.expected) << c.name << std::hex << ": " << out.sent;
    EXPECT_EQ(out.status, 0) << c.name;
  }
}

// Only TLS 1.2 or later, refused before a byte of the request; a certificate
// refused says why; a connection that ends during the handshake is a
// closed connection, which another try may get past. The same on both
// platforms.
TEST(WebRequestWire, HandshakeFaultsNamedApart) {
  const TrustedRoot trusted;
  const auto post = [](std::string url) {
    return Exchange(
        {.url = std::move(url), .method = 1, .bodyText = "key=SECRET", .deadlineSeconds = 10});
  };
  {
    TlsTestServer old(Certificate::kTrusted, TlsTestServer::Versions::kTls10Only);
    ASSERT_EQ(old.error(), "");
    const Outcome out = post(old.Url("/json?body=x"));
    EXPECT_EQ(out.sent, kHttpSecureChannelError) << std::hex << out.sent;
    EXPECT_EQ(out.status, 0);
    EXPECT_EQ(old.Requests(), 0);
  }
  {
    TlsTestServer tls(Certificate::kTrusted);
    ASSERT_EQ(tls.error(), "");
    // Its certificate names 127.0.0.1, not localhost.
    std::string other = tls.Url("/json?body=x");
    other.replace(other.find("127.0.0.1"), 9, "localhost");
    const Outcome out = post(other);
    EXPECT_EQ(out.sent, kHttpCertificateNameInvalid) << std::hex << out.sent;
    EXPECT_TRUE(IsCertificateRefusal(out.sent));
    EXPECT_EQ(tls.Requests(), 0);
  }
  const struct {
    const char* name;
    FaultServer::Behaviour server;
  } closing[] = {
      {"closed at once", [](testing::Connection&) {}},
      {"reset at once", [](testing::Connection& c) { c.Reset(); }},
      {"closed after the client's hello",
       [](testing::Connection& c) {
         char hello[512];
         (void)testing::net::Receive(c.socket(), hello, sizeof hello, 5000);
       }},
  };
  for (const auto& c : closing) {
    FaultServer server(c.server);
    const Outcome out = post(server.Url("/", "https"));
    EXPECT_EQ(out.sent, kHttpConnectionError) << c.name << std::hex << ": " << out.sent;
    EXPECT_EQ(out.status, 0) << c.name;
  }
}

// Header lines that never end, fast or slow, and interim replies that never
// end are no answer: each ends within its deadline, and the connection is
// closed by the time the verdict is given.
TEST(WebRequestWire, RepliesThatNeverGetPastTheirHeaders) {
  constexpr int kDeadline = 2;
  const auto sendForever = [](const std::string& head, const std::string& line, int everyMs) {
    return [=](testing::Connection& c) {
      if (!c.ReadRequest() || !c.Send(head)) return;
      while ((everyMs == 0 || c.Pause(everyMs)) && c.Send(line)) {
      }
    };
  };
  std::string headerLines;
  for (int i = 0; i < 4096; ++i) headerLines += "X-More: 1\r\n";
  const struct {
    const char* name;
    FaultServer::Behaviour server;
    ResultCode expected;
  } cases[] = {
      {"a header line, a byte at a time", sendForever("HTTP/1.1 200 OK\r\nX-Slow: ", "a", 300),
       kHttpTimeout},
      {"header lines without end", sendForever("HTTP/1.1 200 OK\r\n", headerLines, 0),
       kHttpHeaderSizeOverflow},
      {"interim replies without end", sendForever("", "HTTP/1.1 100 Continue\r\n\r\n", 0),
       kHttpInvalidServerResponse},
  };
  for (const auto& c : cases) {
    std::atomic<bool> ended{false};
    FaultServer server([&](testing::Connection& connection) {
      c.server(connection);
      ended = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const Outcome out =
        Exchange({.url = server.Url("/"), .timeoutSeconds = 30, .deadlineSeconds = kDeadline});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(kDeadline + 2))
        << c.name;
    EXPECT_EQ(out.sent, c.expected) << c.name << std::hex << ": " << out.sent;
    EXPECT_EQ(out.status, 0) << c.name;
    // The server's next write finds the connection gone.
    for (int i = 0; i < 30 && !ended; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_TRUE(ended) << c.name;
    EXPECT_EQ(AbandonedExchanges(), 0) << c.name;
  }
}

// Many exchanges held at once, while the rest of the process grows as a
// busy program's may: each is a time-out at its deadline. None is taken for
// a reply whose head never ends, which the others' memory is not.
TEST(WebRequestWire, ManyHeldAtOnceAreTimeOuts) {
  constexpr int kAtOnce = 32;
  FaultServer holding([](testing::Connection& c) {
    if (c.ReadRequest()) c.Hold();
  });
  std::vector<Outcome> outcomes(kAtOnce);
  std::vector<std::thread> callers;
  for (Outcome& out : outcomes) {
    callers.emplace_back([&out, url = holding.Url("/")] {
      out = Exchange({.url = url, .timeoutSeconds = 30, .deadlineSeconds = 3});
    });
  }
  // Pages touched meanwhile, as a large history read at start would.
  std::vector<char> elsewhere(12 << 20);
  for (std::size_t i = 0; i < elsewhere.size(); i += 4096) elsewhere[i] = 1;
  for (std::thread& t : callers) t.join();
  for (const Outcome& out : outcomes) EXPECT_EQ(out.sent, kHttpTimeout) << std::hex << out.sent;
  // Their connections were cut, so every exchange ends while the server
  // still holds (on two loaded cores some take longer than their second).
  for (int i = 0; i < 100 && AbandonedExchanges() != 0; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(AbandonedExchanges(), 0);
}

// A body without end stops at the cap, at once, as an answer.
TEST(WebRequestWire, EndlessBodyStopsAtTheCap) {
  constexpr std::size_t kCap = 1 << 20;
  FaultServer endless(FaultServer::Endless());
  for (int i = 0; i < 2; ++i) {
    const auto start = std::chrono::steady_clock::now();
    const Outcome out =
        Exchange({.url = endless.Url("/"), .deadlineSeconds = 10, .maxReplyBytes = kCap});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(out.sent, kOk) << std::hex << out.sent;
    EXPECT_EQ(out.status, 200);
    EXPECT_EQ(out.body.size(), kCap);
  }
}

// Either platform's request object says the same when called out of order.
TEST(RequestObject, CallsOutOfOrderSayWhy) {
  const detail::ComponentLibraryScope library;
  AutomationObject request;
  ASSERT_TRUE(CreateAutomationObject(request, kHttpRequestProgId));
  CallMethod(request, "SetRequestHeader", {"Accept", "*/*"});
  EXPECT_EQ(request.lastResult, kHttpCannotCallBeforeOpen) << std::hex << request.lastResult;
  CallMethod(request, "Send");
  EXPECT_EQ(request.lastResult, kHttpCannotCallBeforeOpen) << std::hex << request.lastResult;
  CallMethod(request, "Open", {"GET", "http://127.0.0.1:9/", false});
  EXPECT_EQ(request.lastResult, kOk) << std::hex << request.lastResult;
  (void)ReadPropertyNumber(request, "Status");
  EXPECT_EQ(request.lastResult, kHttpCannotCallBeforeSend) << std::hex << request.lastResult;
  ReleaseAutomationObject(request);
}

}  // namespace
}  // namespace web
