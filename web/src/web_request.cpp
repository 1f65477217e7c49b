#include "web/web_request.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "automation_platform.h"
#include "runtime/clock.h"
#include "runtime/codepage.h"
#include "runtime/text.h"
#include "url.h"
#include "web/header_text.h"

namespace web {
namespace {

constexpr int kDefaultTimeoutMs = 15000;

struct DefaultHeader {
  std::string_view marker;
  std::string_view addition;
  bool postOnly;
};

// Waits for the answer of an asynchronous Send until the deadline. The
// request component carries out the exchange while it is waited for, under
// that limit, so nothing of it runs on once the wait is over.
ResultCode AwaitAnswer(AutomationObject& http, std::int64_t deadlineMs) {
  const std::int64_t leftMs = deadlineMs - rt::MonotonicMilliseconds();
  if (leftMs > 0) {
    const double done =
        CallMethodNumber(http, "WaitForResponse", {static_cast<double>(leftMs) / 1000});
    if (http.lastResult < 0) return http.lastResult;
    if (done != 0) return kOk;
  }
  return kHttpTimeout;
}

// The address as it goes on the wire: bytes a request line cannot carry
// are percent-encoded in their UTF-8 form.
std::string RequestUrl(const std::string& url) {
  return rt::Utf8ToText(EncodeRequestBytes(rt::TextToUtf8(url)));
}

int MethodOf(const WebRequestArgs& a) {
  const int method = a.method.value_or(kMethodGet);
  const bool known = method >= 0 && static_cast<std::size_t>(method) < kHttpMethodNames.size();
  return known ? method : kMethodGet;
}

// With a deadline the exchange runs asynchronously: the wait for it bounds
// the whole exchange, redirects included, whatever the server does (the
// per-phase time-outs do not bound a server that trickles).
std::optional<std::int64_t> DeadlineOf(const WebRequestArgs& a) {
  if (!a.deadlineSeconds) return std::nullopt;
  return rt::MonotonicMilliseconds() + std::int64_t{std::max(*a.deadlineSeconds, 1)} * 1000;
}

void SetTimeouts(AutomationObject& http, std::optional<int> timeoutSeconds) {
  const int seconds = timeoutSeconds.value_or(0);
  if (seconds == -1) return;
  const std::int64_t ms = seconds < 1 ? kDefaultTimeoutMs : std::int64_t{seconds} * 1000;
  const int t = static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
  CallMethod(http, "SetTimeouts", {t, t, t, t});
}

// Everything the object needs before its headers: time-outs, proxy, the
// request line and the options.
void ConfigureRequest(AutomationObject& http, const WebRequestArgs& a, const std::string& url,
                      int method, const std::string& proxy, bool async) {
  SetTimeouts(http, a.timeoutSeconds);
  if (!proxy.empty()) CallMethod(http, "SetProxy", {kProxySettingProxy, proxy});
  CallMethod(http, "Open", {kHttpMethodNames[static_cast<std::size_t>(method)], url, async});
  if (a.maxReplyBytes) {
    const auto cap = std::min<std::size_t>(*a.maxReplyBytes, std::numeric_limits<int>::max());
    WriteProperty(http, "Option", {kOptionMaxResponseBytes, static_cast<int>(cap)});
  }
  if (a.noRedirect.value_or(false)) WriteProperty(http, "Option", {kOptionEnableRedirects, 0});
  // Certificate errors end the exchange unless the caller explicitly says
  // otherwise: the request carries the user's key.
  if (a.ignoreCertificateErrors.value_or(false)) {
    WriteProperty(http, "Option", {kOptionSslErrorIgnoreFlags, kIgnoreAllCertificateErrors});
  }
}

// The caller's header lines, completed with the defaults they lack and
// their names normalised, as asked.
std::string CompleteHeaders(const WebRequestArgs& a, const std::string& url, int method) {
  std::string headers = a.headers ? *a.headers : std::string();
  if (a.completeHeaders.value_or(true)) {
    const std::string referer = "\r\nReferer: " + url;
    const DefaultHeader defaults[] = {
        {"Accept:", "\r\nAccept: */*", false},
        {"Referer:", referer, false},
        {"Accept-Language:", "\r\nAccept-Language: zh-cn", false},
        {"User-Agent:", "\r\nUser-Agent: Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)",
         false},
        {"Content-Type:", "\r\nContent-Type: application/x-www-form-urlencoded", true},
    };
    for (const DefaultHeader& d : defaults) {
      if (d.postOnly && method != kMethodPost) continue;
      if (rt::FindText(headers, d.marker, 1, true) < 1) headers += d.addition;
    }
  }
  if (a.normalizeHeaderCase.value_or(true)) headers = NormalizeHeaderCase(headers);
  return headers;
}

// Sets the request headers one by one. Nothing holding a control character
// goes on the wire: one such text ends the exchange as a failed send does.
class HeaderWriter {
 public:
  HeaderWriter(AutomationObject& http, bool wireSafe) : http_(http), wireSafe_(wireSafe) {}
  bool wireSafe() const { return wireSafe_; }

  void Set(const std::string& name, const std::string& value) {
    // The object counts the body itself: a length of the caller's would
    // only be wrong (a server waits for bytes that never come).
    if (rt::EqualsIgnoreCase(name, "Content-Length")) return;
    if (!IsWireSafe(name) || !IsWireSafe(value)) {
      wireSafe_ = false;
      return;
    }
    CallMethod(http_, "SetRequestHeader", {name, value});
  }

 private:
  AutomationObject& http_;
  bool wireSafe_;
};

// Proxy credentials, cookies and the completed header lines; false when
// one of them (or the address or proxy already) may not go on the wire.
bool SetRequestHeaders(AutomationObject& http, const WebRequestArgs& a, const std::string& proxy,
                       const std::string& headers, bool wireSafe) {
  HeaderWriter out(http, wireSafe);
  const std::string proxyUser = a.proxyUser.value_or(std::string());
  if (!proxy.empty() && !proxyUser.empty() &&
      a.proxyAuthMode.value_or(kProxyAuthBasic) == kProxyAuthBasic) {
    const std::string credentials = proxyUser + ":" + a.proxyPassword.value_or(std::string());
    out.Set("Proxy-Authorization",
            "Basic " + Base64Encode(rt::Bytes(credentials.begin(), credentials.end())));
  }
  if (a.cookies) {
    std::string& cookies = *a.cookies;
    if (!cookies.empty() && rt::FindText(cookies, "Cookie:", 1, true) > 0) {
      cookies = rt::ReplaceText(cookies, "Cookie:", "", 1, std::nullopt, false);
    }
    out.Set("Cookie", cookies);
  }
  // One line goes as it is (even empty); of several, empty lines and a
  // keep-alive (the object's own business) are left out.
  if (rt::FindText(headers, "\r\n") < 1) {
    out.Set(HeaderName(headers), HeaderValue(headers));
    return out.wireSafe();
  }
  for (const HeaderLine& h : ScanHeaderLines(headers)) {
    if (h.line.empty()) continue;
    const std::string name = rt::TrimText(h.name);
    const std::string value = rt::TrimText(h.value);
    if (name == "Connection" && value == "keep-alive") continue;
    out.Set(name, value);
  }
  return out.wireSafe();
}

// Sends the body (bytes win over text) and, with a deadline, waits for the
// answer until then; the result says why no answer came.
ResultCode SendAndWait(AutomationObject& http, const WebRequestArgs& a,
                       std::optional<std::int64_t> deadlineMs) {
  if (a.bodyBytes && !a.bodyBytes->empty()) {
    VariantValue body;
    VariantFromBytes(body, *a.bodyBytes);
    CallMethod(http, "Send", {Arg::Ref(body)});
  } else {
    CallMethod(http, "Send", {a.bodyText.value_or(std::string())});
  }
  ResultCode sent = http.lastResult;
  if (deadlineMs && sent >= 0) sent = AwaitAnswer(http, *deadlineMs);
  return sent;
}

struct Answer {
  rt::Bytes body;
  std::string headers;
  int status = 0;
};

int StatusCode(double status) {
  return std::isfinite(status) && std::abs(status) < 2147483648.0
             ? static_cast<int>(std::trunc(status))
             : 0;
}

Answer ReadAnswer(AutomationObject& http, std::optional<std::size_t> maxReplyBytes) {
  Answer answer;
  answer.body = VariantToBytes(ReadPropertyVariant(http, "ResponseBody"));
  if (maxReplyBytes && answer.body.size() > *maxReplyBytes) answer.body.resize(*maxReplyBytes);
  answer.headers = NormalizeLineEnds(ReadPropertyText(http, "GetAllResponseHeaders"));
  answer.status = StatusCode(ReadPropertyNumber(http, "Status"));
  return answer;
}

// The "name=value" of every "Set-Cookie: " line, joined by "; ".
std::string CookiesOf(std::string_view headers) {
  std::string cookies;
  for (const HeaderLine& h : ScanHeaderLines(headers)) {
    if (h.name != "Set-Cookie" || !h.value.starts_with(' ')) continue;
    const std::string line(h.line);
    const std::string cookie =
        rt::FindText(line, ";") > 0
            ? TextBetween(line, "Set-Cookie:", ";")
            : rt::ReplaceText(line, "Set-Cookie:", "", 1, std::nullopt, false);
    cookies += rt::TrimText(cookie);
    cookies += "; ";
  }
  if (cookies.ends_with("; ")) cookies.resize(cookies.size() - 2);
  return cookies;
}

}  // namespace

bool IsWireSafe(std::string_view text) {
  return std::none_of(text.begin(), text.end(), rt::IsControlByte);
}

rt::Bytes WebRequest(const WebRequestArgs& a) {
  const detail::ComponentLibraryScope library;
  const std::string url = RequestUrl(a.url);
  AutomationObject http;
  if (a.callerObject) {
    CopyAutomationObject(http, *a.callerObject);
  } else if (!CreateAutomationObject(http, kHttpRequestProgId)) {
    if (a.sendResult) *a.sendResult = kClassNotRegistered;
    return {};
  }

  const std::string proxy = a.proxy.value_or(std::string());
  const int method = MethodOf(a);
  const std::optional<std::int64_t> deadlineMs = DeadlineOf(a);
  const bool async = deadlineMs.has_value();
  ConfigureRequest(http, a, url, method, proxy, async);
  const std::string headers = CompleteHeaders(a, url, method);
  if (a.headers) *a.headers = headers;
  // A proxy that is not an HTTP proxy ends the exchange, rather than going
  // direct.
  const bool wireSafe =
      SetRequestHeaders(http, a, proxy, headers, IsWireSafe(url) && IsHttpProxyAddress(proxy));
  const ResultCode sent = wireSafe ? SendAndWait(http, a, deadlineMs) : kInvalidArgument;

  // An exchange given up has no answer to read.
  const bool answered = !(async && sent < 0);
  const Answer answer = answered ? ReadAnswer(http, a.maxReplyBytes) : Answer{};
  std::string returnedCookies = CookiesOf(answer.headers);
  if (a.mergeCookies.value_or(true) && a.cookies) {
    returnedCookies = MergeCookies(*a.cookies, returnedCookies);
  }

  if (a.returnedCookies) *a.returnedCookies = returnedCookies;
  if (a.returnedHeaders) *a.returnedHeaders = answer.headers;
  if (a.statusCode) *a.statusCode = answer.status;
  if (a.sendResult) *a.sendResult = sent;
  if (async && sent == kHttpTimeout) CallMethod(http, "Abort");
  ReleaseAutomationObject(http);
  return answer.body;
}

}  // namespace web
