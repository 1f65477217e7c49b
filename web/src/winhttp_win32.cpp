// The HTTP request component of Windows on the platform's HTTP functions,
// used synchronously: every time-out is the time the exchange has left, the
// body is read piece by piece up to its cap, TLS 1.2 or later.
//
// Each exchange runs on a thread of its own while its caller waits. What the
// functions do not bound (under Wine, header lines that trickle or never end
// hold a call whatever its time-outs, and closing a handle from another
// thread does not end a call that waits) is ended at the deadline by cutting
// the connection itself: the exchange finds its socket when it connects (by
// the addresses the functions report) and the caller shuts that socket
// down, so the call returns and the thread closes its handles and ends.
#include "winhttp_win32.h"

// The sockets' header first: the system's header brings an older one.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include <psapi.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "http_request.h"
#include "runtime/clock.h"
#include "runtime/codepage.h"
#include "runtime/text.h"
#include "web/header_text.h"
#include "web/web_request.h"

namespace web {
namespace {

// How long a caller waits, after cutting an exchange at its deadline, for
// its thread to end before it gives the verdict without it.
constexpr std::int64_t kGraceMs = 1000;
// How often a waiting caller looks at its exchange, and how much the
// process may grow while the reply's head is awaited: Wine's HTTP functions
// keep every header line, without limit, and a head that big is no reply.
// The growth is the whole process's (under Wine 32 exchanges starting at
// once add 40 MB and more), so it counts against a head only while bytes
// wait on its connection: a relay that holds its reply sends none.
constexpr std::int64_t kLookMs = 50;
constexpr std::size_t kHeadMemoryBound = std::size_t{8} << 20;
// Handle values searched for an exchange's socket.
constexpr UINT_PTR kMaxHandleValue = 0x8000;
constexpr DWORD kProtocolsFrom12 =
    WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3;
constexpr DWORD kAllProtocols =
    kProtocolsFrom12 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1 | WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_1;

std::wstring Wide(std::string_view utf8) {
  const std::u16string w = rt::Utf8ToWide(utf8);
  return std::wstring(w.begin(), w.end());
}

std::string Utf8(std::wstring_view wide) {
  return rt::WideToUtf8(std::u16string(wide.begin(), wide.end()));
}

struct CloseInternet {
  void operator()(HINTERNET h) const { WinHttpCloseHandle(h); }
};
using Internet = std::unique_ptr<void, CloseInternet>;

// A session: its cookies live as long as the request object. TLS below 1.2
// only where a failed handshake is looked into.
std::shared_ptr<void> OpenSession(DWORD protocols) {
  HINTERNET session = WinHttpOpen(nullptr, WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  if (!session) return nullptr;
  // Systems that know no TLS 1.3 refuse its flag.
  if (!WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols)) {
    protocols &= ~static_cast<DWORD>(WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_3);
    WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols);
  }
  return std::shared_ptr<void>(session, CloseInternet());
}

// The connection of an exchange: its socket, and the addresses by which it
// was found (checked again before it is cut, as the handle may be reused).
struct Link {
  SOCKET socket = INVALID_SOCKET;
  sockaddr_storage local{};
  sockaddr_storage remote{};
};

bool SameEndpoint(const sockaddr_storage& a, const sockaddr_storage& b) {
  if (a.ss_family != b.ss_family) return false;
  if (a.ss_family == AF_INET) {
    const auto& x = reinterpret_cast<const sockaddr_in&>(a);
    const auto& y = reinterpret_cast<const sockaddr_in&>(b);
    return x.sin_port == y.sin_port && x.sin_addr.s_addr == y.sin_addr.s_addr;
  }
  const auto& x = reinterpret_cast<const sockaddr_in6&>(a);
  const auto& y = reinterpret_cast<const sockaddr_in6&>(b);
  return x.sin6_port == y.sin6_port && std::memcmp(&x.sin6_addr, &y.sin6_addr, 16) == 0;
}

bool IsLinkSocket(SOCKET s, const Link& link) {
  sockaddr_storage local{}, remote{};
  int size = sizeof local;
  if (getsockname(s, reinterpret_cast<sockaddr*>(&local), &size) != 0) return false;
  if (!SameEndpoint(local, link.local)) return false;
  size = sizeof remote;
  return getpeername(s, reinterpret_cast<sockaddr*>(&remote), &size) == 0 &&
         SameEndpoint(remote, link.remote);
}

// The socket of the request's connection, found among the process's handles
// by the addresses the functions report for it.
Link FindLink(HINTERNET request) {
  Link link;
  WINHTTP_CONNECTION_INFO info{};
  info.cbSize = sizeof info;
  DWORD size = sizeof info;
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_CONNECTION_INFO, &info, &size)) return link;
  link.local = info.LocalAddress;
  link.remote = info.RemoteAddress;
  for (UINT_PTR value = 4; value < kMaxHandleValue; value += 4) {
    // Sockets are pipes to the system; only those are asked for addresses
    // (under Wine a console would take the question to its host, later).
    if (GetFileType(reinterpret_cast<HANDLE>(value)) != FILE_TYPE_PIPE) continue;
    if (IsLinkSocket(static_cast<SOCKET>(value), link)) {
      link.socket = static_cast<SOCKET>(value);
      break;
    }
  }
  return link;
}

// Everything one exchange shares between its thread and its caller.
struct ExchangeState {
  HttpExchange request;
  std::shared_ptr<void> session;
  URL_COMPONENTS parts{};
  std::wstring url, host, path;
  std::int64_t deadlineMs = 0;  // 0: none
  DWORD threadId = 0;

  std::mutex mutex;
  std::condition_variable changed;
  bool done = false;
  bool abandoned = false;    // the verdict was given without it
  bool cut = false;          // its connection was cut at the deadline
  bool headTooLong = false;  // cut for what its reply's head cost
  // The process's resident bytes when the reply's head began to be awaited
  // (0: not awaited now).
  std::size_t headBaseline = 0;
  Link link;
  HttpReply reply;
  // What the callbacks saw: the platform's reasons for a failed handshake,
  // a connection that ended before the reply's first byte, and (when a
  // handshake is looked into) the certificate's verdict.
  DWORD secureFailure = 0;
  bool closedEarly = false;
  bool probing = false;
  std::optional<ResultCode> certificate;
};

std::int64_t LeftMs(const ExchangeState& s) {
  return s.deadlineMs == 0 ? std::numeric_limits<std::int64_t>::max()
                           : s.deadlineMs - rt::MonotonicMilliseconds();
}

std::size_t ResidentBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  return GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)
             ? counters.WorkingSetSize
             : 0;
}

// Whether the exchange's socket is known and its handle still that socket
// (the state's lock held): a handle closed meanwhile may name another.
bool HasOwnSocketLocked(const ExchangeState& s) {
  return s.link.socket != INVALID_SOCKET && IsLinkSocket(s.link.socket, s.link);
}

// Shuts the exchange's connection down (the state's lock held), so that a
// call waiting on it returns.
void ShutLocked(const ExchangeState& s) {
  if (HasOwnSocketLocked(s)) shutdown(s.link.socket, SD_BOTH);
}

// Whether the relay's bytes wait on the exchange's connection (the state's
// lock held).
bool BytesWaitingLocked(const ExchangeState& s) {
  u_long waiting = 0;
  return HasOwnSocketLocked(s) && ioctlsocket(s.link.socket, FIONREAD, &waiting) == 0 &&
         waiting > 0;
}

// The same at the deadline: whatever the call then returns is no answer.
void CutLocked(ExchangeState& s) {
  s.cut = true;
  ShutLocked(s);
}

void RememberLink(ExchangeState& s, HINTERNET request) {
  const Link link = FindLink(request);
  const std::lock_guard lock(s.mutex);
  s.link = link;
  if (s.cut) CutLocked(s);  // the deadline passed while it connected
}

// Waits (on the exchange's own thread, before the functions read the reply)
// for the reply's first byte, to tell a connection that ended without one
// from a reply that is not HTTP: the functions name both alike.
void NoteFirstByte(ExchangeState& s) {
  const SOCKET socket = s.link.socket;
  if (socket == INVALID_SOCKET || GetCurrentThreadId() != s.threadId) return;
  // A day stands for no limit (the deadline's cut ends the wait anyway).
  const std::int64_t left =
      std::min<std::int64_t>(LeftMs(s), s.request.receiveMs > 0 ? s.request.receiveMs : 86400000);
  if (left <= 0) return;
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(socket, &readable);
  timeval wait{static_cast<long>(left / 1000), static_cast<long>(left % 1000 * 1000)};
  if (select(0, &readable, nullptr, nullptr, &wait) != 1) return;
  char first = 0;
  const int n = recv(socket, &first, 1, MSG_PEEK);
  const int error = n < 0 ? WSAGetLastError() : 0;
  s.closedEarly = n == 0 || error == WSAECONNRESET || error == WSAECONNABORTED;
}

ResultCode CheckCertificate(HINTERNET request, const std::wstring& host);

void CALLBACK OnStatus(HINTERNET handle, DWORD_PTR context, DWORD status, void* info,
                       DWORD length) {
  auto* s = reinterpret_cast<ExchangeState*>(context);
  if (!s) return;
  switch (status) {
    case WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER:
      RememberLink(*s, handle);
      break;
    case WINHTTP_CALLBACK_STATUS_SECURE_FAILURE:
      if (info && length >= sizeof(DWORD)) s->secureFailure = *static_cast<DWORD*>(info);
      break;
    case WINHTTP_CALLBACK_STATUS_SENDING_REQUEST:
      // A handshake looked into ends here, before a byte of the request.
      if (s->probing) {
        s->certificate = CheckCertificate(handle, s->host);
        const std::lock_guard lock(s->mutex);
        ShutLocked(*s);
      }
      break;
    case WINHTTP_CALLBACK_STATUS_REQUEST_SENT: {
      const std::size_t resident = ResidentBytes();
      {
        const std::lock_guard lock(s->mutex);
        s->headBaseline = resident;
      }
      NoteFirstByte(*s);
      break;
    }
    default:
      break;
  }
}

// --- certificates ---

ResultCode FromCertificateError(DWORD error) {
  switch (error) {
    case 0:
      return kOk;
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
      return kHttpCertificateNameInvalid;
    case static_cast<DWORD>(CERT_E_EXPIRED):
    case static_cast<DWORD>(CERT_E_VALIDITYPERIODNESTING):
      return kHttpCertificateDateInvalid;
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
      return kHttpCertificateWrongUsage;
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
      return kHttpCertificateAuthorityInvalid;
    default:
      return kHttpSecureInvalidCertificate;
  }
}

// What is wrong with a certificate chain itself (Wine's policy check below
// passes a chain that does not reach a root).
ResultCode FromChainStatus(DWORD status) {
  if (status & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN |
                CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC)) {
    return kHttpCertificateAuthorityInvalid;
  }
  if (status & CERT_TRUST_IS_NOT_TIME_VALID) return kHttpCertificateDateInvalid;
  if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE) return kHttpCertificateWrongUsage;
  return status == 0 ? kOk : kHttpSecureInvalidCertificate;
}

// The server's certificate judged as the functions judge it: a chain to a
// trusted root, for server authentication, naming the host.
ResultCode CheckCertificate(HINTERNET request, const std::wstring& host) {
  PCCERT_CONTEXT certificate = nullptr;
  DWORD size = sizeof(PCCERT_CONTEXT);  // the option hands back the pointer itself
  if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) ||
      !certificate) {
    return kHttpSecureInvalidCertificate;
  }
  LPSTR usages[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
  CERT_CHAIN_PARA chainPara{};
  chainPara.cbSize = sizeof chainPara;
  chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
  chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
  chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
  PCCERT_CHAIN_CONTEXT chain = nullptr;
  ResultCode verdict = kHttpSecureInvalidCertificate;
  if (CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0,
                              nullptr, &chain)) {
    std::wstring name = host;
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = name.data();
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    verdict = FromChainStatus(chain->TrustStatus.dwErrorStatus);
    if (verdict == kOk) {
      verdict = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status)
                    ? FromCertificateError(status.dwError)
                    : kHttpSecureInvalidCertificate;
    }
    CertFreeCertificateChain(chain);
  }
  CertFreeCertificateContext(certificate);
  return verdict;
}

// The certificate's fault as the platform reports it, if it does.
std::optional<ResultCode> FromSecureFailure(DWORD flags) {
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return kHttpCertificateAuthorityInvalid;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) return kHttpCertificateNameInvalid;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) return kHttpCertificateDateInvalid;
  if (flags & WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE) return kHttpCertificateWrongUsage;
  constexpr DWORD kInvalid = WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CERT |
                             WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED |
                             WINHTTP_CALLBACK_STATUS_FLAG_CERT_REV_FAILED;
  if (flags & kInvalid) return kHttpSecureInvalidCertificate;
  return std::nullopt;
}

// --- one exchange, on its own thread ---

// Each phase's time-out: the object's, and never more than the time left.
void SetTimeoutsLeft(HINTERNET request, const ExchangeState& s) {
  const std::int64_t left = std::max<std::int64_t>(LeftMs(s), 1);
  const auto phase = [left](long ms) {
    const std::int64_t bound = ms > 0 ? std::min<std::int64_t>(ms, left) : left;
    return static_cast<int>(std::min<std::int64_t>(bound, std::numeric_limits<int>::max()));
  };
  const HttpExchange& x = s.request;
  const bool none = s.deadlineMs == 0;
  WinHttpSetTimeouts(request, none && x.resolveMs <= 0 ? 0 : phase(x.resolveMs),
                     none && x.connectMs <= 0 ? -1 : phase(x.connectMs),
                     none && x.sendMs <= 0 ? -1 : phase(x.sendMs),
                     none && x.receiveMs <= 0 ? -1 : phase(x.receiveMs));
  DWORD receive = none && x.receiveMs <= 0 ? INFINITE : static_cast<DWORD>(phase(x.receiveMs));
  WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &receive, sizeof receive);
}

// Proxy credentials go to the proxy alone: as a header of a request that
// goes to the proxy in the clear, as credentials for a tunnel (a header
// would go through it to the server).
void SetProxyCredentials(HINTERNET request, const ExchangeState& s, const HttpHeader& h) {
  if (s.parts.nScheme == INTERNET_SCHEME_HTTP) {
    const std::wstring line = Wide(h.name + ": " + h.value);
    WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(-1L),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
    return;
  }
  const std::string_view value = h.value;
  if (!value.starts_with("Basic ")) return;
  const std::optional<rt::Bytes> decoded = Base64Decode(value.substr(6));
  if (!decoded) return;
  const std::string pair(decoded->begin(), decoded->end());
  const std::size_t colon = pair.find(':');
  const std::wstring user = Wide(pair.substr(0, colon));
  const std::wstring password = Wide(colon == pair.npos ? "" : pair.substr(colon + 1));
  WinHttpSetCredentials(request, WINHTTP_AUTH_TARGET_PROXY, WINHTTP_AUTH_SCHEME_BASIC, user.c_str(),
                        password.c_str(), nullptr);
}

void ConfigureRequest(HINTERNET request, const ExchangeState& s) {
  DWORD off = WINHTTP_DISABLE_KEEP_ALIVE | WINHTTP_DISABLE_REDIRECTS;
  WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &off, sizeof off);
  DWORD headerBytes = static_cast<DWORD>(kMaxReplyHeaderBytes);
  WinHttpSetOption(request, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &headerBytes,
                   sizeof headerBytes);
  DWORD ignore = static_cast<DWORD>(s.request.sslIgnore) &
                 (SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE |
                  SECURITY_FLAG_IGNORE_CERT_CN_INVALID | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID);
  if (ignore) WinHttpSetOption(request, WINHTTP_OPTION_SECURITY_FLAGS, &ignore, sizeof ignore);
  if (!s.request.proxy.empty()) {
    std::wstring proxy = Wide(s.request.proxy);
    WINHTTP_PROXY_INFO info{WINHTTP_ACCESS_TYPE_NAMED_PROXY, proxy.data(), nullptr};
    WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &info, sizeof info);
  }
  for (const HttpHeader& h : s.request.headers) {
    if (rt::EqualsIgnoreCase(h.name, "Proxy-Authorization")) {
      if (!s.request.proxy.empty()) SetProxyCredentials(request, s, h);
      continue;
    }
    const std::wstring line = Wide(h.name + ": " + h.value);
    WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(-1L),
                             WINHTTP_ADDREQ_FLAG_ADD | WINHTTP_ADDREQ_FLAG_REPLACE);
  }
  WinHttpSetStatusCallback(request, OnStatus, WINHTTP_CALLBACK_FLAG_ALL_NOTIFICATIONS, 0);
}

// A header as text; empty when there is none.
std::wstring QueryHeader(HINTERNET request, DWORD query) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return {};
  std::wstring text(size / sizeof(wchar_t), L'\0');
  if (!WinHttpQueryHeaders(request, query, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return {};
  }
  text.resize(size / sizeof(wchar_t));
  return text;
}

// Status and header lines of the reply; false when they are more than a
// reply's header block may hold.
bool ReadHead(HINTERNET request, HttpReply& reply) {
  DWORD status = 0;
  DWORD size = sizeof status;
  WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                      WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
  reply.status = static_cast<long>(status);
  reply.statusText = Utf8(QueryHeader(request, WINHTTP_QUERY_STATUS_TEXT));
  std::string lines = Utf8(QueryHeader(request, WINHTTP_QUERY_RAW_HEADERS_CRLF));
  if (lines.size() > kMaxReplyHeaderBytes) return false;
  // Without the status line and the empty line that ends the block.
  const std::size_t first = lines.find("\r\n");
  lines.erase(0, first == lines.npos ? lines.size() : first + 2);
  while (lines.ends_with("\r\n\r\n")) lines.resize(lines.size() - 2);
  reply.headers = NormalizeLineEnds(lines);
  return true;
}

// The body, piece by piece as it comes, up to the cap; the deadline is
// looked at between pieces. kOk also when it was cut at the cap.
ResultCode ReadBody(HINTERNET request, const ExchangeState& s, rt::Bytes& body) {
  std::vector<char> piece(1 << 16);
  for (;;) {
    if (LeftMs(s) <= 0) return kHttpTimeout;
    SetTimeoutsLeft(request, s);
    DWORD available = 0;
    if (!WinHttpQueryDataAvailable(request, &available)) return HttpStackError(GetLastError());
    if (available == 0) return kOk;
    DWORD read = 0;
    const DWORD want = std::min<DWORD>(available, static_cast<DWORD>(piece.size()));
    if (!WinHttpReadData(request, piece.data(), want, &read)) return HttpStackError(GetLastError());
    if (read == 0) return kOk;
    const std::size_t room = s.request.maxBody - std::min(s.request.maxBody, body.size());
    body.insert(body.end(), piece.begin(), piece.begin() + std::min<std::size_t>(read, room));
    if (read > room) return kOk;  // the rest is not read: the exchange ends here
  }
}

ResultCode DiagnoseHandshake(ExchangeState& s);

// The platform's failure (its own codes and the socket codes it passes on)
// as the request object names it.
ResultCode FromFailure(ExchangeState& s, ResultCode code) {
  if ((static_cast<std::uint32_t>(code) & 0xFFFF0000u) != 0x80070000u) return code;
  switch (static_cast<DWORD>(code) & 0xFFFFu) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAESHUTDOWN:
      return kHttpConnectionError;
    case WSAETIMEDOUT:
      return kHttpTimeout;
    case WSAECONNREFUSED:
    case WSAENETUNREACH:
    case WSAEHOSTUNREACH:
      return kHttpCannotConnect;
    case WSAHOST_NOT_FOUND:
    case WSANO_DATA:
      return kHttpNameNotResolved;
    case ERROR_WINHTTP_SECURE_FAILURE:
    case ERROR_WINHTTP_SECURE_CHANNEL_ERROR:
      return DiagnoseHandshake(s);
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return s.closedEarly ? kHttpConnectionError : kHttpInvalidServerResponse;
    default:
      return code;
  }
}

// One request on a connection of the session: sent, and its reply read.
// Failures are the platform's codes.
HttpReply Exchange(ExchangeState& s, HINTERNET session, const wchar_t* method) {
  HttpReply reply;
  const auto fail = [&reply](ResultCode code) {
    reply.result = code;
    return reply;
  };
  Internet connection(WinHttpConnect(session, s.host.c_str(), s.parts.nPort, 0));
  if (!connection) return fail(HttpStackError(GetLastError()));
  const DWORD secure = s.parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
  Internet request(WinHttpOpenRequest(connection.get(), method, s.path.c_str(), nullptr,
                                      WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
  if (!request) return fail(HttpStackError(GetLastError()));
  ConfigureRequest(request.get(), s);
  SetTimeoutsLeft(request.get(), s);
  auto* body = const_cast<char*>(s.request.body.data());
  const auto length = static_cast<DWORD>(s.request.body.size());
  const auto context = reinterpret_cast<DWORD_PTR>(&s);
  const bool answered = WinHttpSendRequest(request.get(), WINHTTP_NO_ADDITIONAL_HEADERS, 0, body,
                                           length, length, context) &&
                        WinHttpReceiveResponse(request.get(), nullptr);
  const DWORD error = answered ? 0 : GetLastError();
  {
    const std::lock_guard lock(s.mutex);
    s.headBaseline = 0;
  }
  if (!answered) return fail(HttpStackError(error));
  if (!ReadHead(request.get(), reply)) return fail(kHttpHeaderSizeOverflow);
  reply.result = ReadBody(request.get(), s, reply.body);
  return reply;
}

// A handshake that lets any certificate pass, cut before its request goes
// out: the certificate's verdict, or nothing when the handshake failed. Its
// request carries nothing of the caller's (should it go out after all).
std::optional<ResultCode> ProbeHandshake(ExchangeState& s, DWORD protocols) {
  const std::shared_ptr<void> session = OpenSession(protocols);
  if (!session) return std::nullopt;
  HttpExchange request{.proxy = s.request.proxy,
                       .resolveMs = s.request.resolveMs,
                       .connectMs = s.request.connectMs,
                       .sendMs = s.request.sendMs,
                       .receiveMs = s.request.receiveMs,
                       .sslIgnore = kIgnoreAllCertificateErrors};
  std::swap(request, s.request);
  std::wstring path = L"/";
  std::swap(path, s.path);
  s.probing = true;
  s.certificate.reset();
  (void)Exchange(s, session.get(), L"HEAD");
  s.probing = false;
  std::swap(path, s.path);
  std::swap(request, s.request);
  return s.certificate;
}

// Under Wine every failed handshake is the same failure: a second look
// tells a certificate refused, a TLS version refused, and a connection that
// ended (or a failure that did not recur) apart.
ResultCode DiagnoseHandshake(ExchangeState& s) {
  if (const auto reason = FromSecureFailure(s.secureFailure)) return *reason;
  if (s.parts.nScheme != INTERNET_SCHEME_HTTPS) return kHttpSecureChannelError;
  if (const auto strict = ProbeHandshake(s, kProtocolsFrom12)) {
    return *strict != kOk ? *strict : kHttpConnectionError;
  }
  if (LeftMs(s) > 0) {
    if (const auto older = ProbeHandshake(s, kAllProtocols)) {
      return *older != kOk ? *older : kHttpSecureChannelError;
    }
  }
  return LeftMs(s) <= 0 ? kHttpTimeout : kHttpConnectionError;
}

// The whole exchange on its thread, then its reply handed over.
void RunExchange(const std::shared_ptr<ExchangeState>& state) {
  ExchangeState& s = *state;
  s.threadId = GetCurrentThreadId();
  HttpReply reply = Exchange(s, s.session.get(), Wide(s.request.method).c_str());
  const bool late = s.deadlineMs != 0 && LeftMs(s) <= 0;
  bool cut = false, headTooLong = false;
  {
    const std::lock_guard lock(s.mutex);
    cut = s.cut;
    headTooLong = s.headTooLong;
  }
  // Whatever a call returned once its connection was cut, or after the
  // deadline, is no answer.
  if (headTooLong) {
    reply = {.result = kHttpHeaderSizeOverflow};
  } else if (cut || (late && reply.result < 0)) {
    reply = {.result = kHttpTimeout, .overLimit = true};
  } else if (reply.result < 0) {
    reply = {.result = FromFailure(s, reply.result)};
    if (reply.result == kHttpTimeout && s.deadlineMs != 0 && LeftMs(s) <= 0) reply.overLimit = true;
  }
  const std::lock_guard lock(s.mutex);
  s.reply = std::move(reply);
  s.done = true;
  s.link = {};
  if (s.abandoned) --AbandonedExchangeCount();
  s.changed.notify_all();
}

class WinHttpTransport final : public HttpTransport {
 public:
  WinHttpTransport() : session_(OpenSession(kProtocolsFrom12)) {}

  HttpReply Perform(const HttpExchange& x) override {
    if (!session_) return {.result = kHttpConnectionError};
    auto state = std::make_shared<ExchangeState>();
    ExchangeState& s = *state;
    if (!SplitUrl(x.url, s)) return {.result = kHttpInvalidUrl};
    s.request = x;
    s.session = session_;
    if (x.limitMs > 0) s.deadlineMs = rt::MonotonicMilliseconds() + x.limitMs;
    try {
      std::thread([state] { RunExchange(state); }).detach();
    } catch (...) {
      return {.result = kFail};
    }
    std::unique_lock lock(s.mutex);
    if (!AwaitOrCut(lock, s)) {
      // Its connection could not be cut: it reads on until the server stops.
      s.abandoned = true;
      ++AbandonedExchangeCount();
      return {.result = s.headTooLong ? kHttpHeaderSizeOverflow : kHttpTimeout,
              .overLimit = !s.headTooLong};
    }
    return std::move(s.reply);
  }

 private:
  // Waits for the exchange (the state's lock held), looking at it every so
  // often: at its deadline, or once its reply's head has cost too much, its
  // connection is cut, and it gets a second more. False when it did not end.
  static bool AwaitOrCut(std::unique_lock<std::mutex>& lock, ExchangeState& s) {
    const auto done = [&s] { return s.done; };
    while (!s.done) {
      const std::int64_t left = LeftMs(s);
      const bool tooLong = s.headBaseline != 0 &&
                           ResidentBytes() > s.headBaseline + kHeadMemoryBound &&
                           BytesWaitingLocked(s);
      if (left <= 0 || tooLong) {
        s.headTooLong = tooLong;
        CutLocked(s);
        return s.changed.wait_for(lock, std::chrono::milliseconds(kGraceMs), done);
      }
      s.changed.wait_for(lock, std::chrono::milliseconds(std::min(left, kLookMs)), done);
    }
    return true;
  }

  static bool SplitUrl(const std::string& url, ExchangeState& s) {
    s.url = Wide(url);
    URL_COMPONENTS& parts = s.parts;
    parts.dwStructSize = sizeof parts;
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(s.url.c_str(), static_cast<DWORD>(s.url.size()), 0, &parts)) return false;
    s.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    s.path.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    s.path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (s.path.empty()) s.path = L"/";
    return true;
  }

  std::shared_ptr<void> session_;
};

}  // namespace

std::shared_ptr<Component> MakeWinHttpRequest() {
  return MakeHttpRequest(std::make_unique<WinHttpTransport>());
}

}  // namespace web
