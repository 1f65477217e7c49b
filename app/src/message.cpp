#include "app/message.h"

#include "crontab/explain.h"
#include "runtime/codepage.h"
#include "runtime/datetime_text.h"
#include "runtime/text.h"
#include "web/percent_encoding.h"

namespace app {
namespace {

// True for the code of a character beyond the basic plane: four bytes from
// 90 30 81 30 on. It is two UTF-16 units and four UTF-8 bytes.
bool BeyondBasicPlane(std::string_view text, std::size_t i, std::size_t len) {
  return len == 4 && static_cast<unsigned char>(text[i]) >= 0x90;
}

// At most maxUnits UTF-16 units, as the relay counts a title's characters
// (an emoji is two), never half of a character.
std::string_view TitlePrefix(std::string_view text, std::size_t maxUnits) {
  std::size_t end = 0;
  std::size_t units = 0;
  while (end < text.size()) {
    const std::size_t len = rt::CharLength(text, end);
    const std::size_t n = BeyondBasicPlane(text, end, len) ? 2 : 1;
    if (units + n > maxUnits) break;
    units += n;
    end += len;
  }
  return text.substr(0, end);
}

// At most maxBytes in UTF-8, counting each character at its longest (three
// bytes, four beyond the basic plane), never half of one.
std::string_view Utf8Prefix(std::string_view text, std::size_t maxBytes) {
  std::size_t end = 0;
  std::size_t bytes = 0;
  while (end < text.size()) {
    const std::size_t len = rt::CharLength(text, end);
    const std::size_t utf8 = static_cast<unsigned char>(text[end]) < 0x80 ? 1
                             : BeyondBasicPlane(text, end, len)           ? 4
                                                                          : 3;
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
    c.title = TitlePrefix(rt::JoinTexts(taskName, stamp()), kMaxTitleChars);
    const std::string end = rt::JoinTexts("\r\n\r\n", stamp());
    c.body = rt::JoinTexts(Utf8Prefix(message, kMaxBodyBytes - end.size()), end);
    return c;
  }
  const bool named = !taskName.empty() && taskName != kDefaultTaskName;
  c.title = TitlePrefix(
      rt::JoinTexts("鹤溪堂整点报时:", stamp(), named ? " " : "", named ? taskName : ""),
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
  return rt::JoinTexts("text=", web::FormEncode(rt::TextToUtf8(title)),
                       "&desp=", web::FormEncode(rt::TextToUtf8(body)));
}

}  // namespace app
