#include "app/message.h"

#include <gtest/gtest.h>

#include "form_fields.h"
#include "runtime/codepage.h"
#include "scripted_console.h"

namespace app {
namespace {

const std::string kSaleBody =
    "整点抢购已完成,请注意查看  \r\n 09:01\r\n  [立即前往星河速览网](https://site.example/"
    "#1796518800)           ";

TEST(SplitTaskLine, TheSchedulerGetsEightItemsTheRestIsTheMessage) {
  const std::string fields = "0 0 12 * * * * ";
  struct Case {
    std::string line, schedule, name, message;
  } cases[] = {
      {fields + "午饭", fields + "午饭", "午饭", ""},
      {fields + "午饭 吃饭了", fields + "午饭", "午饭", "吃饭了"},
      // As written inside, blanks (full-width too) trimmed only at the end.
      {fields + "午饭 吃饭  了 a+b=c&d 　 ", fields + "午饭", "午饭", "吃饭  了 a+b=c&d"},
      {fields + "午饭  带空格", fields + "午饭", "午饭", " 带空格"},
      // No message text: the blanks after the name go too, so the line is
      // the task without them.
      {fields + "午饭 ", fields + "午饭", "午饭", ""},
      {fields + "午饭   ", fields + "午饭", "午饭", ""},
      {fields + "午饭 　", fields + "午饭", "午饭", ""},
      // No name: the line as written, for the scheduler to judge.
      {fields + " ", fields + " ", "", ""},
      {"1 2 3 ", "1 2 3 ", "", ""},
      {"", "", "", ""},
      // A blank after a lead byte belongs to its character, as the scheduler reads it.
      {fields + "\x81 x", fields + "\x81 x", "\x81 x", ""},
      {fields + "\x81 x y", fields + "\x81 x", "\x81 x", "y"},
  };
  for (const auto& c : cases) {
    const TaskLine got = SplitTaskLine(c.line);
    EXPECT_EQ(got.schedule, c.schedule) << c.line;
    EXPECT_EQ(got.name, c.name) << c.line;
    EXPECT_EQ(got.message, c.message) << c.line;
  }
}

TEST(ComposeReminder, EachKindOfTaskSaysWhatItIs) {
  struct Case {
    std::string name, message, title, body;
  } cases[] = {
      {"", "", "鹤溪堂整点报时: 09:01", kSaleBody},  // the test reminder
      {"定时提醒", "", "鹤溪堂整点报时: 09:01", kSaleBody},
      {"午饭", "", "鹤溪堂整点报时: 09:01 午饭", kSaleBody},
      {"午饭", "吃饭了 & 休息", "午饭 09:01", "吃饭了 & 休息\r\n\r\n 09:01"},
      {"定时提醒", "喝水", "定时提醒 09:01", "喝水\r\n\r\n 09:01"},
  };
  FixedClock clock;
  for (const auto& c : cases) {
    const Composition got = ComposeReminder(clock, "https://site.example", c.name, c.message);
    EXPECT_EQ(got.title, c.title) << c.name;
    EXPECT_EQ(got.body, c.body) << c.name;
  }
}

int Chars(std::string_view text) {
  return static_cast<int>(rt::Utf8ToWide(rt::TextToUtf8(text)).size());
}

TEST(ComposeReminder, TitlesAndBodiesStayWithinTheRelaysLimits) {
  FixedClock clock;
  std::string longName;
  for (int i = 0; i < 40; ++i) longName += "长";
  // The sale title keeps 17 characters of the name; characters, not bytes.
  const Composition named = ComposeReminder(clock, "https://s", longName);
  EXPECT_EQ(named.title, "鹤溪堂整点报时: 09:01 " + longName.substr(0, 34));
  EXPECT_EQ(Chars(named.title), 32);
  const Composition mixed =
      ComposeReminder(clock, "https://s", std::string(31, 'a') + longName, "m");
  EXPECT_EQ(mixed.title, std::string(31, 'a') + "长");
  // The relay counts UTF-16 units: an emoji is two, and never cut in half.
  const std::string emoji = "\x94\x39\xFC\x36";
  const std::string chinese31 = longName.substr(0, 62);
  const Composition cut = ComposeReminder(clock, "https://s", chinese31 + emoji, "m");
  EXPECT_EQ(cut.title, chinese31);
  const Composition fits = ComposeReminder(clock, "https://s", longName.substr(0, 60) + emoji, "m");
  EXPECT_EQ(fits.title, longName.substr(0, 60) + emoji);
  EXPECT_EQ(Chars(fits.title), 32);

  const std::string end = "\r\n\r\n 09:01";
  const Composition ascii = ComposeReminder(clock, "https://s", "n", std::string(40000, 'x'));
  EXPECT_EQ(ascii.body, std::string(kMaxBodyBytes - end.size(), 'x') + end);
  std::string chinese;
  for (int i = 0; i < 20000; ++i) chinese += "中";
  const Composition wide = ComposeReminder(clock, "https://s", "n", chinese);
  EXPECT_LE(rt::TextToUtf8(wide.body).size(), kMaxBodyBytes);
  EXPECT_GT(rt::TextToUtf8(wide.body).size(), kMaxBodyBytes - 3);
  ASSERT_TRUE(wide.body.ends_with(end));
  EXPECT_EQ((wide.body.size() - end.size()) % 2, 0u);  // whole characters
  // Four UTF-8 bytes beyond the basic plane, three for the one-byte euro sign.
  for (const std::string unit : {"\x94\x39\xFC\x36", "\x80"}) {
    std::string many;
    for (int i = 0; i < 12000; ++i) many += unit;
    const Composition body = ComposeReminder(clock, "https://s", "n", many);
    const std::size_t utf8 = rt::TextToUtf8(body.body).size();
    EXPECT_LE(utf8, kMaxBodyBytes);
    EXPECT_GT(utf8, kMaxBodyBytes - 4);
    EXPECT_EQ((body.body.size() - end.size()) % unit.size(), 0u);
  }
}

// A form parser gives back exactly the composed texts, whatever they hold.
TEST(FormBody, AFormParserReadsBackTheExactTexts) {
  const std::string texts[] = {
      "鹤溪堂整点报时: 09:01", kSaleBody, "a&b=c+d%20e%zz 100% #[x] \r\n第二行\t?/;=", "", "~-._ +",
  };
  for (const auto& title : texts) {
    for (const auto& body : texts) {
      const std::string form = FormBody(title, body);
      EXPECT_EQ(form.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                                       "0123456789-._~%+=&"),
                std::string::npos)
          << form;
      const auto fields = FormFields(form);
      ASSERT_EQ(fields.size(), 2u) << form;
      EXPECT_EQ(rt::Utf8ToText(fields.at("text")), title);
      EXPECT_EQ(rt::Utf8ToText(fields.at("desp")), body);
    }
  }
}

}  // namespace
}  // namespace app
