// Addresses as RFC 3986 reads them: the parts of a reference, resolution
// against a base, the schemes the web layer speaks, and the bytes a request
// line cannot carry. Texts here are UTF-8 (the wire's form of an address).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace web {

// The five parts of a URI reference (RFC 3986 appendix B). An absent part
// differs from an empty one: "http://a/?" has an empty query, "http://a/"
// none.
struct UriReference {
  std::optional<std::string> scheme;
  std::optional<std::string> authority;
  std::string path;
  std::optional<std::string> query;
  std::optional<std::string> fragment;
};

UriReference SplitUriReference(std::string_view text);
std::string JoinUriReference(const UriReference& parts);

// "." and ".." segments of a path removed (RFC 3986 section 5.2.4).
std::string RemoveDotSegments(std::string_view path);

// `reference` resolved against the absolute address `base` (RFC 3986
// section 5.2.2, strict: a reference with a scheme is taken as absolute).
std::string ResolveReference(std::string_view base, std::string_view reference);

// The scheme of an absolute address, lower-cased; empty when it has none.
std::string SchemeOf(std::string_view url);

// True for an absolute "http" or "https" address with a host: the only
// addresses the web layer sends anything to.
bool IsHttpUrl(std::string_view url);

// True when going from `from` to `to` would leave TLS ("https" to "http").
bool IsDowngrade(std::string_view from, std::string_view to);

// True when a proxy setting names an HTTP proxy: "host:port", or an address
// whose scheme is "http". SOCKS and the like are refused.
bool IsHttpProxyAddress(std::string_view proxy);

// The address with every byte a request line cannot carry percent-encoded
// outside its authority: 0x80 and above, the blank and " < > \ ^ ` { | }.
// "%" is kept (the address may already be encoded), and so are control
// characters, which the caller refuses whole rather than smuggle encoded.
std::string EncodeRequestBytes(std::string_view url);

// The address without its fragment, which never goes on the wire.
std::string WithoutFragment(std::string_view url);

// Scheme, host and port of a URL, lower-cased, default ports made explicit.
std::string OriginOf(std::string_view url);

}  // namespace web
