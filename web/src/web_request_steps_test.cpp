#include "web/web_request.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <thread>

#include "runtime/codepage.h"

namespace web {
namespace {

using Strings = std::vector<std::string>;

const char* const kUserAgent = "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)";

// ---------------------------------------------------------------------------
// A recording request object: what WebRequest asks of the component, in order.

class RecordingRequest : public Component {
 public:
  ResultCode Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                    Variant& result) override {
    std::string call(member);
    if (kind == AccessKind::kPropertyPut) call += "=";
    call += "(";
    for (std::size_t i = 0; i < args.size(); ++i) {
      if (i > 0) call += ",";
      if (const auto* b = std::get_if<bool>(&args[i])) {
        call += *b ? "true" : "false";
      } else if (const auto* bytes = std::get_if<rt::Bytes>(&args[i])) {
        call += "bytes:" + std::string(bytes->begin(), bytes->end());
      } else {
        call += VariantToText(args[i]);
      }
    }
    call += ")";
    calls.push_back(call);
    // Refused out of order, as the platform's object refuses it.
    if (member == "Open") opened = true;
    const bool request = member == "SetRequestHeader" || member == "Send";
    const bool response =
        member == "ResponseBody" || member == "GetAllResponseHeaders" || member == "Status";
    if ((request && !opened) || (response && !sent)) {
      ++refused;
      return request ? kHttpCannotCallBeforeOpen : kHttpCannotCallBeforeSend;
    }
    if (member == "Send") sent = true;
    if (!sent) return kOk;
    if (member == "ResponseBody") result = rt::Bytes(body.begin(), body.end());
    if (member == "GetAllResponseHeaders") result = rt::TextToWide(headers);
    if (member == "Status") result = status;
    return kOk;
  }

  // Calls of one member only.
  Strings CallsTo(std::string_view member) const {
    Strings out;
    for (const auto& c : calls) {
      if (c.starts_with(std::string(member) + "(") || c.starts_with(std::string(member) + "=(")) {
        out.push_back(c);
      }
    }
    return out;
  }

  Strings calls;
  int refused = 0;  // calls made out of order
  bool opened = false;
  bool sent = false;
  std::string body = "reply";
  std::string headers;
  double status = 200.9;
};

class WebRequestCalls : public testing::Test {
 protected:
  void SetUp() override {
    recorder = std::make_shared<RecordingRequest>();
    object.instance = recorder;
  }
  std::shared_ptr<RecordingRequest> recorder;
  AutomationObject object;
};

TEST_F(WebRequestCalls, CallersObjectAnswersAndIsKept) {
  const rt::Bytes body = WebRequest({.url = "https://push.example/KEY.send",
                                     .method = 1,
                                     .bodyText = "t",
                                     .callerObject = &object});
  EXPECT_EQ(std::string(body.begin(), body.end()), "reply");
  EXPECT_EQ(recorder->CallsTo("Send"), Strings{"Send(t)"});
  EXPECT_EQ(recorder->refused, 0) << testing::PrintToString(recorder->calls);
  // The caller keeps its reference.
  EXPECT_EQ(object.instance.use_count(), 2);
}

TEST_F(WebRequestCalls, GetHasFourDefaultHeadersAndBadMethodsAreGet) {
  for (int method : {0, 8, -1}) {
    recorder->calls.clear();
    std::string headers;
    WebRequest(
        {.url = "http://h/", .method = method, .headers = &headers, .callerObject = &object});
    EXPECT_EQ(recorder->CallsTo("Open"), Strings{"Open(GET,http://h/,false)"});
    EXPECT_EQ(recorder->CallsTo("SetRequestHeader").size(), 4u);
    EXPECT_EQ(headers, std::string("Accept: */*\r\nReferer: http://h/\r\nAccept-Language: "
                                   "zh-cn\r\nUser-Agent: ") +
                           kUserAgent);
  }
}

TEST_F(WebRequestCalls, CallerHeadersAreCompletedAndNormalised) {
  struct Case {
    std::string headers;
    bool complete;
    bool normalise;
    Strings sent;
  };
  const Case cases[] = {
      {"accept: text/html\r\nconnection: keep-alive\r\nx-trace-id: 7",
       true,
       true,
       {"SetRequestHeader(Accept,text/html)", "SetRequestHeader(X-Trace-Id,7)",
        "SetRequestHeader(Referer,http://h/)", "SetRequestHeader(Accept-Language,zh-cn)",
        std::string("SetRequestHeader(User-Agent,") + kUserAgent + ")"}},
      {"Connection: close", false, true, {"SetRequestHeader(Connection,close)"}},
      {"Connection: Keep-Alive\r\n", false, true, {"SetRequestHeader(Connection,Keep-Alive)"}},
      {"connection: keep-alive\r\n", false, false, {"SetRequestHeader(connection,keep-alive)"}},
      {"x-a: 1\r\n\r\nx-b:2", false, false, {"SetRequestHeader(x-a,1)", "SetRequestHeader(x-b,2)"}},
      {"", false, true, {"SetRequestHeader(,)"}},
  };
  for (const auto& c : cases) {
    recorder->calls.clear();
    std::string headers = c.headers;
    WebRequest({.url = "http://h/",
                .headers = &headers,
                .callerObject = &object,
                .completeHeaders = c.complete,
                .normalizeHeaderCase = c.normalise});
    EXPECT_EQ(recorder->CallsTo("SetRequestHeader"), c.sent) << c.headers;
  }
}

TEST_F(WebRequestCalls, TimeoutsProxyAndOptions) {
  struct Case {
    WebRequestArgs args;
    Strings calls;  // SetTimeouts, SetProxy and Option calls, in order
  };
  const Case cases[] = {
      {{.timeoutSeconds = 0}, {"SetTimeouts(15000,15000,15000,15000)"}},
      {{.timeoutSeconds = 30}, {"SetTimeouts(30000,30000,30000,30000)"}},
      {{.timeoutSeconds = -1}, {}},
      {{.noRedirect = true, .timeoutSeconds = -1}, {"Option=(6,0)"}},
      {{.timeoutSeconds = -1, .ignoreCertificateErrors = true}, {"Option=(4,13056)"}},
      {{.proxy = "127.0.0.1:8888", .timeoutSeconds = -1}, {"SetProxy(2,127.0.0.1:8888)"}},
  };
  for (const auto& c : cases) {
    recorder->calls.clear();
    WebRequestArgs args = c.args;
    args.url = "http://h/";
    args.callerObject = &object;
    WebRequest(args);
    Strings seen;
    for (const auto& call : recorder->calls) {
      if (call.starts_with("SetTimeouts") || call.starts_with("SetProxy") ||
          call.starts_with("Option")) {
        seen.push_back(call);
      }
    }
    EXPECT_EQ(seen, c.calls) << (c.calls.empty() ? "" : c.calls[0]);
  }
}

TEST_F(WebRequestCalls, ProxyAuthorisation) {
  const auto proxyHeaders = [&](WebRequestArgs args) {
    recorder->calls.clear();
    args.url = "http://h/";
    args.callerObject = &object;
    args.completeHeaders = false;
    args.headers = nullptr;
    WebRequest(args);
    return recorder->CallsTo("SetRequestHeader");
  };
  const Strings basic = {"SetRequestHeader(Proxy-Authorization,Basic dXNlcjpwYXNz)",
                         "SetRequestHeader(,)"};
  EXPECT_EQ(proxyHeaders({.proxy = "p:1", .proxyUser = "user", .proxyPassword = "pass"}), basic);
  EXPECT_EQ(proxyHeaders({.proxyUser = "user", .proxyPassword = "pass"}),
            Strings{"SetRequestHeader(,)"});
  EXPECT_EQ(proxyHeaders({.proxy = "p:1", .proxyUser = "user", .proxyAuthMode = 2}),
            Strings{"SetRequestHeader(,)"});
}

TEST_F(WebRequestCalls, CookiesSentAndCollected) {
  recorder->headers =
      "Content-Type: text/plain\r\nSet-Cookie: a=1; Path=/\r\nset-cookie: z=9\r\n"
      "Set-Cookie: b=2\r\n\r\n";
  // Omitted: no Cookie header; collected cookies still computed.
  std::string returned = "stale";
  WebRequest({.url = "http://h/",
              .returnedCookies = &returned,
              .callerObject = &object,
              .completeHeaders = false});
  EXPECT_EQ(returned, "a=1; b=2");
  EXPECT_TRUE(recorder->CallsTo("SetRequestHeader") == Strings{"SetRequestHeader(,)"});

  // Passed but empty: sent with an empty value.
  recorder->calls.clear();
  std::string cookies;
  WebRequest(
      {.url = "http://h/", .cookies = &cookies, .callerObject = &object, .completeHeaders = false});
  EXPECT_EQ(recorder->CallsTo("SetRequestHeader")[0], "SetRequestHeader(Cookie,)");
  EXPECT_EQ(cookies, "a=1; b=2");

  // "Cookie:" markers are removed from the caller's text; merged afterwards.
  recorder->calls.clear();
  cookies = "cookie: a=0; c=3";
  WebRequest({.url = "http://h/",
              .cookies = &cookies,
              .returnedCookies = &returned,
              .callerObject = &object,
              .completeHeaders = false});
  EXPECT_EQ(recorder->CallsTo("SetRequestHeader")[0], "SetRequestHeader(Cookie, a=0; c=3)");
  EXPECT_EQ(returned, "a=1; b=2; c=3");
  EXPECT_EQ(cookies, "a=1; b=2; c=3");

  // Without merging the collected cookies stand alone.
  cookies = "c=3";
  WebRequest({.url = "http://h/",
              .cookies = &cookies,
              .returnedCookies = &returned,
              .callerObject = &object,
              .mergeCookies = false});
  EXPECT_EQ(returned, "a=1; b=2");
  EXPECT_EQ(cookies, "c=3");
}

TEST_F(WebRequestCalls, BodyBytesWinOverText) {
  int status = -5;
  WebRequest({.url = "http://h/",
              .method = 3,
              .bodyText = "text",
              .statusCode = &status,
              .bodyBytes = rt::Bytes{'r', 'a', 'w'},
              .callerObject = &object});
  EXPECT_EQ(recorder->CallsTo("Send"), Strings{"Send(bytes:raw)"});
  EXPECT_EQ(status, 200);  // truncated
}

TEST_F(WebRequestCalls, ControlCharactersNeverReachTheWire) {
  struct Case {
    std::string url;
    std::string headers;
    std::optional<std::string> cookies;
  };
  const Case cases[] = {
      {"http://h/\r\nX-Injected: 1", "", std::nullopt},
      {"http://h/\x7F", "", std::nullopt},
      {"http://h/", "X-A: a\tb", std::nullopt},
      {"http://h/", "X-A: a\nX-Injected: 1", std::nullopt},
      {"http://h/", "X\x01: a", std::nullopt},
      {"http://h/", "", "a=1\x1F"},
  };
  for (const auto& c : cases) {
    recorder->calls.clear();
    recorder->sent = false;
    std::string headers = c.headers;
    std::optional<std::string> cookies = c.cookies;
    int status = -1;
    std::string returnedHeaders = "x";
    const rt::Bytes body = WebRequest({.url = c.url,
                                       .cookies = cookies ? &*cookies : nullptr,
                                       .headers = &headers,
                                       .returnedHeaders = &returnedHeaders,
                                       .statusCode = &status,
                                       .callerObject = &object});
    EXPECT_TRUE(body.empty()) << c.url << c.headers;
    EXPECT_TRUE(recorder->CallsTo("Send").empty()) << c.url << c.headers;
    EXPECT_EQ(status, 0);
    EXPECT_EQ(returnedHeaders, "");
  }
}

TEST(WebRequestCreation, FailureLeavesOutArgumentsAlone) {
  RegisterComponent("WinHttp.WinHttpRequest.5.1", [] { return std::shared_ptr<Component>(); });
  int status = 77;
  std::string headers = "keep";
  const rt::Bytes body =
      WebRequest({.url = "http://127.0.0.1:1/", .headers = &headers, .statusCode = &status});
  RegisterComponent("WinHttp.WinHttpRequest.5.1", {});  // back to the built-in one
  EXPECT_TRUE(body.empty());
  EXPECT_EQ(status, 77);
  EXPECT_EQ(headers, "keep");
}

}  // namespace
}  // namespace web
