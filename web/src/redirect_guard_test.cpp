#include "redirect_guard.h"

#include <gtest/gtest.h>

#include <map>

#include "runtime/codepage.h"

namespace web {
namespace {

// An HTTP request object that answers from a table of addresses and records
// every request it is asked to make.
class ScriptedHttp final : public Component {
 public:
  struct Reply {
    int status = 200;
    std::string location;
  };
  struct Request {
    std::string method, url, body;
    std::map<std::string, std::string> headers;
  };

  ResultCode Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                    Variant& result) override {
    auto text = [](const Variant& v) {
      const auto* w = std::get_if<std::u16string>(&v);
      return w ? rt::WideToUtf8(*w) : std::string();
    };
    if (member == "Open") {
      current = {text(args[0]), text(args[1]), "", {}};
    } else if (member == "Option" && kind == AccessKind::kPropertyPut) {
      if (VariantToNumber(args[0]) == 6) ownRedirects = VariantToNumber(args[1]) != 0;
    } else if (member == "SetRequestHeader") {
      current.headers[text(args[0])] = text(args[1]);
    } else if (member == "Send") {
      current.body = args.empty() ? "" : text(args[0]);
      requests.push_back(current);
      answer = replies.count(current.url) ? replies[current.url] : Reply{};
    } else if (member == "Status") {
      result = answer.status;
    } else if (member == "GetResponseHeader") {
      if (answer.location.empty()) return kHttpHeaderNotFound;
      result = rt::Utf8ToWide(answer.location);
    }
    return kOk;
  }

  std::map<std::string, Reply> replies;
  std::vector<Request> requests;
  Request current;
  Reply answer;
  bool ownRedirects = true;
};

struct Guarded {
  std::shared_ptr<ScriptedHttp> http = std::make_shared<ScriptedHttp>();
  RedirectGuard guard{http};

  ResultCode Call(std::string_view member, std::vector<Variant> args,
                  AccessKind kind = AccessKind::kMethod, Variant* result = nullptr) {
    Variant ignored;
    return guard.Invoke(member, kind, args, result ? *result : ignored);
  }
  // Open, the two headers that must not leave the origin, a cookie, then Send.
  void Post(const std::string& url) {
    Call("Open", {std::u16string(u"POST"), rt::Utf8ToWide(url), false});
    Call("SetRequestHeader", {std::u16string(u"Referer"), rt::Utf8ToWide(url)});
    Call("SetRequestHeader", {std::u16string(u"Cookie"), std::u16string(u"a=1")});
    Call("SetRequestHeader",
         {std::u16string(u"Content-Type"), std::u16string(u"application/x-www-form-urlencoded")});
    Call("Send", {std::u16string(u"text=1")});
  }
};

TEST(RedirectGuard, OriginsAndLocations) {
  struct Case {
    std::string url, origin;
  } origins[] = {
      {"https://Sctapi.ftqq.com/SCT1.send", "https://sctapi.ftqq.com:443"},
      {"http://127.0.0.1:8080/x?y", "http://127.0.0.1:8080"},
      {"http://user:pw@host/x", "http://host:80"},
      {"http://[::1]/x", "http://[::1]:80"},
      {"no scheme", ""},
  };
  for (const auto& c : origins) EXPECT_EQ(OriginOf(c.url), c.origin) << c.url;

  struct Resolve {
    std::string base, location, expected;
  } resolves[] = {
      {"http://a/b/c?q", "http://other/x", "http://other/x"},
      {"https://a/b/c", "//cdn/x", "https://cdn/x"},
      {"http://a:81/b/c", "/new", "http://a:81/new"},
      {"http://a/b/c?q=/z", "d", "http://a/b/d"},
      {"http://a", "d", "http://a/d"},
      {"http://a/b/c", "/d?next=https://x/y", "http://a/d?next=https://x/y"},
      {"http://a/b/c?q", "#f", "http://a/b/c?q"},  // the fragment never goes out
      {"http://a/b/c", "/fin al", "http://a/fin%20al"},
  };
  for (const auto& c : resolves) {
    EXPECT_EQ(ResolveLocation(c.base, c.location), c.expected) << c.base << " + " << c.location;
  }
}

TEST(RedirectGuard, KeyBearingHeadersNeverGoToAnotherOrigin) {
  Guarded g;
  g.http->replies["http://a/SCT1.send"] = {302, "http://a/moved"};
  g.http->replies["http://a/moved"] = {307, "https://b/elsewhere"};
  g.Post("http://a/SCT1.send");
  ASSERT_EQ(g.http->requests.size(), 3u);
  EXPECT_FALSE(g.http->ownRedirects);
  const auto& same = g.http->requests[1];
  EXPECT_EQ(same.method, "GET");  // a POST answered by 302 is repeated as GET
  EXPECT_EQ(same.body, "");
  EXPECT_EQ(same.headers.count("Content-Type"), 0u);
  EXPECT_EQ(same.headers.at("Referer"), "http://a/SCT1.send");  // same origin: kept
  const auto& other = g.http->requests[2];
  EXPECT_EQ(other.url, "https://b/elsewhere");
  EXPECT_EQ(other.headers.count("Referer"), 0u);
  EXPECT_EQ(other.headers.count("Cookie"), 0u);
}

TEST(RedirectGuard, MethodAndBodyFollowTheStatus) {
  struct Case {
    int status;
    std::string method, body;
  } cases[] = {
      {301, "GET", ""}, {303, "GET", ""}, {307, "POST", "text=1"}, {308, "POST", "text=1"}};
  for (const auto& c : cases) {
    Guarded g;
    g.http->replies["http://a/x"] = {c.status, "/y"};
    g.Post("http://a/x");
    ASSERT_EQ(g.http->requests.size(), 2u) << c.status;
    EXPECT_EQ(g.http->requests[1].url, "http://a/y");
    EXPECT_EQ(g.http->requests[1].method, c.method) << c.status;
    EXPECT_EQ(g.http->requests[1].body, c.body) << c.status;
  }
}

TEST(RedirectGuard, TurnedOffOrEndlessRedirectsStop) {
  Guarded off;
  off.http->replies["http://a/x"] = {302, "/y"};
  off.Call("Open", {std::u16string(u"GET"), std::u16string(u"http://a/x"), false});
  off.Call("Option", {kOptionEnableRedirects, 0}, AccessKind::kPropertyPut);
  off.Call("Send", {});
  EXPECT_EQ(off.http->requests.size(), 1u);

  Guarded loop;
  loop.http->replies["http://a/x"] = {302, "/x"};
  loop.Post("http://a/x");
  EXPECT_EQ(loop.http->requests.size(), 11u);  // the request and ten hops
  // ...and then the exchange fails as a redirect that went nowhere.
  std::vector<Variant> none;
  Variant ignored;
  EXPECT_EQ(loop.guard.Invoke("Send", AccessKind::kMethod, none, ignored), kHttpRedirectFailed);
}

TEST(RedirectGuard, OnlyHttpAndNeverDownFromHttps) {
  struct Case {
    std::string from, location;
  } cases[] = {
      {"http://a/x", "file:///etc/hostname"},
      {"http://a/x", "gopher://127.0.0.1:70/_PING%0D%0A"},
      {"http://a/x", "javascript:alert(1)"},
      {"http://a/x", "http:relative"},
      {"https://a/x", "http://a/x"},
      {"https://a/x", "HTTP://b/"},
      {"http://a/x", "/a\tb"},
  };
  for (const auto& c : cases) {
    Guarded g;
    g.http->replies[c.from] = {307, c.location};
    g.Call("Open", {std::u16string(u"POST"), rt::Utf8ToWide(c.from), false});
    EXPECT_EQ(g.Call("Send", {std::u16string(u"key=1")}), kHttpRedirectRefused) << c.location;
    EXPECT_EQ(g.http->requests.size(), 1u) << c.location;
    // The exchange failed: no status, no redirect answer to read.
    Variant status;
    EXPECT_LT(g.Call("Status", {}, AccessKind::kPropertyGet, &status), 0) << c.location;
    EXPECT_EQ(VariantToNumber(status), 0) << c.location;
  }

  Guarded up;
  up.http->replies["http://a/x"] = {302, "https://a/y"};
  up.Post("http://a/x");
  EXPECT_EQ(up.http->requests.size(), 2u);
}

TEST(RedirectGuard, FirstAddressOnlyHttpOrHttps) {
  for (const char16_t* url : {u"file:///etc/hostname", u"ftp://a/x", u"gopher://a/"}) {
    Guarded g;
    EXPECT_LT(g.Call("Open", {std::u16string(u"GET"), std::u16string(url), false}), 0);
    EXPECT_LT(g.Call("Send", {}), 0);
    EXPECT_TRUE(g.http->requests.empty());
    // A later address that is fine opens as usual.
    g.Call("Open", {std::u16string(u"GET"), std::u16string(u"https://a/"), false});
    EXPECT_EQ(g.Call("Send", {}), kOk);
    EXPECT_EQ(g.http->requests.size(), 1u);
  }
}

}  // namespace
}  // namespace web
