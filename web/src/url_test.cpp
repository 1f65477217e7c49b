#include "url.h"

#include <gtest/gtest.h>

#include "web/percent_encoding.h"

namespace web {
namespace {

TEST(Url, ResolvesTheRfc3986Examples) {
  // RFC 3986 section 5.4: normal and abnormal examples against one base.
  const std::string base = "http://a/b/c/d;p?q";
  struct Case {
    const char* reference;
    const char* expected;
  } cases[] = {
      {"g:h", "g:h"},
      {"g", "http://a/b/c/g"},
      {"./g", "http://a/b/c/g"},
      {"g/", "http://a/b/c/g/"},
      {"/g", "http://a/g"},
      {"//g", "http://g"},
      {"?y", "http://a/b/c/d;p?y"},
      {"g?y", "http://a/b/c/g?y"},
      {"#s", "http://a/b/c/d;p?q#s"},
      {"g#s", "http://a/b/c/g#s"},
      {"g?y#s", "http://a/b/c/g?y#s"},
      {";x", "http://a/b/c/;x"},
      {"g;x", "http://a/b/c/g;x"},
      {"g;x?y#s", "http://a/b/c/g;x?y#s"},
      {"", "http://a/b/c/d;p?q"},
      {".", "http://a/b/c/"},
      {"./", "http://a/b/c/"},
      {"..", "http://a/b/"},
      {"../", "http://a/b/"},
      {"../g", "http://a/b/g"},
      {"../..", "http://a/"},
      {"../../", "http://a/"},
      {"../../g", "http://a/g"},
      {"../../../g", "http://a/g"},
      {"../../../../g", "http://a/g"},
      {"/./g", "http://a/g"},
      {"/../g", "http://a/g"},
      {"g.", "http://a/b/c/g."},
      {".g", "http://a/b/c/.g"},
      {"g..", "http://a/b/c/g.."},
      {"..g", "http://a/b/c/..g"},
      {"./../g", "http://a/b/g"},
      {"./g/.", "http://a/b/c/g/"},
      {"g/./h", "http://a/b/c/g/h"},
      {"g/../h", "http://a/b/c/h"},
      {"g;x=1/./y", "http://a/b/c/g;x=1/y"},
      {"g;x=1/../y", "http://a/b/c/y"},
      {"g?y/./x", "http://a/b/c/g?y/./x"},
      {"g?y/../x", "http://a/b/c/g?y/../x"},
      {"g#s/./x", "http://a/b/c/g#s/./x"},
      {"g#s/../x", "http://a/b/c/g#s/../x"},
      {"http:g", "http:g"},  // strict: a scheme makes it absolute
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveReference(base, c.reference), c.expected) << "reference " << c.reference;
  }
}

TEST(Url, ResolvesWhatServersSendInLocation) {
  struct Case {
    const char* base;
    const char* location;
    const char* expected;
  } cases[] = {
      // "://" inside the query does not make a reference absolute.
      {"http://h/dir/sub/go", "/final?next=https://x/y", "http://h/final?next=https://x/y"},
      {"http://h/dir/sub/go", "?x=1", "http://h/dir/sub/go?x=1"},
      {"http://h/dir/sub/go?q", "#frag", "http://h/dir/sub/go?q#frag"},
      {"http://h", "d", "http://h/d"},
      {"https://h:8443/a/b", "//other/x", "https://other/x"},
      {"http://h/a", "HTTPS://Other/x", "HTTPS://Other/x"},
      {"http://h/a", "/a/./b/../c", "http://h/a/c"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ResolveReference(c.base, c.location), c.expected) << c.base << " + " << c.location;
  }
}

TEST(Url, SplitsAndJoinsWithoutLosingEmptyParts) {
  const UriReference parts = SplitUriReference("http://u@h:1/p?#");
  EXPECT_EQ(parts.scheme, "http");
  EXPECT_EQ(parts.authority, "u@h:1");
  EXPECT_EQ(parts.path, "/p");
  EXPECT_EQ(parts.query, "");
  EXPECT_EQ(parts.fragment, "");
  EXPECT_EQ(JoinUriReference(parts), "http://u@h:1/p?#");
  const UriReference relative = SplitUriReference("1a:b");  // not a scheme: starts with a digit
  EXPECT_FALSE(relative.scheme);
  EXPECT_EQ(relative.path, "1a:b");
}

TEST(Url, OnlyHttpAndHttpsAddressesWithAHost) {
  struct Case {
    const char* url;
    bool http;
  } cases[] = {
      {"http://127.0.0.1:8080/x", true},
      {"HTTPS://Host/x", true},
      {"http://[::1]:80/", true},
      {"http://user:pw@host", true},
      {"file:///etc/hostname", false},
      {"gopher://127.0.0.1:70/_PING%0D%0A", false},
      {"ftp://host/x", false},
      {"dict://127.0.0.1:11211/stat", false},
      {"http:g", false},
      {"http://", false},
      {"http://user@:80/", false},
      {"/relative", false},
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(IsHttpUrl(c.url), c.http) << c.url;

  EXPECT_TRUE(IsDowngrade("https://a/x", "http://a/x"));
  EXPECT_TRUE(IsDowngrade("HTTPS://a/x", "Http://b/"));
  EXPECT_FALSE(IsDowngrade("http://a/x", "https://a/x"));
  EXPECT_FALSE(IsDowngrade("https://a/x", "https://b/"));
}

TEST(Url, ProxyMustBeAnHttpProxy) {
  EXPECT_TRUE(IsHttpProxyAddress("127.0.0.1:3128"));
  EXPECT_TRUE(IsHttpProxyAddress("proxy.invalid:8080"));
  EXPECT_TRUE(IsHttpProxyAddress("HTTP://proxy.invalid:8080"));
  EXPECT_FALSE(IsHttpProxyAddress("socks5://127.0.0.1:1080"));
  EXPECT_FALSE(IsHttpProxyAddress("socks5h://127.0.0.1:1080"));
  EXPECT_FALSE(IsHttpProxyAddress("https://proxy.invalid:443"));
}

TEST(Url, EncodesWhatARequestLineCannotCarry) {
  struct Case {
    const char* url;
    const char* expected;
  } cases[] = {
      {"http://h/fin al", "http://h/fin%20al"},
      {"http://h/\xE8\xB7\xAF?q=\xE5\x80\xBC#\xE7\x89\x87",
       "http://h/%E8%B7%AF?q=%E5%80%BC#%E7%89%87"},
      {"http://h/a%20b?x=%E4", "http://h/a%20b?x=%E4"},  // already encoded: kept
      {"http://h/\"<>\\^`{|}", "http://h/%22%3C%3E%5C%5E%60%7B%7C%7D"},
      {"http://h/a?b=c&d=e;f:g@h/i", "http://h/a?b=c&d=e;f:g@h/i"},
      {"http://\xE4\xB8\xAD.invalid/\xE4\xB8\xAD", "http://\xE4\xB8\xAD.invalid/%E4%B8%AD"},
      {"http://h/a\r\nb", "http://h/a\r\nb"},  // refused by the caller, not smuggled
      {"/fin al", "/fin%20al"},
  };
  for (const auto& c : cases) EXPECT_EQ(EncodeRequestBytes(c.url), c.expected) << c.url;
  EXPECT_EQ(WithoutFragment("http://h/a?b#c#d"), "http://h/a?b");
}

TEST(PercentEncoding, PathSegmentsAndFormValues) {
  struct Case {
    std::string bytes, segment, form;
  } cases[] = {
      {"AZaz09-._~", "AZaz09-._~", "AZaz09-._~"},
      {"a b+c", "a%20b%2Bc", "a+b%2Bc"},
      {"&=%#?/[]", "%26%3D%25%23%3F%2F%5B%5D", "%26%3D%25%23%3F%2F%5B%5D"},
      {"\r\n\t", "%0D%0A%09", "%0D%0A%09"},
      {"\xE5\x8D\x88", "%E5%8D%88", "%E5%8D%88"},
      {std::string("\0\xFF", 2), "%00%FF", "%00%FF"},
      {"", "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(PercentEncode(c.bytes), c.segment) << c.bytes;
    EXPECT_EQ(FormEncode(c.bytes), c.form) << c.bytes;
  }
}

}  // namespace
}  // namespace web
