#include "web/web_request.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <thread>

#include "automation_platform.h"
#include "runtime/clock.h"
#include "runtime/codepage.h"
#include "url.h"
#include "web/header_text.h"

namespace web {
namespace {

constexpr int kDefaultTimeoutMs = 15000;
constexpr int kIgnoredCertificateErrors = 0x3300;

struct DefaultHeader {
  std::string_view marker;
  std::string_view addition;
  bool postOnly;
};

// Socket failures some platforms' objects pass on as they are (Wine's: a
// reset), named as the platform's stack names a connection that ended.
ResultCode WithoutSocketCodes(ResultCode code) {
  switch (static_cast<std::uint32_t>(code)) {
    case 0x80072745u:  // connection aborted
    case 0x80072746u:  // connection reset by the peer
      return kHttpConnectionError;
    default:
      return code;
  }
}

// Gives up an exchange that is still running, on a thread of its own, so
// that neither the verdict nor the caller waits for it: Wine's object goes
// on reading while data comes (a trickle holds an Abort or a release for as
// long as the server keeps it up), and releasing it while its reading
// thread still runs crashes it (both free the reply buffer). So the order
// is: Abort, which returns once the reading stopped; a short wait for that
// thread to finish; then the release.
void GiveUpInBackground(AutomationObject http) {
  std::thread([object = std::move(http)]() mutable {
    const detail::ComponentLibraryScope library;
    CallMethod(object, "Abort");
    CallMethod(object, "WaitForResponse", {1});
    ReleaseAutomationObject(object);
  }).detach();
}

// Waits for the answer of an asynchronous Send until the deadline; an
// exchange still running then is given up (GiveUpInBackground).
ResultCode AwaitAnswer(AutomationObject& http, std::int64_t deadlineMs) {
  // The object waits in whole seconds: rounded up, the wait ends less than
  // a second after the deadline.
  const std::int64_t leftMs = deadlineMs - rt::MonotonicMilliseconds();
  if (leftMs > 0) {
    const auto seconds = static_cast<int>((leftMs + 999) / 1000);
    const double done = CallMethodNumber(http, "WaitForResponse", {seconds});
    if (http.lastResult < 0) return http.lastResult;
    if (done != 0) return kOk;
  }
  return kHttpTimeout;
}

// The address as it goes on the wire: bytes a request line cannot carry
// are percent-encoded in their UTF-8 form.
std::string RequestUrl(const std::string& url) {
  return rt::Utf8ToGbk(EncodeRequestBytes(rt::GbkToUtf8(url)));
}

}  // namespace

bool IsWireSafe(std::string_view text) {
  return std::none_of(text.begin(), text.end(), [](char c) {
    const auto b = static_cast<unsigned char>(c);
    return b < 0x20 || b == 0x7F;
  });
}

rt::Bytes WebRequest(const WebRequestArgs& a) {
  const detail::ComponentLibraryScope library;
  const std::string url = RequestUrl(a.url);

  AutomationObject http;
  if (a.callerObject) {
    CopyAutomationObject(http, *a.callerObject);
  } else if (!CreateAutomationObject(http, kHttpRequestProgId)) {
    return {};
  }

  const int timeoutSeconds = a.timeoutSeconds.value_or(0);
  if (timeoutSeconds != -1) {
    const std::int64_t ms =
        timeoutSeconds < 1 ? kDefaultTimeoutMs : std::int64_t{timeoutSeconds} * 1000;
    const int t = static_cast<int>(std::min<std::int64_t>(ms, std::numeric_limits<int>::max()));
    CallMethod(http, "SetTimeouts", {t, t, t, t});
  }

  const std::string proxy = a.proxy.value_or(std::string());
  if (!proxy.empty()) CallMethod(http, "SetProxy", {2, proxy});

  // With a deadline the exchange runs asynchronously, so that it can be
  // given up whatever the server does (the per-phase time-outs do not bound
  // a server that trickles, and the platform may not apply them).
  const bool async = a.deadlineSeconds.has_value();
  const std::int64_t deadlineMs =
      async ? rt::MonotonicMilliseconds() + std::int64_t{std::max(*a.deadlineSeconds, 1)} * 1000
            : 0;

  int method = a.method.value_or(0);
  if (method < 0 || method > 7) method = 0;
  CallMethod(http, "Open", {kHttpMethodNames[static_cast<std::size_t>(method)], url, async});
  if (a.maxReplyBytes) {
    const auto cap = std::min<std::size_t>(*a.maxReplyBytes, std::numeric_limits<int>::max());
    WriteProperty(http, "Option", {kOptionMaxResponseBytes, static_cast<int>(cap)});
  }

  if (a.noRedirect.value_or(false)) WriteProperty(http, "Option", {6, 0});
  // Certificate errors end the exchange unless the caller explicitly says
  // otherwise: the request carries the user's key.
  if (a.ignoreCertificateErrors.value_or(false)) {
    WriteProperty(http, "Option", {4, kIgnoredCertificateErrors});
  }

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
      if (d.postOnly && method != 1) continue;
      if (rt::FindText(headers, d.marker, 1, true) < 1) headers += d.addition;
    }
  }
  if (a.normalizeHeaderCase.value_or(true)) headers = NormalizeHeaderCase(headers);
  if (a.headers) *a.headers = headers;

  // Nothing holding a control character goes on the wire: one such text
  // ends the exchange as a failed send does.
  // A proxy that is not an HTTP proxy ends it too, rather than going direct.
  bool wireSafe = IsWireSafe(url) && IsHttpProxyAddress(proxy);
  const auto setHeader = [&](const std::string& name, const std::string& value) {
    // The object counts the body itself: a length of the caller's would
    // only be wrong (a server waits for bytes that never come).
    if (rt::EqualsIgnoreCase(name, "Content-Length")) return;
    if (!IsWireSafe(name) || !IsWireSafe(value)) {
      wireSafe = false;
      return;
    }
    CallMethod(http, "SetRequestHeader", {name, value});
  };

  const std::string proxyUser = a.proxyUser.value_or(std::string());
  if (!proxy.empty() && !proxyUser.empty() && a.proxyAuthMode.value_or(1) == 1) {
    const std::string credentials = proxyUser + ":" + a.proxyPassword.value_or(std::string());
    setHeader("Proxy-Authorization",
              "Basic " + Base64Encode(rt::Bytes(credentials.begin(), credentials.end())));
  }

  if (a.cookies) {
    std::string& cookies = *a.cookies;
    if (!cookies.empty() && rt::FindText(cookies, "Cookie:", 1, true) > 0) {
      cookies = rt::ReplaceText(cookies, "Cookie:", "", 1, std::nullopt, false);
    }
    setHeader("Cookie", cookies);
  }

  if (rt::FindText(headers, "\r\n") < 1) {
    setHeader(HeaderName(headers), HeaderValue(headers));
  } else {
    for (const std::string& piece : rt::SplitText(headers, "\r\n")) {
      if (piece.empty()) continue;
      const std::string name = HeaderName(piece);
      const std::string value = HeaderValue(piece);
      if (name == "Connection" && value == "keep-alive") continue;
      setHeader(name, value);
    }
  }

  ResultCode sent = kInvalidArgument;
  if (wireSafe) {
    if (a.bodyBytes && !a.bodyBytes->empty()) {
      VariantValue body;
      VariantFromBytes(body, *a.bodyBytes);
      CallMethod(http, "Send", {Arg::Ref(body)});
    } else {
      CallMethod(http, "Send", {a.bodyText.value_or(std::string())});
    }
    sent = http.lastResult;
    if (async && sent >= 0) sent = AwaitAnswer(http, deadlineMs);
    sent = WithoutSocketCodes(sent);
  }

  // An exchange given up has no answer to read (and the platform's object
  // may still be writing it).
  const bool answered = !(async && sent < 0);
  rt::Bytes result;
  std::string returnedHeaders;
  double status = 0;
  if (answered) {
    result = VariantToBytes(ReadPropertyVariant(http, "ResponseBody"));
    if (a.maxReplyBytes && result.size() > *a.maxReplyBytes) result.resize(*a.maxReplyBytes);
    returnedHeaders = NormalizeLineEnds(ReadPropertyText(http, "GetAllResponseHeaders"));
    status = ReadPropertyNumber(http, "Status");
  }
  const int statusCode = std::isfinite(status) && std::abs(status) < 2147483648.0
                             ? static_cast<int>(std::trunc(status))
                             : 0;

  std::string returnedCookies;
  for (const std::string& line : rt::SplitText(returnedHeaders, "\r\n")) {
    if (TextBefore(line, ": ") != "Set-Cookie") continue;
    const std::string cookie =
        rt::FindText(line, ";") > 0
            ? TextBetween(line, "Set-Cookie:", ";")
            : rt::ReplaceText(line, "Set-Cookie:", "", 1, std::nullopt, false);
    returnedCookies += rt::TrimText(cookie);
    returnedCookies += "; ";
  }
  if (returnedCookies.ends_with("; ")) returnedCookies.resize(returnedCookies.size() - 2);

  if (a.mergeCookies.value_or(true) && a.cookies) {
    returnedCookies = MergeCookies(*a.cookies, returnedCookies);
  }

  if (a.returnedCookies) *a.returnedCookies = returnedCookies;
  if (a.returnedHeaders) *a.returnedHeaders = returnedHeaders;
  if (a.statusCode) *a.statusCode = statusCode;
  if (a.sendResult) *a.sendResult = sent;

  if (async && sent == kHttpTimeout) {
    GiveUpInBackground(std::move(http));
  } else {
    ReleaseAutomationObject(http);
  }
  return result;
}

}  // namespace web
