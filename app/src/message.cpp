#include "app/message.h"

#include "crontab/explain.h"
#include "runtime/codepage.h"
#include "runtime/datetime_text.h"
#include "runtime/text.h"
#include "web/percent_encoding.h"

namespace app {
namespace {

// At most maxChars characters, never half of one.
std::string_view CharPrefix(std::string_view text, std::size_t maxChars) {
  std::size_t end = 0;
  for (std::size_t n = 0; end < text.size() && n < maxChars; ++n) end += rt::CharLength(text, end);
  return text.substr(0, end);
}

// At most maxBytes in UTF-8, counting each double-byte character at its
// longest (three bytes), never half of one.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
  std::size_t end = 0;
  std::size_t bytes = 0;
  while (end < text.size()) {
    const std::size_t len = rt::CharLength(text, end);
    const std::size_t utf8 = rt::IsLeadByte(text[end]) ? 3 : 1;
    if (bytes + utf8 > maxBytes) break;
    bytes += utf8;
    end += len;
  }
  return text.substr(0, end);
}

}  // namespace

TaskLine SplitTaskLine(std::string_view line) {
  const cron::TaskLineParts parts = cron::SplitTaskLine(line);
  return {std::string(parts.schedule), std::string(parts.name), std::string(parts.message)};
}

std::string TaskLine::Text() const {
  return message.empty() ? schedule : rt::JoinTexts(schedule, " ", message);
}

Composition ComposeReminder(rt::Clock& clock, std::string_view siteUrl, std::string_view taskName,
                            std::string_view message) {
  const auto stamp = [&clock] {
    return rt::FormatDateTime(rt::NowLocal(clock), "dd", " hh:mm", true);
  };
  Composition c;
  if (!message.empty()) {
    c.title = CharPrefix(rt::JoinTexts(taskName, stamp()), kMaxTitleChars);
    const std::string end = rt::JoinTexts("\r\n\r\n", stamp());
    c.body = rt::JoinTexts(Utf8Prefix(message, kMaxBodyBytes - end.size()), end);
    return c;
  }
  const bool named = !taskName.empty() && taskName != kDefaultTaskName;
  c.title =
      CharPrefix(rt::JoinTexts("鹤溪堂整点报时:", stamp(), named ? " " : "", named ? taskName : ""),
                 kMaxTitleChars);
  const std::string bodyStamp = stamp();
  const std::string hourStart =
      rt::FormatDateTime(rt::NowLocal(clock), "yyyy-MM-dd ", "hh:", true) + "00:00";
  const std::string hourLink = rt::ToUnixTimestamp(rt::TextToDateTime(hourStart), true, true);
  c.body = rt::JoinTexts("整点抢购已完成,请注意查看  \r\n", bodyStamp,
                         "\r\n  [立即前往星河速览网](", siteUrl, "/#", hourLink, ")           ");
  return c;
}

std::string FormBody(std::string_view title, std::string_view body) {
  return rt::JoinTexts("text=", web::FormEncode(rt::GbkToUtf8(title)),
                       "&desp=", web::FormEncode(rt::GbkToUtf8(body)));
}

}  // namespace app
