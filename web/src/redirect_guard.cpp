#include "redirect_guard.h"

#include <algorithm>

#include "runtime/clock.h"
#include "runtime/codepage.h"
#include "runtime/text.h"
#include "url.h"

namespace web {
namespace {

constexpr int kMaxRedirects = 10;

bool IsRedirect(int status) {
  return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::u16string Wide(std::string_view utf8) {
  return rt::Utf8ToWide(utf8);
}
std::string Utf8(const Variant& v) {
  const auto* w = std::get_if<std::u16string>(&v);
  return w ? rt::WideToUtf8(*w) : std::string();
}

bool IsResponseMember(std::string_view member) {
  for (std::string_view name :
       {"ResponseBody", "ResponseText", "ResponseStream", "GetAllResponseHeaders",
        "GetResponseHeader", "Status", "StatusText"}) {
    if (rt::EqualsIgnoreCase(member, name)) return true;
  }
  return false;
}

}  // namespace

std::string ResolveLocation(std::string_view base, std::string_view location) {
  return EncodeRequestBytes(WithoutFragment(ResolveReference(base, location)));
}

bool IsRefusedHop(std::string_view from, std::string_view to) {
  return !IsHttpUrl(to) || IsDowngrade(from, to) || !IsWireSafe(to);
}

ResultCode RedirectGuard::Forward(std::string_view member, AccessKind kind, std::span<Variant> args,
                                  Variant& result) {
  return inner_->Invoke(member, kind, args, result);
}

ResultCode RedirectGuard::Call(std::string_view member, AccessKind kind,
                               std::vector<Variant> args) {
  Variant ignored;
  return inner_->Invoke(member, kind, args, ignored);
}

ResultCode RedirectGuard::Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                                 Variant& result) {
  const bool put = kind == AccessKind::kPropertyPut;
  if (rt::EqualsIgnoreCase(member, "Option") && !args.empty() &&
      VariantToNumber(args[0]) == kOptionEnableRedirects) {
    if (!put) {
      result = follow_;
      return kOk;
    }
    if (args.size() != 2) return kBadParamCount;
    follow_ = VariantToNumber(args[1]) != 0;
    return kOk;
  }
  if (rt::EqualsIgnoreCase(member, "Option") && put)
    options_.emplace_back(args.begin(), args.end());
  if (rt::EqualsIgnoreCase(member, "Open")) {
    headers_.clear();
    method_ = args.size() > 0 ? rt::UpperCase(Utf8(args[0])) : std::string();
    url_ = args.size() > 1 ? Utf8(args[1]) : std::string();
    async_ = args.size() > 2 && VariantToNumber(args[2]) != 0;
    // Nothing but http and https, whatever the object would speak.
    refused_ = !IsHttpUrl(url_);
    if (refused_) return kHttpUnrecognizedScheme;
    const ResultCode rc = Forward(member, kind, args, result);
    // The object never follows a redirect by itself.
    Call("Option", AccessKind::kPropertyPut, {kOptionEnableRedirects, false});
    return rc;
  }
  if (rt::EqualsIgnoreCase(member, "SetRequestHeader") && args.size() == 2) {
    const ResultCode rc = Forward(member, kind, args, result);
    if (rc >= 0) {
      const auto* name = std::get_if<std::u16string>(&args[0]);
      const auto* value = std::get_if<std::u16string>(&args[1]);
      if (name && value) headers_.push_back({*name, *value});
    }
    return rc;
  }
  if (rt::EqualsIgnoreCase(member, "Send")) return refused_ ? kHttpUnrecognizedScheme : Send(args);
  // A refused address or hop leaves no answer to read.
  if (refused_ && IsResponseMember(member)) return kHttpCannotCallBeforeSend;
  if (rt::EqualsIgnoreCase(member, "WaitForResponse") && async_) {
    return WaitForResponse(args, result);
  }
  return Forward(member, kind, args, result);
}

ResultCode RedirectGuard::Reopen(const std::string& method, const std::string& url,
                                 const std::vector<Header>& headers) {
  ResultCode rc = Call("Open", AccessKind::kMethod, {Wide(method), Wide(url), async_});
  if (rc < 0) return rc;
  for (const auto& option : options_) Call("Option", AccessKind::kPropertyPut, option);
  Call("Option", AccessKind::kPropertyPut, {kOptionEnableRedirects, false});
  for (const Header& h : headers) Call("SetRequestHeader", AccessKind::kMethod, {h.name, h.value});
  return kOk;
}

ResultCode RedirectGuard::Send(std::span<Variant> args) {
  chain_ = {method_, url_, OriginOf(url_), headers_, {args.begin(), args.end()}, 0};
  Variant ignored;
  ResultCode rc = Forward("Send", AccessKind::kMethod, chain_.body, ignored);
  // Asynchronous: the hops are followed while the caller waits.
  if (async_ || !follow_) return rc;
  while (rc >= 0 && (rc = NextHop()) == 1) {
  }
  return rc < 0 ? rc : kOk;
}

ResultCode RedirectGuard::WaitForResponse(std::span<Variant> args, Variant& result) {
  // One time-out for the whole chain of hops; -1 (the default) waits without
  // limit.
  const double seconds = args.empty() ? -1 : VariantToNumber(args[0]);
  const std::int64_t deadline =
      rt::MonotonicMilliseconds() + static_cast<std::int64_t>(std::max(seconds, 0.0) * 1000);
  for (;;) {
    Variant done;
    std::vector<Variant> wait{std::int32_t{-1}};
    if (seconds >= 0) {
      const std::int64_t leftMs = deadline - rt::MonotonicMilliseconds();
      if (leftMs <= 0 && chain_.hops > 0) {
        result = false;
        return kOk;
      }
      wait[0] = static_cast<double>(std::max<std::int64_t>(leftMs, 0)) / 1000;
    }
    const ResultCode rc = Forward("WaitForResponse", AccessKind::kMethod, wait, done);
    if (rc < 0 || VariantToNumber(done) == 0 || !follow_) {
      result = done;
      return rc;
    }
    const ResultCode next = NextHop();
    if (next < 0) return next;
    if (next == 0) {
      result = true;
      return kOk;
    }
  }
}

ResultCode RedirectGuard::NextHop() {
  Variant status, location;
  Forward("Status", AccessKind::kPropertyGet, {}, status);
  const int code = static_cast<int>(VariantToNumber(status));
  if (!IsRedirect(code)) return 0;
  std::vector<Variant> name{std::u16string(u"Location")};
  if (Forward("GetResponseHeader", AccessKind::kMethod, name, location) < 0) return 0;
  // Some platform objects count the string's terminator in its length.
  std::string target = Utf8(location);
  target.resize(std::min(target.find('\0'), target.size()));
  if (target.empty()) return 0;
  // A chain that goes on and on (a loop) is a failed redirect.
  if (++chain_.hops > kMaxRedirects) return kHttpRedirectFailed;

  const std::string next = ResolveLocation(chain_.url, target);
  if (IsRefusedHop(chain_.url, next)) {
    refused_ = true;
    return kHttpRedirectRefused;
  }
  chain_.url = next;
  if (code == 303 || ((code == 301 || code == 302) && chain_.method == "POST")) {
    if (chain_.method != "HEAD") chain_.method = "GET";
    chain_.body.clear();
    std::erase_if(chain_.headers, [](const Header& h) {
      return rt::EqualsIgnoreCase(rt::WideToUtf8(h.name), "Content-Type");
    });
  }
  // The referring address holds the user's key, and the other two may
  // hold credentials: none of them goes to another origin.
  if (OriginOf(chain_.url) != chain_.origin) {
    std::erase_if(chain_.headers, [](const Header& h) {
      const std::string n = rt::WideToUtf8(h.name);
      return rt::EqualsIgnoreCase(n, "Referer") || rt::EqualsIgnoreCase(n, "Cookie") ||
             rt::EqualsIgnoreCase(n, "Authorization");
    });
  }
  ResultCode rc = Reopen(chain_.method, chain_.url, chain_.headers);
  Variant ignored;
  if (rc >= 0) rc = Forward("Send", AccessKind::kMethod, chain_.body, ignored);
  return rc < 0 ? rc : 1;
}

}  // namespace web
