// One synchronous HTTP exchange over the HTTP request component. Any thread:
// WebRequest starts the component library it needs on the calling thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/text.h"
#include "web/automation.h"

namespace web {

// The platform's HTTP request object, which WebRequest drives.
inline constexpr std::string_view kHttpRequestProgId = "WinHttp.WinHttpRequest.5.1";

// Why an exchange got no answer: the codes of the platform's HTTP stack, as
// automation results (the libcurl component reports the same ones).
constexpr ResultCode HttpStackError(std::uint32_t code) {
  return static_cast<ResultCode>(0x80070000u | code);
}
inline constexpr ResultCode kHttpTimeout = HttpStackError(12002);
inline constexpr ResultCode kHttpInvalidUrl = HttpStackError(12005);
inline constexpr ResultCode kHttpUnrecognizedScheme = HttpStackError(12006);
inline constexpr ResultCode kHttpNameNotResolved = HttpStackError(12007);
inline constexpr ResultCode kHttpCannotConnect = HttpStackError(12029);
inline constexpr ResultCode kHttpConnectionError = HttpStackError(12030);
inline constexpr ResultCode kHttpCertificateDateInvalid = HttpStackError(12037);
inline constexpr ResultCode kHttpCertificateNameInvalid = HttpStackError(12038);
inline constexpr ResultCode kHttpCertificateAuthorityInvalid = HttpStackError(12045);
inline constexpr ResultCode kHttpInvalidServerResponse = HttpStackError(12152);
inline constexpr ResultCode kHttpRedirectFailed = HttpStackError(12156);
inline constexpr ResultCode kHttpSecureChannelError = HttpStackError(12157);
inline constexpr ResultCode kHttpSecureInvalidCertificate = HttpStackError(12169);
inline constexpr ResultCode kHttpSecureFailure = HttpStackError(12175);
inline constexpr ResultCode kHttpCertificateWrongUsage = HttpStackError(12179);
// Header lines without end: more than the reply's header block may hold.
inline constexpr ResultCode kHttpHeaderSizeOverflow = HttpStackError(12183);
// A request member called before Open.
inline constexpr ResultCode kHttpCannotCallBeforeOpen = HttpStackError(12100);
// A response member read before an answer came (the libcurl component and
// the redirect guard answer with the platform object's code).
inline constexpr ResultCode kHttpCannotCallBeforeSend = HttpStackError(12101);
// GetResponseHeader for a header the answer does not have.
inline constexpr ResultCode kHttpHeaderNotFound = HttpStackError(12150);
// A code of our own (the interface range, which the platform's stack does
// not use): a redirect that is not followed because of where it points (not
// http or https, https to http, control characters). kHttpRedirectFailed is
// a chain that does not end.
inline constexpr ResultCode kHttpRedirectRefused = static_cast<ResultCode>(0x80040A01);

// Option indexes of the request object (its "Option" property).
inline constexpr int kOptionSslErrorIgnoreFlags = 4;
inline constexpr int kOptionEnableRedirects = 6;
// An option index of our own (beyond the platform object's, which refuses
// it): the most bytes of a response body the libcurl component keeps.
inline constexpr int kOptionMaxResponseBytes = 0x7001;

// The certificate errors that kOptionSslErrorIgnoreFlags can let pass.
inline constexpr int kIgnoreUnknownCa = 0x0100;
inline constexpr int kIgnoreWrongUsage = 0x0200;
inline constexpr int kIgnoreCertCnInvalid = 0x1000;
inline constexpr int kIgnoreCertDateInvalid = 0x2000;
inline constexpr int kIgnoreAllCertificateErrors =
    kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreCertCnInvalid | kIgnoreCertDateInvalid;

// SetProxy's first argument: the proxy named by the second one.
inline constexpr int kProxySettingProxy = 2;

inline constexpr std::array<std::string_view, 8> kHttpMethodNames = {
    "GET", "POST", "HEAD", "PUT", "OPTIONS", "DELETE", "TRACE", "CONNECT"};
// Method numbers (indexes into kHttpMethodNames) that WebRequest treats
// apart: the default, and the one that gets a form Content-Type.
inline constexpr int kMethodGet = 0;
inline constexpr int kMethodPost = 1;

// WebRequestArgs::proxyAuthMode for a Basic "Proxy-Authorization" header.
inline constexpr int kProxyAuthBasic = 1;

// The arguments of WebRequest. An empty optional or a null pointer is an
// omitted argument; pointers are the caller's variables (in/out and out),
// valid for the call. Nothing is written through them when the request
// object cannot be created.
struct WebRequestArgs {
  std::string url{};
  // Index into kHttpMethodNames; out of range counts as kMethodGet.
  std::optional<int> method{};
  // Sent when bodyBytes is empty.
  std::optional<std::string> bodyText{};
  // Sent as the "Cookie" header (even when empty) when passed, a "Cookie:"
  // in it taken out first; with mergeCookies it then receives the merged
  // cookies (see MergeCookies).
  std::string* cookies = nullptr;
  // The "name=value" of each Set-Cookie line of the reply, joined by "; ";
  // when cookies were passed and merged, the merged text instead.
  std::string* returnedCookies = nullptr;
  // Extra header lines joined by "\r\n"; replaced by the completed and
  // normalised text, whatever the exchange then does.
  std::string* headers = nullptr;
  // The reply's header lines, line ends made "\r\n"; empty without a reply.
  std::string* returnedHeaders = nullptr;
  int* statusCode = nullptr;  // 0 without a reply
  std::optional<bool> noRedirect{};
  std::optional<rt::Bytes> bodyBytes{};
  std::optional<std::string> proxy{};
  // -1: leave the object's time-outs; below 1: 15 s; otherwise seconds.
  std::optional<int> timeoutSeconds{};
  std::optional<std::string> proxyUser{};
  std::optional<std::string> proxyPassword{};
  // kProxyAuthBasic (the default): a Basic "Proxy-Authorization" header;
  // otherwise none.
  std::optional<int> proxyAuthMode{};
  // A request object to share instead of a new one; it stays the caller's,
  // left opened and configured for this exchange.
  AutomationObject* callerObject = nullptr;
  std::optional<bool> mergeCookies{};         // default true
  std::optional<bool> completeHeaders{};      // default true
  std::optional<bool> normalizeHeaderCase{};  // default true
  // Result code of sending (kOk when an answer came); tells why nothing did.
  // kInvalidArgument: the address or a header (cookies and proxy
  // credentials included) holds a control character, or the proxy is not an
  // HTTP proxy; nothing was sent then.
  std::int32_t* sendResult = nullptr;
  // Certificate errors are refused unless this is true; nothing in the
  // application sets it.
  std::optional<bool> ignoreCertificateErrors{};
  // The whole exchange, redirects included, is given up after this many
  // seconds (sendResult: kHttpTimeout), whatever the server does; omitted:
  // only the object's per-phase time-outs bound it.
  std::optional<int> deadlineSeconds{};
  // At most this many bytes of the reply body are kept; omitted: all of it.
  std::optional<std::size_t> maxReplyBytes{};
};

// The response body; empty when nothing was received or the exchange
// failed: *sendResult tells which (kClassNotRegistered when the request
// object could not be made; no other output is written then).
// Blocks for the whole exchange: with deadlineSeconds at most that long,
// else as long as the object's time-outs allow.
rt::Bytes WebRequest(const WebRequestArgs& args);

// Exchanges given up at their deadline whose connection is still being read
// (0 almost always). On Windows an exchange runs on a thread of its own and
// is cut off at its deadline; one whose connection could not be found to cut
// reads on until the server stops, and is counted here until then. Any
// thread.
int AbandonedExchanges();

// True when a text may go on the wire as a URL, header name or header value:
// it holds no byte below 0x20 and no 0x7F. Pure: any thread.
bool IsWireSafe(std::string_view text);

}  // namespace web
