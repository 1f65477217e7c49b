#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "app/reminder.h"
#include "runtime/codepage.h"
#include "runtime/datetime_text.h"
#include "runtime/value.h"
#include "web/reply_text.h"
#include "web/web_request.h"

namespace app {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

// The public relay's address, the build's default.
constexpr std::string_view kDefaultPushBaseUrl = REMINDER_DEFAULT_PUSH_BASE_URL;

// Keys of the form "sctp" + digits + "t" + ... are served by their own host
// when the public relay is in use; another relay serves them itself.
std::optional<std::string> KeyHost(std::string_view key, std::string_view pushBaseUrl) {
  if (pushBaseUrl != kDefaultPushBaseUrl || key.substr(0, 4) != "sctp") return std::nullopt;
  std::size_t end = 4;
  while (end < key.size() && IsAsciiDigit(key[end])) ++end;
  if (end == 4 || end >= key.size() || key[end] != 't') return std::nullopt;
  return "https://" + std::string(key.substr(4, end - 4)) + ".push.ft07.com/send/";
}

// Percent-encodes a path segment (of the UTF-8 form of the text).
std::string EncodePathSegment(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : rt::GbkToUtf8(text)) {
    const bool unreserved = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || IsAsciiDigit(c) ||
                            c == '-' || c == '.' || c == '_' || c == '~';
    if (unreserved) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 15]);
    }
  }
  return out;
}

// The value of the reply's "code" member, when it has one.
std::optional<std::string> ReplyCode(std::string_view reply) {
  const auto key = reply.find("\"code\"");
  if (key == std::string_view::npos) return std::nullopt;
  std::size_t i = key + 6;
  auto skipBlanks = [&] {
    while (i < reply.size() &&
           (reply[i] == ' ' || reply[i] == '\t' || reply[i] == '\r' || reply[i] == '\n')) {
      ++i;
    }
  };
  skipBlanks();
  if (i >= reply.size() || reply[i] != ':') return std::nullopt;
  ++i;
  skipBlanks();
  const bool quoted = i < reply.size() && reply[i] == '"';
  if (quoted) ++i;
  const std::size_t start = i;
  while (i < reply.size() && (IsAsciiDigit(reply[i]) || reply[i] == '-')) ++i;
  return std::string(reply.substr(start, i - start));
}

// Why no answer came, from the failure code of the exchange.
std::string NoAnswerReason(std::int32_t code) {
  switch (static_cast<std::uint32_t>(code)) {
    case 0x80072EE2:  // time-out
      return "未收到回复: 超时";
    case 0x80072EFD:  // cannot connect
    case 0x80072EE7:  // name not resolved
    case 0x80072EFE:  // connection aborted
    case 0x80072EFF:  // connection reset
      return "未收到回复: 无法连接";
    case 0x80072F8F:  // secure channel failure
    case 0x80072F0D:  // unknown authority
    case 0x80072F06:  // name mismatch
    case 0x80072F05:  // expired
    case 0x80072F17:  // wrong usage
      return "未收到回复: 证书被拒绝";
    default:
      return rt::FormatText("未收到回复 (错误 0x%08X)", static_cast<unsigned>(code));
  }
}

}  // namespace

std::string FileText(const rt::Bytes& bytes) {
  std::string_view raw(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  if (raw.substr(0, kUtf8Bom.size()) == kUtf8Bom) raw.remove_prefix(kUtf8Bom.size());
  raw = raw.substr(0, raw.find('\0'));
  const bool ascii = std::all_of(raw.begin(), raw.end(), [](char c) { return c >= 0; });
  if (!ascii && rt::IsValidUtf8(raw)) return rt::Utf8ToGbk(raw);
  return std::string(raw);
}

std::string KeyFromFileText(std::string_view text) {
  constexpr std::string_view kAround = " \t\r\n";
  const auto first = text.find_first_not_of(kAround);
  if (first == std::string_view::npos) return {};
  return std::string(text.substr(first, text.find_last_not_of(kAround) - first + 1));
}

std::vector<std::string> ScheduleLines(std::string_view text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    if (end > start) lines.emplace_back(text.substr(start, end - start));
    start = end + 1;
  }
  if (lines.empty()) lines.emplace_back(kDefaultScheduleLine);
  return lines;
}

std::string RequestAddress(const Settings& settings, std::string_view key) {
  return KeyHost(key, settings.pushBaseUrl).value_or(settings.pushBaseUrl) +
         EncodePathSegment(key) + ".send";
}

std::string LogStamp(rt::DateTime when) {
  return rt::FormatDateTime(when, "yyyy-MM-dd", " hh:mm:ss", true);
}

std::string FormBody(std::string_view title, std::string_view body) {
  return rt::JoinTexts("text=", title, "&desp=", body);
}

Composition ComposeReminder(rt::Clock& clock, std::string_view siteUrl) {
  const auto stamp = [&clock] {
    return rt::FormatDateTime(rt::NowLocal(clock), "dd", " hh:mm", true);
  };
  Composition c;
  c.title = rt::JoinTexts("鹤溪堂整点报时:", stamp());
  const std::string bodyStamp = stamp();
  const std::string hourStart =
      rt::FormatDateTime(rt::NowLocal(clock), "yyyy-MM-dd ", "hh:", true) + "00:00";
  const std::string hourLink = rt::ToUnixTimestamp(rt::TextToDateTime(hourStart), true, true);
  c.body = rt::JoinTexts("整点抢购已完成,请注意查看  \r\n", bodyStamp,
                         "\r\n  [立即前往星河速览网](", siteUrl, "/#", hourLink, ")           ");
  return c;
}

bool DeliveryAccepted(int status, std::string_view reply) {
  if (status < 200 || status > 299) return false;
  const auto code = ReplyCode(reply);
  return !code || *code == "0";
}

std::string SafeReply(std::string_view reply, std::string_view key) {
  std::string out;
  out.reserve(reply.size());
  for (char c : reply) {
    const auto b = static_cast<unsigned char>(c);
    const bool control = (b < 0x20 && c != '\r' && c != '\n' && c != '\t') || b == 0x7F;
    out.push_back(control ? '?' : c);
  }
  // The relay may echo the request address; the key stays off the screen.
  if (key.size() >= 4) out = rt::ReplaceText(out, key, "***");
  return out;
}

void PushReminder(const std::string& key, const std::string& title, const std::string& body) {
  AppContext& ctx = Context();
  int status = 0;
  std::int32_t sendResult = 0;
  web::WebRequestArgs args;
  args.url = RequestAddress(ctx.settings, key);
  args.method = 1;
  args.bodyText = FormBody(title, body);
  args.statusCode = &status;
  args.timeoutSeconds = ctx.timeoutSeconds;
  args.sendResult = &sendResult;
  const rt::Bytes answer = web::WebRequest(args);
  const std::string reply = web::DecodeUnicodeEscapes(web::Utf8ToGbk(answer));

  const bool accepted = DeliveryAccepted(status, reply);
  ctx.console->Write(rt::JoinTexts(LogStamp(rt::NowLocal(*ctx.clock)),
                                   accepted ? "  推送完成\r\n" : "  推送失败\r\n"));
  const std::string shown =
      status == 0 && answer.empty() ? NoAnswerReason(sendResult) : SafeReply(reply, key);
  ctx.console->Write(rt::JoinTexts(LogStamp(rt::NowLocal(*ctx.clock)), " ", shown, "\r\n\r\n"));
}

}  // namespace app
