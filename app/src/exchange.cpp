// One exchange with the relay and its verdict.
#include "app/exchange.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>

#include "app/message.h"
#include "app/reminder.h"
#include "runtime/codepage.h"
#include "runtime/text.h"
#include "shown_reply.h"
#include "web/percent_encoding.h"
#include "web/web_request.h"

namespace app {
namespace {

constexpr std::string_view kTruncatedMark = "…(回复过长，已截断)";

// The public relay's address, the build's default.
constexpr std::string_view kDefaultPushBaseUrl = REMINDER_DEFAULT_PUSH_BASE_URL;

// Keys of the form "sctp" + digits + "t" + ... are served by their own host
// when the public relay is in use; another relay serves them itself.
std::optional<std::string> KeyHost(std::string_view key, std::string_view pushBaseUrl) {
  if (pushBaseUrl != kDefaultPushBaseUrl || key.substr(0, 4) != "sctp") return std::nullopt;
  std::size_t end = 4;
  while (end < key.size() && rt::IsAsciiDigit(key[end])) ++end;
  if (end == 4 || end >= key.size() || key[end] != 't') return std::nullopt;
  return rt::JoinTexts(kKeyHostScheme, key.substr(4, end - 4), kKeyHostRest);
}

// Percent-encodes a path segment (of the UTF-8 form of the text).
std::string EncodePathSegment(std::string_view text) {
  return web::PercentEncode(rt::TextToUtf8(text));
}

// Each failure the web layer names: the console's words for it, and
// whether another try may well get past it. A reply that is plainly not the
// relay's (not HTTP, header lines or interim replies without end) is not:
// another try meets the same server.
struct Failure {
  web::ResultCode code;
  std::string_view reason;
  bool retry;
};
constexpr Failure kFailures[] = {
    {web::kHttpNameNotResolved, "无法解析域名", true},
    {web::kHttpCannotConnect, "无法连接", true},
    {web::kHttpConnectionError, "连接被关闭", true},
    {web::kHttpTimeout, "超时", true},
    {web::kHttpInvalidServerResponse, "回复不是HTTP应答", false},
    {web::kHttpHeaderSizeOverflow, "回复头过长", false},
    {web::kHttpCertificateAuthorityInvalid, "证书被拒绝", false},
    {web::kHttpCertificateNameInvalid, "证书被拒绝", false},
    {web::kHttpCertificateDateInvalid, "证书被拒绝", false},
    {web::kHttpCertificateWrongUsage, "证书被拒绝", false},
    {web::kHttpSecureInvalidCertificate, "证书被拒绝", false},
    {web::kHttpSecureChannelError, "安全连接失败", false},
    {web::kHttpSecureFailure, "安全连接失败", false},
    {web::kHttpRedirectFailed, "重定向过多", false},
    {web::kHttpRedirectRefused, "重定向被拒绝", false},
    {web::kClassNotRegistered, "无法创建请求", false},
};

const Failure* FailureOf(std::int32_t code) {
  const auto* found = std::find_if(std::begin(kFailures), std::end(kFailures),
                                   [code](const Failure& f) { return f.code == code; });
  return found == std::end(kFailures) ? nullptr : found;
}

// Why the exchange ended without an answer, from its failure code.
std::string NoAnswerReason(std::int32_t code) {
  if (const Failure* failure = FailureOf(code)) {
    return rt::JoinTexts("未收到回复: ", failure->reason);
  }
  return rt::FormatText("未收到回复 (错误 0x%08X)", static_cast<unsigned>(code));
}

bool WorthRetrying(std::int32_t code) {
  const Failure* failure = FailureOf(code);
  return failure && failure->retry;
}

// The relay's verdict in a JSON object: "code" (or the older "errno") of 0,
// or neither, is acceptance.
bool RelayAccepted(const nlohmann::json& reply) {
  for (const char* name : {"code", "errno"}) {
    const auto it = reply.find(name);
    if (it == reply.end()) continue;
    if (it->is_number_integer()) return it->get<std::int64_t>() == 0;
    if (it->is_number_float()) return it->get<double>() == 0;
    return it->is_string() && it->get_ref<const std::string&>() == "0";
  }
  return true;
}

// The relay's own words for a refusal, if it gave any.
std::optional<std::string> RelayMessage(const nlohmann::json& reply) {
  for (const char* name : {"message", "errmsg", "info"}) {
    const auto it = reply.find(name);
    if (it != reply.end() && it->is_string() && !it->get_ref<const std::string&>().empty()) {
      return rt::Utf8ToText(it->get_ref<const std::string&>());
    }
  }
  return std::nullopt;
}

}  // namespace

std::string RequestAddress(const Settings& settings, std::string_view key) {
  return KeyHost(key, settings.pushBaseUrl).value_or(settings.pushBaseUrl) +
         EncodePathSegment(key) + ".send";
}

ExchangeOutcome JudgeExchange(int status, std::int32_t sendResult, const rt::Bytes& answer,
                              std::string_view key) {
  if (sendResult < 0 || (status == 0 && answer.empty())) {
    return {.detail = NoAnswerReason(sendResult), .retry = WorthRetrying(sendResult)};
  }
  // Decoded, then the key masked, then cut: escapes shrink, so where a key
  // stands against the cut is known only once the reply is decoded. Decoded
  // as far as the shown part and well past it: every key that reaches into
  // the shown part is then seen whole (one written in escapes three deep is
  // at most 216 times its length).
  const std::size_t enough = kShownReplyBytes + std::max<std::size_t>(64 * 1024, 256 * key.size());
  std::string reply =
      SafeReply(DecodedReply(answer.size() > kMaxReplyBytes
                                 ? rt::Bytes(answer.begin(), answer.begin() + kMaxReplyBytes)
                                 : answer,
                             enough),
                key, kShownReplyBytes);
  // A reply as long as the bound was most likely cut on the way.
  if (answer.size() >= kMaxReplyBytes && !reply.ends_with(kTruncatedMark)) reply += kTruncatedMark;
  if (status < 200 || status > 299) {
    // Busy or broken for now: another try may get through. Other refusals stand.
    return {.detail = rt::TrimText(rt::FormatText("HTTP %d ", status) + reply),
            .status = status,
            .retry = status == 429 || (status >= 500 && status <= 599)};
  }
  const auto json = nlohmann::json::parse(answer.begin(), answer.end(), nullptr, false);
  if (!json.is_object()) {
    return {.detail = rt::TrimText("回复不是中转站的应答 " + reply), .status = status};
  }
  if (RelayAccepted(json)) return {.accepted = true, .detail = reply, .status = status};
  const auto message = RelayMessage(json);
  return {.detail = message ? SafeReply(*message, key, kShownReplyBytes) : reply, .status = status};
}

std::optional<int> RetryDelaySeconds(int tries) {
  switch (tries) {
    case 1:
      return 10;
    case 2:
      return 30;
    default:
      return std::nullopt;
  }
}

std::string SafeReply(std::string_view reply, std::string_view key, std::size_t maxBytes) {
  // The relay may echo the request address in any form; masked in the whole
  // text before the cut, so that no piece of the key stays at the cut.
  const std::string masked = MaskKey(reply, key);
  const std::string_view shown = rt::TextPrefix(masked, maxBytes);
  std::string out = rt::PrintableText(shown);
  if (shown.size() < masked.size()) out += kTruncatedMark;
  return out;
}

ExchangeOutcome Exchange(const AppContext& ctx, const std::string& key, const std::string& title,
                         const std::string& body) {
  int status = 0;
  std::int32_t sendResult = 0;
  web::WebRequestArgs args;
  args.url = RequestAddress(ctx.settings, key);
  args.method = web::kMethodPost;
  args.bodyText = FormBody(title, body);
  args.statusCode = &status;
  const int timeout = ctx.timeoutSeconds.value_or(kExchangeTimeoutSeconds);
  args.timeoutSeconds = timeout;
  // Whatever the relay does (trickling, a chain of redirects), the
  // exchange ends within the time-out.
  args.deadlineSeconds = timeout;
  args.maxReplyBytes = kMaxReplyBytes;
  args.sendResult = &sendResult;
  const rt::Bytes answer = web::WebRequest(args);
  return JudgeExchange(status, sendResult, answer, key);
}

}  // namespace app
