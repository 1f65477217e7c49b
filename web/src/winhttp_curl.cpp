// The HTTP request component on libcurl: one synchronous exchange per Send,
// with the members and the defaults of the platform's request object.
#include "winhttp_curl.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>

#include "http_request.h"
#include "runtime/text.h"
#include "web/header_text.h"
#include "web/web_request.h"

namespace web {
namespace {

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

// HTTP/1.1 over http and https to the address given, and nothing else: no
// other protocol, no redirect of the library's own, header names as the
// server writes them (HTTP/2 would lower-case them), an HTTP proxy only,
// TLS 1.2 or later.
void LimitProtocols(CURL* c) {
  curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(c, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
  curl_easy_setopt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
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

// Why a reply stopped being read before its end, when it was our choice.
enum class Cut { kNone, kBody, kHeaders, kInterim };

class CurlTransport final : public HttpTransport {
 public:
  CurlTransport() : curl_(curl_easy_init()) {
    // The handle lives as long as the object, so its connections and its
    // cookie store carry over from one exchange to the next.
    if (curl_) curl_easy_setopt(curl_, CURLOPT_COOKIEFILE, "");
  }
  ~CurlTransport() override {
    if (curl_) curl_easy_cleanup(curl_);
  }
  CurlTransport(const CurlTransport&) = delete;
  CurlTransport& operator=(const CurlTransport&) = delete;

  HttpReply Perform(const HttpExchange& x) override {
    if (!curl_) return {.result = kHttpConnectionError};
    // Every option an exchange depends on is set here each time (no reset:
    // it would drop the cookie store).
    CURL* c = curl_;
    StartExchange(x);
    curl_easy_setopt(c, CURLOPT_URL, x.url.c_str());
    curl_easy_setopt(c, CURLOPT_PROXY, x.proxy.c_str());  // empty: no proxy
    SetCertificateChecks(x.sslIgnore);
    LimitProtocols(c);
    SetMethod(x.method, x.body);
    // Both lists outlive the exchange and are detached before they go.
    const HeaderLists lists = SetHeaders(x.headers);
    const CURLcode rc = curl_easy_perform(c);
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
    curl_easy_setopt(c, CURLOPT_PROXYHEADER, nullptr);
    return Finish(rc, x.limitMs > 0);
  }

 private:
  // A clean reply and the time limits: the whole exchange (0: none), the
  // connection, and moving no byte (OnProgress).
  void StartExchange(const HttpExchange& x) {
    reply_ = {};
    maxBody_ = x.maxBody;
    cut_ = Cut::kNone;
    headerBytes_ = 0;
    interim_ = 0;
    tlsPiecesIn_ = 0;
    curl_easy_setopt(curl_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl_, CURLOPT_TIMEOUT_MS, x.limitMs);
    curl_easy_setopt(curl_, CURLOPT_CONNECTTIMEOUT_MS,
                     x.connectMs > 0 ? std::max(x.resolveMs, 0L) + x.connectMs : 0L);
    idleMs_ = x.sendMs > 0 && x.receiveMs > 0 ? std::max(x.sendMs, x.receiveMs) : 0;
    lastProgressUs_ = 0;
    lastBytes_ = 0;
    curl_easy_setopt(curl_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(curl_, CURLOPT_XFERINFOFUNCTION, &CurlTransport::OnProgress);
    curl_easy_setopt(curl_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(curl_, CURLOPT_HEADERFUNCTION, &CurlTransport::OnHeader);
    curl_easy_setopt(curl_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(curl_, CURLOPT_WRITEFUNCTION, &CurlTransport::OnBody);
    curl_easy_setopt(curl_, CURLOPT_WRITEDATA, this);
    // The trace is how a failed handshake tells whether the server said a
    // word of TLS before the connection ended; nothing of it is printed.
    curl_easy_setopt(curl_, CURLOPT_DEBUGFUNCTION, &CurlTransport::OnTrace);
    curl_easy_setopt(curl_, CURLOPT_DEBUGDATA, this);
    curl_easy_setopt(curl_, CURLOPT_VERBOSE, 1L);
  }

  HttpReply Finish(CURLcode rc, bool limited) {
    if (cut_ == Cut::kBody)
      rc = CURLE_OK;  // a reply cut at the size limit is an answer all the same
    HttpReply reply;
    if (rc == CURLE_OK) {
      reply = std::move(reply_);
      curl_easy_getinfo(curl_, CURLINFO_RESPONSE_CODE, &reply.status);
      return reply;
    }
    reply.result = Reason(rc);
    reply.overLimit = limited && rc == CURLE_OPERATION_TIMEDOUT;
    return reply;
  }

  // The failure as the platform's stack names it, from what the library
  // and the exchange saw.
  ResultCode Reason(CURLcode rc) const {
    if (cut_ == Cut::kHeaders) return kHttpHeaderSizeOverflow;
    if (cut_ == Cut::kInterim) return kHttpInvalidServerResponse;
    long osError = 0;
    curl_easy_getinfo(curl_, CURLINFO_OS_ERRNO, &osError);
    // A connection closed or reset before the server answered the
    // handshake is a closed connection, not a refusal.
    if (rc == CURLE_SSL_CONNECT_ERROR && (tlsPiecesIn_ == 0 || osError == ECONNRESET)) {
      return kHttpConnectionError;
    }
    if (rc == CURLE_PEER_FAILED_VERIFICATION) {
      // The chain's verdict (X509_V_ERR_*); 0 or "unspecified" when the
      // chain passed and the library found the name wrong itself.
      long verify = 0;
      curl_easy_getinfo(curl_, CURLINFO_SSL_VERIFYRESULT, &verify);
      switch (verify) {
        case 0:
        case 1:
        case 62:  // host name mismatch
        case 64:  // address mismatch
          return kHttpCertificateNameInvalid;
        case 9:   // not yet valid
        case 10:  // expired
          return kHttpCertificateDateInvalid;
        default:
          break;
      }
    }
    return FromCurl(rc);
  }

  void SetCertificateChecks(long sslIgnore) {
    const bool ignoreAuthority =
        (sslIgnore & (kIgnoreUnknownCa | kIgnoreWrongUsage | kIgnoreCertDateInvalid)) != 0;
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYPEER, ignoreAuthority ? 0L : 1L);
    curl_easy_setopt(curl_, CURLOPT_SSL_VERIFYHOST, (sslIgnore & kIgnoreCertCnInvalid) ? 0L : 2L);
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
  HeaderLists SetHeaders(const std::vector<HttpHeader>& headers) {
    HeaderLists lists;
    curl_easy_setopt(curl_, CURLOPT_COOKIE, nullptr);
    bool hasAccept = false, hasContentType = false;
    for (const HttpHeader& h : headers) {
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
  bool RouteHeader(const HttpHeader& h, SlistPtr& proxyList) {
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
    auto* t = static_cast<CurlTransport*>(self);
    const std::string_view line(data, size * count);
    // Header lines without end, or interim replies without end, are no
    // answer: the exchange stops there (returning less than given).
    t->headerBytes_ += line.size();
    if (t->headerBytes_ > kMaxReplyHeaderBytes) {
      t->cut_ = Cut::kHeaders;
      return 0;
    }
    if (line.starts_with("HTTP/")) {
      const std::size_t sp1 = line.find(' ');
      const std::size_t sp2 = sp1 == line.npos ? line.npos : line.find(' ', sp1 + 1);
      if (sp1 != line.npos && line.substr(sp1 + 1, 1) == "1" &&
          ++t->interim_ > kMaxInterimReplies) {
        t->cut_ = Cut::kInterim;
        return 0;
      }
      // A new response (after an interim one): its status line is not a header.
      t->reply_.headers.clear();
      t->reply_.statusText = sp2 == line.npos
                                 ? std::string()
                                 : std::string(WithoutLineEnd(rt::TrimText(line.substr(sp2 + 1))));
    } else {
      AppendHeaderLine(t->reply_.headers, line);
    }
    return size * count;
  }

  static std::size_t OnBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto* t = static_cast<CurlTransport*>(self);
    const std::size_t n = size * count;
    rt::Bytes& body = t->reply_.body;
    const std::size_t room = t->maxBody_ - std::min(t->maxBody_, body.size());
    body.insert(body.end(), data, data + std::min(n, room));
    if (n <= room) return n;
    t->cut_ = Cut::kBody;  // the rest is not read: the exchange ends here
    return 0;
  }

  static int OnTrace(CURL*, curl_infotype type, char*, std::size_t, void* self) {
    if (type == CURLINFO_SSL_DATA_IN) ++static_cast<CurlTransport*>(self)->tlsPiecesIn_;
    return 0;
  }

  // Ends an exchange that has moved no byte for the send/receive time-out,
  // counted from the moment the connection stands.
  static int OnProgress(void* self, curl_off_t dltotal, curl_off_t dlnow, curl_off_t ultotal,
                        curl_off_t ulnow) {
    (void)dltotal;
    (void)ultotal;
    auto* t = static_cast<CurlTransport*>(self);
    // The exchange's own clock (<chrono> does not build with the program's
    // execution character set).
    curl_off_t now = 0;
    curl_easy_getinfo(t->curl_, CURLINFO_TOTAL_TIME_T, &now);
    curl_off_t connectTime = 0;
    curl_easy_getinfo(t->curl_, CURLINFO_CONNECT_TIME_T, &connectTime);
    const curl_off_t moved = dlnow + ulnow;
    if (connectTime == 0 || moved != t->lastBytes_) {
      t->lastBytes_ = moved;
      t->lastProgressUs_ = now;
      return 0;
    }
    if (t->idleMs_ <= 0) return 0;
    return now - t->lastProgressUs_ >= curl_off_t{t->idleMs_} * 1000 ? 1 : 0;
  }

  CURL* curl_;
  HttpReply reply_;
  std::size_t maxBody_ = SIZE_MAX;
  Cut cut_ = Cut::kNone;
  std::size_t headerBytes_ = 0;
  int interim_ = 0;
  long tlsPiecesIn_ = 0;  // pieces of TLS the server sent
  long idleMs_ = 0;
  curl_off_t lastProgressUs_ = 0;
  curl_off_t lastBytes_ = 0;
};

}  // namespace

std::shared_ptr<Component> MakeCurlHttpRequest() {
  GlobalInit();
  return MakeHttpRequest(std::make_unique<CurlTransport>());
}

void SetTrustedAuthorityFileForTesting(std::string pemPath) {
  const std::lock_guard lock(TestAuthorityMutex());
  TestAuthorityFile() = std::move(pemPath);
}

}  // namespace web
