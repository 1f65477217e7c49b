// Automation objects: components created by name and driven by member name.
//
// A component is reached only through Invoke with a member name, so the same
// callers work whether the platform provides the component (Windows) or the
// in-process registry does (Linux, and tests everywhere). Failures never
// throw: they are recorded in the object value and give empty results.
//
// An object and its instance are for one thread at a time. On Windows a
// platform component also needs the component library started on that
// thread (RuntimeStartup does it for the main thread, WebRequest for itself).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "runtime/text.h"
#include "runtime/value.h"

namespace web {

// Platform result codes (negative means failure).
using ResultCode = std::int32_t;
inline constexpr ResultCode kOk = 0;
inline constexpr ResultCode kInvalidPointer = static_cast<ResultCode>(0x80004003);
inline constexpr ResultCode kFail = static_cast<ResultCode>(0x80004005);
inline constexpr ResultCode kInvalidArgument = static_cast<ResultCode>(0x80070057);
inline constexpr ResultCode kClassNotRegistered = static_cast<ResultCode>(0x80040154);
inline constexpr ResultCode kInvalidClassString = static_cast<ResultCode>(0x800401F3);
inline constexpr ResultCode kMemberNotFound = static_cast<ResultCode>(0x80020003);
inline constexpr ResultCode kTypeMismatch = static_cast<ResultCode>(0x80020005);
inline constexpr ResultCode kUnknownName = static_cast<ResultCode>(0x80020006);
inline constexpr ResultCode kException = static_cast<ResultCode>(0x80020009);
inline constexpr ResultCode kBadParamCount = static_cast<ResultCode>(0x8002000E);

enum class AccessKind { kMethod = 1, kPropertyGet = 2, kPropertyPut = 4 };

class Component;

// One reference to a component instance; empty when instance is null. The
// instance lives while any reference to it does.
struct AutomationObject {
  std::shared_ptr<Component> instance;
  ResultCode lastResult = kOk;  // of the last creation or call through this value
};

// What a component sees of a value: texts as UTF-16 (as the platform hands
// them over), byte arrays as bytes, objects as references.
using Variant =
    std::variant<std::monostate, bool, std::uint8_t, std::int16_t, std::int32_t, std::int64_t,
                 float, double, rt::DateTimeValue, std::u16string, rt::Bytes, AutomationObject>;

// A variant owned by the caller; a new one holds the 4-byte integer 0.
struct VariantValue {
  Variant value = std::int32_t{0};
};

// A component instance, driven by member name.
class Component {
 public:
  virtual ~Component() = default;
  // Carries out one access: kOk (or another non-negative code) and the
  // result, or a negative code (the result is then not used). args are in the
  // caller's order; for kPropertyPut the last one is the new value. A member
  // changes by-reference arguments in args; they are written back after the
  // call. An exception thrown here counts as kException.
  virtual ResultCode Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                            Variant& result) = 0;
};

using ComponentFactory = std::function<std::shared_ptr<Component>()>;

// Makes progId creatable by name in this process (replacing an earlier
// registration; ASCII case does not count), ahead of the platform's own
// components; an empty factory removes it. Any thread. The factory is kept
// until replaced or removed, and is called on the creating thread.
void RegisterComponent(std::string_view progId, ComponentFactory factory);

// One argument of a call: a value (a text goes as UTF-16), or the caller's
// variable (Ref), which the member may change. A Ref keeps a pointer to the
// variable, which must outlive the call.
class Arg {
 public:
  Arg(bool v) : value_(v) {}
  Arg(int v) : value_(std::int32_t{v}) {}
  Arg(std::int64_t v) : value_(v) {}
  Arg(double v) : value_(v) {}
  Arg(rt::DateTimeValue v) : value_(v) {}
  Arg(std::string_view text);
  Arg(const std::string& text) : Arg(std::string_view(text)) {}
  Arg(const char* text) : Arg(std::string_view(text)) {}
  Arg(const rt::Bytes& bytes) : value_(bytes) {}
  Arg(const AutomationObject& object) : value_(object) {}
  Arg(const VariantValue& variant) : value_(variant.value) {}

  static Arg Ref(std::string& text);
  static Arg Ref(VariantValue& variant);
  static Arg Ref(std::int32_t& number);

  Variant& value() { return value_; }
  // Copies a changed value back into the caller's variable; a text or
  // number variable only when the member left a value of that kind.
  void WriteBack() const;

 private:
  Arg() = default;
  Variant value_;
  std::string* textRef_ = nullptr;
  VariantValue* variantRef_ = nullptr;
  std::int32_t* numberRef_ = nullptr;
};

using Args = std::vector<Arg>;

// Creation by name (the object's earlier reference is dropped first); false
// (and an empty value) when progId is unknown or the instance cannot be
// created, lastResult telling why.
bool CreateAutomationObject(AutomationObject& object, std::string_view progId);
// destination shares source's instance (lastResult is not copied).
void CopyAutomationObject(AutomationObject& destination, const AutomationObject& source);
// Drops this reference and sets lastResult to kOk.
void ReleaseAutomationObject(AutomationObject& object);

// Calls by member name. lastResult records the outcome (kInvalidPointer for
// an empty object); on failure the result is empty ("" or 0). Ref arguments
// are written back even when the call failed.
void CallMethod(AutomationObject& object, std::string_view member, Args args = {});
std::string CallMethodText(AutomationObject& object, std::string_view member, Args args = {});
double CallMethodNumber(AutomationObject& object, std::string_view member, Args args = {});
std::string ReadPropertyText(AutomationObject& object, std::string_view member, Args index = {});
double ReadPropertyNumber(AutomationObject& object, std::string_view member, Args index = {});
VariantValue ReadPropertyVariant(AutomationObject& object, std::string_view member,
                                 Args index = {});
// index arguments first, then the new value.
void WriteProperty(AutomationObject& object, std::string_view member, Args indexAndValue);

// An empty byte set gives false and leaves the variant alone.
bool VariantFromBytes(VariantValue& variant, const rt::Bytes& bytes);
// A byte array's bytes, a text's UTF-16LE bytes; empty for anything else.
rt::Bytes VariantToBytes(const VariantValue& variant);
// Makes the variant empty (std::monostate, not the 0 a new one holds).
void ClearVariant(VariantValue& variant);

// Conversions of a member's result (also used by components' callers), pure.
// Text: a text up to its first zero, numbers in decimal, true as "-1",
// date-times as rt::DateTimeToText; "" for nothing, bytes and objects.
std::string VariantToText(const Variant& v);
// Number: numbers as they are, true as -1, date-times as days; 0 otherwise.
double VariantToNumber(const Variant& v);

}  // namespace web
