// Redirects followed by us rather than by the HTTP request object: the
// object's own following is turned off, and each hop is a new request whose
// Referer, Cookie and Authorization headers (the referring address carries
// the user's key) never go to another origin. Works over any component with
// the members of the platform's HTTP request object.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "url.h"
#include "web/automation.h"
#include "web/web_request.h"

namespace web {

class RedirectGuard final : public Component {
 public:
  explicit RedirectGuard(std::shared_ptr<Component> inner) : inner_(std::move(inner)) {}

  ResultCode Invoke(std::string_view member, AccessKind kind, std::span<Variant> args,
                    Variant& result) override;

 private:
  struct Header {
    std::u16string name, value;
  };
  ResultCode Forward(std::string_view member, AccessKind kind, std::span<Variant> args,
                     Variant& result);
  ResultCode Call(std::string_view member, AccessKind kind, std::vector<Variant> args);
  ResultCode Send(std::span<Variant> args);
  ResultCode WaitForResponse(std::span<Variant> args, Variant& result);
  // After an answer: 1 when it was a redirect and the next hop is sent, 0
  // when it is the final answer, or the failure.
  ResultCode NextHop();
  ResultCode Reopen(const std::string& method, const std::string& url,
                    const std::vector<Header>& headers);

  std::shared_ptr<Component> inner_;
  bool follow_ = true;
  bool async_ = false;                         // of the last Open
  bool refused_ = false;                       // the address or a hop was refused
  std::string method_, url_;                   // of the last Open
  std::vector<Header> headers_;                // set since the last Open
  std::vector<std::vector<Variant>> options_;  // every Option written, re-applied per hop
  struct Chain {                               // the hops of the current Send
    std::string method, url, origin;
    std::vector<Header> headers;
    std::vector<Variant> body;
    int hops = 0;
  } chain_;
};

// The address a Location header points to from `base`, as it goes on the
// wire: resolved, without fragment, percent-encoded where it must be.
std::string ResolveLocation(std::string_view base, std::string_view location);
// True when a redirect from `from` to `to` is not followed: an address that
// is not http or https, a step down from https, or control characters.
bool IsRefusedHop(std::string_view from, std::string_view to);

}  // namespace web
