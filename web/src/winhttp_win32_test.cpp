// WebRequest through the platform's own HTTP request object, against a
// server in this process.
#include <gtest/gtest.h>

#include "local_http_server.h"
#include "runtime/codepage.h"
#include "web/web_request.h"

namespace web {
namespace {

using testing::Answer;
using testing::LocalHttpServer;
using testing::ReceivedRequest;

std::string Text(const rt::Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(WinHttp, PostSendsDefaultHeadersAndTheBody) {
  LocalHttpServer server([](const ReceivedRequest&) { return Answer{200, "", R"({"code":0})"}; });
  int status = 0;
  std::int32_t sent = -1;
  const rt::Bytes body = WebRequest({.url = server.Url("/SCT1.send"),
                                     .method = 1,
                                     .bodyText = "text=中文&desp=b",
                                     .statusCode = &status,
                                     .sendResult = &sent});
  EXPECT_EQ(Text(body), R"({"code":0})");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(sent, kOk);
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const ReceivedRequest& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.target, "/SCT1.send");
  EXPECT_EQ(r.Header("Accept"), "*/*");
  EXPECT_EQ(r.Header("Referer"), server.Url("/SCT1.send"));
  EXPECT_EQ(r.Header("Accept-Language"), "zh-cn");
  EXPECT_EQ(r.Header("User-Agent"), "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
  // The object may name the charset it encoded the text body in.
  EXPECT_TRUE(r.Header("Content-Type").starts_with("application/x-www-form-urlencoded"))
      << r.Header("Content-Type");
  EXPECT_EQ(rt::Utf8ToText(r.body), "text=中文&desp=b");
}

TEST(WinHttp, ErrorStatusComesWithItsBodyAndHeaders) {
  LocalHttpServer server([](const ReceivedRequest&) {
    return Answer{400, "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n", "quota"};
  });
  int status = 0;
  const rt::Bytes body = WebRequest({.url = server.Url(), .statusCode = &status});
  EXPECT_EQ(Text(body), "quota");
  EXPECT_EQ(status, 400);
  std::string returned;
  WebRequest({.url = server.Url(), .returnedCookies = &returned});
  EXPECT_EQ(returned, "a=1; b=2");
}

TEST(WinHttp, RedirectsFollowedUnlessTurnedOff) {
  LocalHttpServer server([](const ReceivedRequest& r) {
    if (r.target == "/old") return Answer{302, "Location: /new\r\n", "moved"};
    return Answer{200, "", "here"};
  });
  int status = 0;
  EXPECT_EQ(Text(WebRequest({.url = server.Url("/old"), .statusCode = &status})), "here");
  EXPECT_EQ(status, 200);
  EXPECT_EQ(
      Text(WebRequest({.url = server.Url("/old"), .statusCode = &status, .noRedirect = true})),
      "moved");
  EXPECT_EQ(status, 302);
}

TEST(WinHttp, RefererDoesNotFollowARedirectToAnotherHost) {
  int port = 0;
  LocalHttpServer server([&port](const ReceivedRequest& r) {
    if (r.target == "/SCT1.send") {
      return Answer{302, "Location: http://localhost:" + std::to_string(port) + "/landed\r\n", ""};
    }
    return Answer{200, "", "landed"};
  });
  port = server.port();
  EXPECT_EQ(Text(WebRequest({.url = server.Url("/SCT1.send"), .method = 1, .bodyText = "x"})),
            "landed");
  const auto requests = server.Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].Header("Referer"), server.Url("/SCT1.send"));
  EXPECT_EQ(requests[1].target, "/landed");
  EXPECT_EQ(requests[1].Header("Referer"), "");
}

TEST(WinHttp, ControlCharactersReachNoServer) {
  LocalHttpServer server([](const ReceivedRequest&) { return Answer{}; });
  int status = -1;
  EXPECT_TRUE(
      WebRequest({.url = server.Url("/a\r\nX-Injected: 1"), .statusCode = &status}).empty());
  std::string headers = "X-Evil: a\nb";
  EXPECT_TRUE(WebRequest({.url = server.Url(), .headers = &headers}).empty());
  EXPECT_EQ(status, 0);
  EXPECT_TRUE(server.Requests().empty());
}

TEST(WinHttp, UnreachablePortGivesNothingAndSaysWhy) {
  int port = 0;
  {
    LocalHttpServer closed([](const ReceivedRequest&) { return Answer{}; });
    port = closed.port();
  }
  int status = -1;
  std::string returnedHeaders = "x";
  std::int32_t sent = 0;
  EXPECT_TRUE(WebRequest({.url = "http://127.0.0.1:" + std::to_string(port) + "/",
                          .returnedHeaders = &returnedHeaders,
                          .statusCode = &status,
                          .timeoutSeconds = 5,
                          .sendResult = &sent})
                  .empty());
  EXPECT_EQ(status, 0);
  EXPECT_EQ(returnedHeaders, "");
  EXPECT_EQ(static_cast<std::uint32_t>(sent), 0x80072EFDu);  // cannot connect
}

}  // namespace
}  // namespace web
