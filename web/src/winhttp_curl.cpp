// The HTTP request component on libcurl: one synchronous exchange per Send,
// with the members and the defaults of the platform's request object.
#include "winhttp_curl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "runtime/codepage.h"
#include "runtime/text.h"
#include "url.h"
#include "web/header_text.h"
#include "web/web_request.h"

namespace web {
namespace {

constexpr ResultCode kInvalidHeader = HttpStackError(12153);

std::mutex& TestAuthorityMutex() {
  static std::mutex m;
  return m;
}
std::string& TestAuthorityFile() {
  static std::string path;
  return path;
}

void GlobalInit() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

std::string ToUtf8(const Variant& v) {
  if (const auto* w = std::get_if<std::u16string>(&v)) return rt::WideToUtf8(*w);
  return rt::GbkToUtf8(VariantToText(v));
}

long ToLong(const Variant& v) {
  return static_cast<long>(VariantToNumber(v));
}

std::u16string FromWire(std::string_view bytes) {
  if (rt::IsValidUtf8(bytes)) return rt::Utf8ToWide(bytes);
  std::u16string wide;
  for (char c : bytes) wide += static_cast<char16_t>(static_cast<unsigned char>(c));
  return wide;
}

// HTTP/1.1 over http and https to the address given, and nothing else: no
// other protocol, no redirect of the library's own, header names as the
// server writes them (HTTP/2 would lower-case them), an HTTP proxy only.
void LimitProtocols(CURL* c) {
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
  // Headers meant for the proxy go to the proxy only, never into a tunnel.
  curl_easy_setopt(c, CURLOPT_HEADEROPT, static_cast<long>(CURLHEADER_SEPARATE));
}

// A line as the library passes it on, without the CR and LF at its end.
std::string_view WithoutLineEnd(std::string_view line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
  return line;
}

// One header line as received, its line end made CR LF whatever the server
// sent, so that a split at CR LF leaves none inside a line.
void AppendHeaderLine(std::string& headers, std::string_view line) {
  headers += NormalizeLineEnds(WithoutLineEnd(line));
  headers += "\r\n";
}

// The value of the first header of that name in headers as received. They
// are wire bytes (UTF-8 or Latin-1), not program text: the search goes byte
// by byte, so a byte that would lead a double-byte character in code page
// 936 cannot hide the line end after it.
std::optional<std::string> FindWireHeader(std::string_view headers, std::string_view name) {
  for (const HeaderLine& h : ScanHeaderLines(headers, HeaderBytes::kWire)) {
    if (!h.hasColon || !rt::EqualsIgnoreCase(h.name, name)) continue;
    // HTTP's optional white space: blanks and tabs (rt::TrimText, for code
    // page 936 texts, takes the full-width blank and leaves tabs).
    std::string_view value = h.value;
    constexpr std::string_view kBlanks = " \t";
    value.remove_prefix(std::min(value.find_first_not_of(kBlanks), value.size()));
    value = value.substr(0, value.find_last_not_of(kBlanks) + 1);
    return std::string(value);
  }
  return std::nullopt;
}

ResultCode FromCurl(CURLcode rc) {
  switch (rc) {
    case CURLE_OK:
      return kOk;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
      return kHttpNameNotResolved;
    case CURLE_COULDNT_CONNECT:
      return kHttpCannotConnect;
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_ABORTED_BY_CALLBACK:
      return kHttpTimeout;
    case CURLE_URL_MALFORMAT:
      return kHttpInvalidUrl;
    case CURLE_UNSUPPORTED_PROTOCOL:
      // The address was checked to be http or https before: this is a reply
      // without a status line (HTTP/0.9, or no HTTP at all).
      return kHttpInvalidServerResponse;
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
      return kHttpCertificateAuthorityInvalid;
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
      return kHttpSecureFailure;
    case CURLE_SSL_CONNECT_ERROR:
      return kHttpSecureChannelError;
    case CURLE_GOT_NOTHING:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
      return kHttpConnectionError;  // closed or reset without an answer
    case CURLE_WEIRD_SERVER_REPLY:
      return kHttpInvalidServerResponse;
    default:
      return kHttpConnectionError;
  }
}

struct FreeSlist {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, FreeSlist>;

// A line added at the end of a list; the list stays as it was when the
// library cannot add it.
void Append(SlistPtr& list, const std::string& line) {
  if (curl_slist* grown = curl_slist_append(list.get(), line.c_str())) {
    (void)list.release();
    list.reset(grown);
  }
}

struct Header {
  std::string name;   // UTF-8
  std::string value;  // UTF-8
};

class CurlHttpRequest final : public Component {
 public:
  CurlHttpRequest() : curl_(curl_easy_init()) {
    // The handle lives as long as the object, so its connections and its
    // cookie store carry over from one exchange to the next.
    if (curl_) curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");
  }
  ~CurlHttpRequest() override {
    if (curl_) curl_easy_cleanup(curl_);
  }
  CurlHttpRequest(const CurlHttpRequest&) = delete;
  CurlHttpRequest& operator=(const CurlHttpRequest&) = delete;

  ResultCode Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                    Variant& result) override {
    const bool put = kind == AccessKind::kPropertyPut;
    if (rt::EqualsIgnoreCase(member, "SetTimeouts")) return SetTimeouts(args);
    if (rt::EqualsIgnoreCase(member, "SetProxy")) return SetProxy(args);
    if (rt::EqualsIgnoreCase(member, "Open")) return Open(args);
    if (rt::EqualsIgnoreCase(member, "Option"))
      return put ? PutOption(args) : GetOption(args, result);
    if (rt::EqualsIgnoreCase(member, "SetRequestHeader")) return SetRequestHeader(args);
    if (rt::EqualsIgnoreCase(member, "Send")) return Send(args);
    if (rt::EqualsIgnoreCase(member, "WaitForResponse")) return WaitForResponse(args, result);
    if (rt::EqualsIgnoreCase(member, "Abort")) return Abort();
    if (rt::EqualsIgnoreCase(member, "ResponseBody")) return Response(result, body_);
    if (rt::EqualsIgnoreCase(member, "ResponseText")) {
      return Response(result, FromWire(std::string(body_.begin(), body_.end())));
    }
    if (rt::EqualsIgnoreCase(member, "GetAllResponseHeaders"))
      return Response(result, FromWire(rawHeaders_));
    if (rt::EqualsIgnoreCase(member, "GetResponseHeader")) return GetResponseHeader(args, result);
    if (rt::EqualsIgnoreCase(member, "Status"))
      return Response(result, static_cast<std::int32_t>(status_));
    if (rt::EqualsIgnoreCase(member, "StatusText")) return Response(result, FromWire(statusText_));
    return kUnknownName;
  }

 private:
  ResultCode SetTimeouts(std::span<Variant> args) {
    if (args.size() != 4) return kBadParamCount;
    resolveMs_ = ToLong(args[0]);
    connectMs_ = ToLong(args[1]);
    sendMs_ = ToLong(args[2]);
    receiveMs_ = ToLong(args[3]);
    return kOk;
  }

  ResultCode SetProxy(std::span<Variant> args) {
    if (args.empty()) return kBadParamCount;
    const long setting = ToLong(args[0]);
    proxy_.clear();
    if (setting == kProxySettingProxy) {
      if (args.size() < 2) return kBadParamCount;
      proxy_ = ToUtf8(args[1]);
    }
    return kOk;
  }

  ResultCode Open(std::span<Variant> args) {
    if (args.size() < 2) return kBadParamCount;
    ClearResponse();
    headers_.clear();
    unsafe_ = false;
    method_ = rt::UpperCase(ToUtf8(args[0]));
    url_ = ToUtf8(args[1]);
    async_ = args.size() > 2 && VariantToNumber(args[2]) != 0;
    pending_ = false;
    opened_ = true;
    return kOk;
  }

  ResultCode PutOption(std::span<Variant> args) {
    if (args.size() != 2) return kBadParamCount;
    const long index = ToLong(args[0]);
    if (index == kOptionEnableRedirects) {
      redirects_ = VariantToNumber(args[1]) != 0;
    } else if (index == kOptionSslErrorIgnoreFlags) {
      sslIgnore_ = ToLong(args[1]);
    } else if (index == kOptionMaxResponseBytes) {
      maxBody_ = static_cast<std::size_t>(std::max(ToLong(args[1]), 0L));
    }
    return kOk;
  }

  ResultCode GetOption(std::span<Variant> args, Variant& result) {
    if (args.size() != 1) return kBadParamCount;
    const long index = ToLong(args[0]);
    if (index == kOptionEnableRedirects) {
      result = redirects_;
    } else if (index == kOptionSslErrorIgnoreFlags) {
      result = static_cast<std::int32_t>(sslIgnore_);
    } else {
      result = std::int32_t{0};
    }
    return kOk;
  }

  ResultCode SetRequestHeader(std::span<Variant> args) {
    if (args.size() != 2) return kBadParamCount;
    if (!opened_) return kHttpCannotCallBeforeOpen;
    Header h{ToUtf8(args[0]), ToUtf8(args[1])};
    // A header that would split on the wire is refused, and so is the
    // whole exchange.
    if (h.name.empty()) return kInvalidHeader;
    if (!IsWireSafe(h.name) || !IsWireSafe(h.value)) {
      unsafe_ = true;
      return kInvalidHeader;
    }
    for (Header& existing : headers_) {
      if (rt::EqualsIgnoreCase(existing.name, h.name)) {
        existing.value = std::move(h.value);
        return kOk;
      }
    }
    headers_.push_back(std::move(h));
    return kOk;
  }

  ResultCode GetResponseHeader(std::span<Variant> args, Variant& result) {
    if (args.size() != 1) return kBadParamCount;
    if (!hasResponse_) return kHttpCannotCallBeforeSend;
    if (const auto value = FindWireHeader(rawHeaders_, ToUtf8(args[0]))) {
      result = FromWire(*value);
      return kOk;
    }
    return kHttpHeaderNotFound;
  }

  template <class T>
  ResultCode Response(Variant& result, T value) {
    if (!hasResponse_) return kHttpCannotCallBeforeSend;
    result = std::move(value);
    return kOk;
  }

  void ClearResponse() {
    hasResponse_ = false;
    status_ = 0;
    statusText_.clear();
    body_.clear();
    rawHeaders_.clear();
  }

  ResultCode Send(std::span<Variant> args) {
    ClearResponse();
    if (!opened_) return kHttpCannotCallBeforeOpen;
    if (!curl_) return kHttpConnectionError;
    if (unsafe_ || !IsWireSafe(url_)) return kInvalidHeader;
    if (!IsHttpUrl(url_)) return kHttpUnrecognizedScheme;
    if (!IsHttpProxyAddress(proxy_)) return kHttpInvalidUrl;

    std::string body;
    if (!args.empty()) {
      if (const auto* bytes = std::get_if<rt::Bytes>(&args[0])) {
        body.assign(bytes->begin(), bytes->end());
      } else if (const auto* w = std::get_if<std::u16string>(&args[0])) {
        body = rt::WideToUtf8(*w);  // text bodies travel as UTF-8
      }
    }

    // Asynchronous: the exchange runs while the caller waits for it, under
    // the time-out the caller waits with.
    if (async_) {
      pendingBody_ = std::move(body);
      pending_ = true;
      return kOk;
    }
    // One exchange: redirects are followed by the guard around this object.
    return Finish(Perform(method_, url_, headers_, body, 0));
  }

  ResultCode WaitForResponse(std::span<Variant> args, Variant& result) {
    if (!pending_) {
      if (!hasResponse_) return kHttpCannotCallBeforeSend;
      result = true;
      return kOk;
    }
    const double seconds = args.empty() ? -1 : VariantToNumber(args[0]);
    // The library's own overall limit (0: none).
    const long limitMs = seconds < 0 ? 0 : static_cast<long>(std::min(seconds, 2e6) * 1000) + 1;
    pending_ = false;
    const CURLcode rc = Perform(method_, url_, headers_, pendingBody_, limitMs);
    pendingBody_.clear();
    if (rc == CURLE_OPERATION_TIMEDOUT && limitMs > 0) {
      ClearResponse();
      result = false;  // still not answered: the caller aborts
      return kOk;
    }
    const ResultCode finished = Finish(rc);
    result = finished >= 0;
    return finished;
  }

  ResultCode Abort() {
    pending_ = false;
    pendingBody_.clear();
    ClearResponse();
    return kOk;
  }

  ResultCode Finish(CURLcode rc) {
    // A reply cut at the size limit is an answer all the same.
    if (rc == CURLE_WRITE_ERROR && truncated_) rc = CURLE_OK;
    if (rc != CURLE_OK) {
      ClearResponse();
      return FromCurl(rc);
    }
    long code = 0;
    curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &code);
    status_ = code;
    hasResponse_ = true;
    return kOk;
  }

  CURLcode Perform(const std::string& method, const std::string& url,
                   const std::vector<Header>& headers, const std::string& body, long limitMs) {
    // Every option an exchange depends on is set here each time (no reset:
    // it would drop the cookie store).
    CURL* c = curl_;
    StartExchange(limitMs);
    curl_easy_setopt(c, CURLOPT_URL, url.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, proxy_.c_str());  // empty: no proxy
    SetCertificateChecks();
    LimitProtocols(c);
    SetMethod(method, body);
    // Both lists outlive the exchange and are detached before they go.
    const HeaderLists lists = SetHeaders(headers);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &CurlHttpRequest::OnHeader);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &CurlHttpRequest::OnBody);
    curl_easy_setopt(c, CURLOPT_WRITEDATA, this);

    const CURLcode rc = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(c, CURLOPT_PROXYHEADER, nullptr);
    return rc;
  }

  // A clean reply and the time limits: the whole exchange (0: none), the
  // connection, and moving no byte (OnProgress).
  void StartExchange(long limitMs) {
    body_.clear();
    rawHeaders_.clear();
    statusText_.clear();
    truncated_ = false;
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, limitMs);
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS,
                     connectMs_ > 0 ? std::max(resolveMs_, 0L) + connectMs_ : 0L);
    idleMs_ = sendMs_ > 0 && receiveMs_ > 0 ? std::max(sendMs_, receiveMs_) : 0;
    lastProgressUs_ = 0;
    lastBytes_ = 0;
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CurlHttpRequest::OnProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
  }

  void SetCertificateChecks() {
    const bool ignoreAuthority =
        (sslIgnore_ & (kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreCertDateInvalid)) != 0;
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, ignoreAuthority ? 0L : 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, (sslIgnore_ & kIgnoreCertCnInvalid) ? 0L : 2L);
    std::string authorityFile;
    {
      const std::lock_guard lock(TestAuthorityMutex());
      authorityFile = TestAuthorityFile();
    }
    if (!authorityFile.empty()) curl_easy_setopt(curl_, CURLOPT_CAINFO, authorityFile.c_str());
  }

  // The body is the caller's: it stays alive until the exchange ends.
  void SetMethod(const std::string& method, const std::string& body) {
    curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, nullptr);
    if (method == "HEAD") {
      curl_easy_setopt(curl_, CURLOPT_NOBODY, 1L);
    } else if (method == "GET" && body.empty()) {
      curl_easy_setopt(curl_, CURLOPT_HTTPGET, 1L);
    } else {
      if (method != "POST") curl_easy_setopt(curl_, CURLOPT_CUSTOMREQUEST, method.c_str());
      curl_easy_setopt(curl_, CURLOPT_POST, 1L);
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
      curl_easy_setopt(curl_, CURLOPT_POSTFIELDS, body.data());
    }
  }

  struct HeaderLists {
    SlistPtr server, proxy;
  };

  // Only the caller's headers: none of the library's own defaults.
  HeaderLists SetHeaders(const std::vector<Header>& headers) {
    HeaderLists lists;
    curl_easy_setopt(curl_, CURLOPT_COOKIE, nullptr);
    bool hasAccept = false, hasContentType = false;
    for (const Header& h : headers) {
      if (RouteHeader(h, lists.proxy)) continue;
      hasAccept = hasAccept || rt::EqualsIgnoreCase(h.name, "Accept");
      hasContentType = hasContentType || rt::EqualsIgnoreCase(h.name, "Content-Type");
      Append(lists.server, h.value.empty() ? h.name + ";" : h.name + ": " + h.value);
    }
    if (!hasAccept) Append(lists.server, "Accept:");
    if (!hasContentType) Append(lists.server, "Content-Type:");
    Append(lists.server, "Expect:");
    curl_easy_setopt(curl_, CURLOPT_HTTPHEADER, lists.server.get());
    curl_easy_setopt(curl_, CURLOPT_PROXYHEADER, lists.proxy.get());
    return lists;
  }

  // Headers that do not go to the server in the caller's list: proxy
  // credentials go to the proxy alone (into the tunnel request, not through
  // it), and the caller's cookies join those of the object's own store in
  // one Cookie header.
  bool RouteHeader(const Header& h, SlistPtr& proxyList) {
    if (rt::EqualsIgnoreCase(h.name, "Proxy-Authorization")) {
      Append(proxyList, h.name + ": " + h.value);
      return true;
    }
    if (rt::EqualsIgnoreCase(h.name, "Cookie")) {
      curl_easy_setopt(curl_, CURLOPT_COOKIE, h.value.c_str());
      return true;
    }
    return false;
  }

  static std::size_t OnHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto* r = static_cast<CurlHttpRequest*>(self);
    const std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
      // A new response (after an interim one): its status line is not a header.
      r->rawHeaders_.clear();
      const std::size_t sp1 = line.find(' ');
      const std::size_t sp2 = sp1 == line.npos ? line.npos : line.find(' ', sp1 + 1);
      r->statusText_ = sp2 == line.npos
                           ? std::string()
                           : std::string(WithoutLineEnd(rt::TrimText(line.substr(sp2 + 1))));
    } else {
      AppendHeaderLine(r->rawHeaders_, line);
    }
    return size * count;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* r = static_cast<CurlHttpRequest*>(self);
    const std::size_t n = size * count;
    const std::size_t room = r->maxBody_ - std::min(r->maxBody_, r->body_.size());
    r->body_.insert(r->body_.end(), data, data + std::min(n, room));
    if (n <= room) return n;
    r->truncated_ = true;  // the rest is not read: the exchange ends here
    return 0;
  }

  // Ends an exchange that has moved no byte for the send/receive time-out,
  // counted from the moment the connection stands.
  static int OnProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                        curl_off_t ulnow) {
    (void)dltotal;
    (void)ultotal;
    auto* r = static_cast<CurlHttpRequest*>(self);
    // The exchange's own clock (<chrono> does not build with the program's
    // execution character set).
    curl_off_t now = 0;
    curl_easy_getinfo(r->curl_, CURLINFO_TOTAL_TIME_T, &now);
    curl_off_t connectTime = 0;
    curl_easy_getinfo(r->curl_, CURLINFO_CONNECT_TIME_T, &connectTime);
    const curl_off_t moved = dlnow + ulnow;
    if (connectTime == 0 || moved != r->lastBytes_) {
      r->lastBytes_ = moved;
      r->lastProgressUs_ = now;
      return 0;
    }
    if (r->idleMs_ <= 0) return 0;
    return now - r->lastProgressUs_ >= curl_off_t{r->idleMs_} * 1000 ? 1 : 0;
  }

  CURL* curl_;
  // The object's defaults, as the platform's: resolve without limit,
  // connect 60 s, send and receive 30 s.
  long resolveMs_ = 0;
  long connectMs_ = 60000;
  long sendMs_ = 30000;
  long receiveMs_ = 30000;
  std::string proxy_;
  bool redirects_ = true;
  long sslIgnore_ = 0;

  std::size_t maxBody_ = SIZE_MAX;
  bool truncated_ = false;

  bool opened_ = false;
  bool unsafe_ = false;
  bool async_ = false;
  bool pending_ = false;  // sent asynchronously, not yet performed
  std::string pendingBody_;
  std::string method_;
  std::string url_;
  std::vector<Header> headers_;

  bool hasResponse_ = false;
  long status_ = 0;
  std::string statusText_;
  rt::Bytes body_;
  std::string rawHeaders_;

  long idleMs_ = 0;
  curl_off_t lastProgressUs_ = 0;
  curl_off_t lastBytes_ = 0;
};

}  // namespace

std::shared_ptr<Component> MakeCurlHttpRequest() {
  GlobalInit();
  auto request = std::make_shared<CurlHttpRequest>();
  return request;
}

void SetTrustedAuthorityFileForTesting(std::string pemPath) {
  const std::lock_guard lock(TestAuthorityMutex());
  TestAuthorityFile() = std::move(pemPath);
}

}  // namespace web
