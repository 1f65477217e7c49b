#include "web/automation.h"

#include <cstring>

#include "automation_platform.h"
#include "runtime/codepage.h"

namespace web {
namespace {

std::string WideText(std::u16string_view wide) {
  std::string text = rt::WideToText(wide);
  const std::size_t zero = text.find('\0');
  if (zero != std::string::npos) text.resize(zero);
  return text;
}

// Runs one access on the object, recording the outcome. False when the call
// did not succeed (result then empty).
bool Invoke(AutomationObject& object, std::string_view member, AccessKind kind, Args& args,
            Variant& result) {
  result = std::monostate{};
  if (!object.instance) {
    object.lastResult = kInvalidPointer;
    return false;
  }
  std::vector<Variant> values;
  values.reserve(args.size());
  for (Arg& a : args) values.push_back(a.value());
  ResultCode code;
  try {
    code = object.instance->Invoke(member, kind, values, result);
  } catch (...) {
    code = kException;
  }
  object.lastResult = code;
  // By-reference arguments are written back even when the call failed.
  for (std::size_t i = 0; i < args.size(); ++i) {
    args[i].value() = std::move(values[i]);
    args[i].WriteBack();
  }
  if (code < 0) {
    result = std::monostate{};
    return false;
  }
  return true;
}

}  // namespace

Arg::Arg(std::string_view text) : value_(rt::TextToWide(text)) {}

Arg Arg::Ref(std::string& text) {
  Arg a{std::string_view(text)};
  a.textRef_ = &text;
  return a;
}

Arg Arg::Ref(VariantValue& variant) {
  Arg a;
  a.value_ = variant.value;
  a.variantRef_ = &variant;
  return a;
}

Arg Arg::Ref(std::int32_t& number) {
  Arg a;
  a.value_ = number;
  a.numberRef_ = &number;
  return a;
}

void Arg::WriteBack() const {
  if (textRef_) {
    if (const auto* w = std::get_if<std::u16string>(&value_)) *textRef_ = WideText(*w);
  } else if (variantRef_) {
    variantRef_->value = value_;
  } else if (numberRef_) {
    if (const auto* n = std::get_if<std::int32_t>(&value_)) *numberRef_ = *n;
  }
}

bool CreateAutomationObject(AutomationObject& object, std::string_view progId) {
  object.instance.reset();
  std::shared_ptr<Component> instance;
  ResultCode code;
  try {
    code = detail::CreateInstance(progId, instance);
  } catch (...) {
    code = kFail;
  }
  if (code >= 0 && !instance) code = kFail;
  object.lastResult = code;
  if (code < 0) return false;
  object.instance = std::move(instance);
  return true;
}

void CopyAutomationObject(AutomationObject& destination, const AutomationObject& source) {
  destination.instance = source.instance;
}

void ReleaseAutomationObject(AutomationObject& object) {
  object.instance.reset();
  object.lastResult = kOk;
}

namespace {

// The member's result; empty when the call failed.
Variant ResultOf(AutomationObject& object, std::string_view member, AccessKind kind, Args& args) {
  Variant result;
  Invoke(object, member, kind, args, result);
  return result;
}

}  // namespace

void CallMethod(AutomationObject& object, std::string_view member, Args args) {
  ResultOf(object, member, AccessKind::kMethod, args);
}

std::string CallMethodText(AutomationObject& object, std::string_view member, Args args) {
  return VariantToText(ResultOf(object, member, AccessKind::kMethod, args));
}

double CallMethodNumber(AutomationObject& object, std::string_view member, Args args) {
  return VariantToNumber(ResultOf(object, member, AccessKind::kMethod, args));
}

std::string ReadPropertyText(AutomationObject& object, std::string_view member, Args index) {
  return VariantToText(ResultOf(object, member, AccessKind::kPropertyGet, index));
}

double ReadPropertyNumber(AutomationObject& object, std::string_view member, Args index) {
  return VariantToNumber(ResultOf(object, member, AccessKind::kPropertyGet, index));
}

VariantValue ReadPropertyVariant(AutomationObject& object, std::string_view member, Args index) {
  return {ResultOf(object, member, AccessKind::kPropertyGet, index)};
}

void WriteProperty(AutomationObject& object, std::string_view member, Args indexAndValue) {
  ResultOf(object, member, AccessKind::kPropertyPut, indexAndValue);
}

bool VariantFromBytes(VariantValue& variant, const rt::Bytes& bytes) {
  if (bytes.empty()) return false;
  variant.value = bytes;
  return true;
}

rt::Bytes VariantToBytes(const VariantValue& variant) {
  if (const auto* b = std::get_if<rt::Bytes>(&variant.value)) return *b;
  if (const auto* w = std::get_if<std::u16string>(&variant.value)) {
    // A string changes into the bytes of its UTF-16 units.
    rt::Bytes out(w->size() * 2);
    for (std::size_t i = 0; i < w->size(); ++i) {
      out[2 * i] = static_cast<std::uint8_t>((*w)[i] & 0xFF);
      out[2 * i + 1] = static_cast<std::uint8_t>((*w)[i] >> 8);
    }
    return out;
  }
  return {};
}

void ClearVariant(VariantValue& variant) {
  variant.value = std::monostate{};
}

std::string VariantToText(const Variant& v) {
  struct Visitor {
    std::string operator()(std::monostate) const { return {}; }
    std::string operator()(bool b) const { return b ? "-1" : "0"; }
    std::string operator()(std::uint8_t n) const { return std::to_string(n); }
    std::string operator()(std::int16_t n) const { return std::to_string(n); }
    std::string operator()(std::int32_t n) const { return std::to_string(n); }
    std::string operator()(std::int64_t n) const { return std::to_string(n); }
    std::string operator()(float f) const { return rt::RealToText(f); }
    std::string operator()(double d) const { return rt::RealToText(d); }
    std::string operator()(rt::DateTimeValue d) const { return rt::DateTimeToText(d.days); }
    std::string operator()(const std::u16string& w) const { return WideText(w); }
    std::string operator()(const rt::Bytes&) const { return {}; }
    std::string operator()(const AutomationObject&) const { return {}; }
  };
  return std::visit(Visitor{}, v);
}

double VariantToNumber(const Variant& v) {
  struct Visitor {
    double operator()(std::monostate) const { return 0; }
    double operator()(bool b) const { return b ? -1.0 : 0.0; }
    double operator()(std::uint8_t n) const { return n; }
    double operator()(std::int16_t n) const { return n; }
    double operator()(std::int32_t n) const { return n; }
    double operator()(std::int64_t n) const { return static_cast<double>(n); }
    double operator()(float f) const { return f; }
    double operator()(double d) const { return d; }
    double operator()(rt::DateTimeValue d) const { return d.days; }
    double operator()(const std::u16string&) const { return 0; }
    double operator()(const rt::Bytes&) const { return 0; }
    double operator()(const AutomationObject&) const { return 0; }
  };
  return std::visit(Visitor{}, v);
}

}  // namespace web
