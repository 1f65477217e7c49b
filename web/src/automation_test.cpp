#include "web/automation.h"

#include <gtest/gtest.h>

#include "runtime/codepage.h"

namespace web {
namespace {

// Answers a few members; records the last put.
class Calculator : public Component {
 public:
  ResultCode Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                    Variant& result) override {
    if (member == "Add" && kind == AccessKind::kMethod && args.size() == 2) {
      result = VariantToNumber(args[0]) + VariantToNumber(args[1]);
      return kOk;
    }
    if (member == "Name" && kind == AccessKind::kPropertyGet) {
      result = rt::TextToWide("名字");
      return kOk;
    }
    if (member == "Flag" && kind == AccessKind::kPropertyGet) {
      result = true;
      return kOk;
    }
    if (member == "Cell" && kind == AccessKind::kPropertyPut && args.size() == 2) {
      lastIndex = VariantToNumber(args[0]);
      lastValue = VariantToNumber(args[1]);
      return kOk;
    }
    if (member == "Upper" && args.size() == 1) {
      // Changes the caller's text in place.
      auto& w = std::get<std::u16string>(args[0]);
      for (auto& c : w) c = c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
      return kOk;
    }
    if (member == "Fail") {
      if (!args.empty()) args[0] = rt::TextToWide("left");
      return kException;
    }
    return kUnknownName;
  }
  double lastIndex = 0, lastValue = 0;
};

class AutomationTest : public testing::Test {
 protected:
  void SetUp() override {
    RegisterComponent("Test.Calculator", [this] {
      auto c = std::make_shared<Calculator>();
      last = c;
      return c;
    });
  }
  void TearDown() override { RegisterComponent("Test.Calculator", nullptr); }
  std::shared_ptr<Calculator> last;
};

TEST_F(AutomationTest, UnknownProgIdLeavesTheValueEmpty) {
  AutomationObject o;
  EXPECT_FALSE(CreateAutomationObject(o, "No.Such.Thing"));
  EXPECT_EQ(o.instance, nullptr);
  EXPECT_LT(o.lastResult, 0);
  EXPECT_EQ(ReadPropertyText(o, "Name"), "");
  EXPECT_EQ(o.lastResult, kInvalidPointer);
  EXPECT_EQ(CallMethodNumber(o, "Add", {1, 2}), 0);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(ReadPropertyVariant(o, "Name").value));
  ReleaseAutomationObject(o);  // harmless
  EXPECT_EQ(o.lastResult, kOk);
}

TEST_F(AutomationTest, CallsByNameAndConverts) {
  AutomationObject o;
  ASSERT_TRUE(CreateAutomationObject(o, "test.calculator"));  // names ignore case
  EXPECT_EQ(CallMethodNumber(o, "Add", {2, 0.5}), 2.5);
  EXPECT_EQ(CallMethodText(o, "Add", {2, 0.5}), "2.5");
  EXPECT_EQ(ReadPropertyText(o, "Name"), "名字");
  EXPECT_EQ(ReadPropertyNumber(o, "Name"), 0);  // a string is no number
  EXPECT_EQ(ReadPropertyNumber(o, "Flag"), -1);
  WriteProperty(o, "Cell", {4, 0x3300});
  EXPECT_EQ(last->lastIndex, 4);
  EXPECT_EQ(last->lastValue, 0x3300);
  CallMethod(o, "Missing");
  EXPECT_EQ(o.lastResult, kUnknownName);
  ReleaseAutomationObject(o);
}

TEST_F(AutomationTest, ByReferenceTextsAreWrittenBack) {
  AutomationObject o;
  ASSERT_TRUE(CreateAutomationObject(o, "Test.Calculator"));
  std::string text = "abc中";
  CallMethod(o, "Upper", {Arg::Ref(text)});
  EXPECT_EQ(text, "ABC中");
  std::string byValue = "abc";
  CallMethod(o, "Upper", {byValue});
  EXPECT_EQ(byValue, "abc");
  // Also when the member fails.
  std::string left;
  CallMethod(o, "Fail", {Arg::Ref(left)});
  EXPECT_EQ(left, "left");
  EXPECT_EQ(o.lastResult, kException);
}

TEST_F(AutomationTest, CopySharesTheInstance) {
  AutomationObject a, b;
  ASSERT_TRUE(CreateAutomationObject(a, "Test.Calculator"));
  CopyAutomationObject(b, a);
  EXPECT_EQ(a.instance.use_count(), 3);  // a, b and the test's own pointer
  ReleaseAutomationObject(a);
  EXPECT_EQ(b.instance.use_count(), 2);
  EXPECT_EQ(CallMethodNumber(b, "Add", {1, 1}), 2);
  ReleaseAutomationObject(b);
}

TEST(Variant, Bytes) {
  VariantValue v;
  EXPECT_EQ(std::get<std::int32_t>(v.value), 0);
  EXPECT_FALSE(VariantFromBytes(v, {}));
  EXPECT_EQ(std::get<std::int32_t>(v.value), 0);
  ASSERT_TRUE(VariantFromBytes(v, {1, 0, 2}));
  EXPECT_EQ(VariantToBytes(v), (rt::Bytes{1, 0, 2}));
  ClearVariant(v);
  EXPECT_TRUE(VariantToBytes(v).empty());
  v.value = std::u16string(u"A\u4e2d");
  EXPECT_EQ(VariantToBytes(v), (rt::Bytes{0x41, 0, 0x2D, 0x4E}));
}

}  // namespace
}  // namespace web
