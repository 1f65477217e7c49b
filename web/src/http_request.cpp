#include "http_request.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <utility>

#include "runtime/codepage.h"
#include "runtime/text.h"
#include "url.h"
#include "web/header_text.h"
#include "web/web_request.h"

namespace web {
namespace {

constexpr ResultCode kInvalidHeader = HttpStackError(12153);

std::string ToUtf8(const Variant& v) {
  if (const auto* w = std::get_if<std::u16string>(&v)) return rt::WideToUtf8(*w);
  return rt::TextToUtf8(VariantToText(v));
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

// The members of the platform's request object; each Send is one exchange
// of the transport (redirects are followed by the guard around this object).
class HttpRequest final : public Component {
 public:
  explicit HttpRequest(std::unique_ptr<HttpTransport> transport)
      : transport_(std::move(transport)) {}

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
    if (rt::EqualsIgnoreCase(member, "ResponseBody")) return Response(result, reply_.body);
    if (rt::EqualsIgnoreCase(member, "ResponseText")) {
      return Response(result, FromWire(std::string(reply_.body.begin(), reply_.body.end())));
    }
    if (rt::EqualsIgnoreCase(member, "GetAllResponseHeaders"))
      return Response(result, FromWire(reply_.headers));
    if (rt::EqualsIgnoreCase(member, "GetResponseHeader")) return GetResponseHeader(args, result);
    if (rt::EqualsIgnoreCase(member, "Status"))
      return Response(result, static_cast<std::int32_t>(reply_.status));
    if (rt::EqualsIgnoreCase(member, "StatusText"))
      return Response(result, FromWire(reply_.statusText));
    return kUnknownName;
  }

 private:
  ResultCode SetTimeouts(std::span<Variant> args) {
    if (args.size() != 4) return kBadParamCount;
    request_.resolveMs = ToLong(args[0]);
    request_.connectMs = ToLong(args[1]);
    request_.sendMs = ToLong(args[2]);
    request_.receiveMs = ToLong(args[3]);
    return kOk;
  }

  ResultCode SetProxy(std::span<Variant> args) {
    if (args.empty()) return kBadParamCount;
    const long setting = ToLong(args[0]);
    request_.proxy.clear();
    if (setting == kProxySettingProxy) {
      if (args.size() < 2) return kBadParamCount;
      request_.proxy = ToUtf8(args[1]);
    }
    return kOk;
  }

  ResultCode Open(std::span<Variant> args) {
    if (args.size() < 2) return kBadParamCount;
    ClearResponse();
    request_.headers.clear();
    unsafe_ = false;
    request_.method = rt::UpperCase(ToUtf8(args[0]));
    request_.url = ToUtf8(args[1]);
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
      request_.sslIgnore = ToLong(args[1]);
    } else if (index == kOptionMaxResponseBytes) {
      request_.maxBody = static_cast<std::size_t>(std::max(ToLong(args[1]), 0L));
    }
    return kOk;
  }

  ResultCode GetOption(std::span<Variant> args, Variant& result) const {
    if (args.size() != 1) return kBadParamCount;
    const long index = ToLong(args[0]);
    if (index == kOptionEnableRedirects) {
      result = redirects_;
    } else if (index == kOptionSslErrorIgnoreFlags) {
      result = static_cast<std::int32_t>(request_.sslIgnore);
    } else {
      result = std::int32_t{0};
    }
    return kOk;
  }

  ResultCode SetRequestHeader(std::span<Variant> args) {
    if (args.size() != 2) return kBadParamCount;
    if (!opened_) return kHttpCannotCallBeforeOpen;
    HttpHeader h{ToUtf8(args[0]), ToUtf8(args[1])};
    // A header that would split on the wire is refused, and so is the
    // whole exchange.
    if (h.name.empty()) return kInvalidHeader;
    if (!IsWireSafe(h.name) || !IsWireSafe(h.value)) {
      unsafe_ = true;
      return kInvalidHeader;
    }
    for (HttpHeader& existing : request_.headers) {
      if (rt::EqualsIgnoreCase(existing.name, h.name)) {
        existing.value = std::move(h.value);
        return kOk;
      }
    }
    request_.headers.push_back(std::move(h));
    return kOk;
  }

  ResultCode GetResponseHeader(std::span<Variant> args, Variant& result) const {
    if (args.size() != 1) return kBadParamCount;
    if (!hasResponse_) return kHttpCannotCallBeforeSend;
    if (const auto value = FindWireHeader(reply_.headers, ToUtf8(args[0]))) {
      result = FromWire(*value);
      return kOk;
    }
    return kHttpHeaderNotFound;
  }

  template <class T>
  ResultCode Response(Variant& result, T value) const {
    if (!hasResponse_) return kHttpCannotCallBeforeSend;
    result = std::move(value);
    return kOk;
  }

  void ClearResponse() {
    hasResponse_ = false;
    reply_ = {};
  }

  ResultCode Send(std::span<Variant> args) {
    ClearResponse();
    if (!opened_) return kHttpCannotCallBeforeOpen;
    if (!transport_) return kHttpConnectionError;
    if (unsafe_ || !IsWireSafe(request_.url)) return kInvalidHeader;
    if (!IsHttpUrl(request_.url)) return kHttpUnrecognizedScheme;
    if (!IsHttpProxyAddress(request_.proxy)) return kHttpInvalidUrl;

    request_.body.clear();
    if (!args.empty()) {
      if (const auto* bytes = std::get_if<rt::Bytes>(&args[0])) {
        request_.body.assign(bytes->begin(), bytes->end());
      } else if (const auto* w = std::get_if<std::u16string>(&args[0])) {
        request_.body = rt::WideToUtf8(*w);  // text bodies travel as UTF-8
      }
    }
    // Asynchronous: the exchange runs while the caller waits for it, under
    // the time-out the caller waits with.
    if (async_) {
      pending_ = true;
      return kOk;
    }
    request_.limitMs = 0;
    return Finish(transport_->Perform(request_));
  }

  ResultCode WaitForResponse(std::span<Variant> args, Variant& result) {
    if (!pending_) {
      if (!hasResponse_) return kHttpCannotCallBeforeSend;
      result = true;
      return kOk;
    }
    const double seconds = args.empty() ? -1 : VariantToNumber(args[0]);
    // The whole exchange's limit; the least is a millisecond (0: none).
    request_.limitMs = seconds < 0 ? 0 : static_cast<long>(std::min(seconds, 2e6) * 1000) + 1;
    pending_ = false;
    HttpReply reply = transport_->Perform(request_);
    request_.body.clear();
    if (reply.overLimit) {
      ClearResponse();
      result = false;  // still not answered: the caller gives up
      return kOk;
    }
    const ResultCode finished = Finish(std::move(reply));
    result = finished >= 0;
    return finished;
  }

  ResultCode Abort() {
    pending_ = false;
    request_.body.clear();
    ClearResponse();
    return kOk;
  }

  ResultCode Finish(HttpReply reply) {
    if (reply.result < 0) {
      ClearResponse();
      return reply.result;
    }
    reply_ = std::move(reply);
    hasResponse_ = true;
    return kOk;
  }

  std::unique_ptr<HttpTransport> transport_;
  // The object's defaults, as the platform's: resolve without limit,
  // connect 60 s, send and receive 30 s.
  HttpExchange request_{.connectMs = 60000, .sendMs = 30000, .receiveMs = 30000};
  bool redirects_ = true;
  bool opened_ = false;
  bool unsafe_ = false;
  bool async_ = false;
  bool pending_ = false;  // sent asynchronously, not yet performed

  bool hasResponse_ = false;
  HttpReply reply_;
};

}  // namespace

std::shared_ptr<Component> MakeHttpRequest(std::unique_ptr<HttpTransport> transport) {
  return std::make_shared<HttpRequest>(std::move(transport));
}

std::atomic<int>& AbandonedExchangeCount() {
  static std::atomic<int> count{0};
  return count;
}

int AbandonedExchanges() {
  return AbandonedExchangeCount().load();
}

}  // namespace web
