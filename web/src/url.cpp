#include "url.h"

#include <algorithm>

#include "runtime/text.h"
#include "web/percent_encoding.h"

namespace web {
namespace {

bool IsAlpha(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// Length of "scheme:" at the start of text, 0 when there is none: a letter,
// then letters, digits, "+", "-" or ".", then ":".
std::size_t SchemeLength(std::string_view text) {
  if (text.empty() || !IsAlpha(text[0])) return 0;
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char c = text[i];
    if (c == ':') return i + 1;
    if (!IsAlpha(c) && !rt::IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return 0;
  }
  return 0;
}

// Where the authority ends, for a reference whose "//" ends at `start`.
std::size_t AuthorityEnd(std::string_view text, std::size_t start) {
  const std::size_t end = text.find_first_of("/?#", start);
  return end == std::string_view::npos ? text.size() : end;
}

// The host of an authority: without user information and port.
std::string_view HostOf(std::string_view authority) {
  if (const auto at = authority.rfind('@'); at != std::string_view::npos) {
    authority.remove_prefix(at + 1);
  }
  if (authority.starts_with('[')) {
    const auto close = authority.find(']');
    return close == std::string_view::npos ? std::string_view() : authority.substr(0, close + 1);
  }
  return authority.substr(0, authority.find(':'));
}

// Drops the last segment of an output path and the "/" before it.
void DropLastSegment(std::string& out) {
  const auto slash = out.rfind('/');
  out.erase(slash == std::string::npos ? 0 : slash);
}

std::string Merge(const UriReference& base, std::string_view path) {
  if (base.authority && base.path.empty()) return "/" + std::string(path);
  const auto slash = base.path.rfind('/');
  if (slash == std::string::npos) return std::string(path);
  return base.path.substr(0, slash + 1) + std::string(path);
}

bool NeedsEncoding(unsigned char b) {
  if (b >= 0x80) return true;
  switch (b) {
    case ' ':
    case '"':
    case '<':
    case '>':
    case '\\':
    case '^':
    case '`':
    case '{':
    case '|':
    case '}':
      return true;
    default:
      return false;
  }
}

}  // namespace

UriReference SplitUriReference(std::string_view text) {
  UriReference parts;
  std::size_t pos = SchemeLength(text);
  if (pos > 0) parts.scheme = std::string(text.substr(0, pos - 1));
  if (text.substr(pos).starts_with("//")) {
    const std::size_t end = AuthorityEnd(text, pos + 2);
    parts.authority = std::string(text.substr(pos + 2, end - pos - 2));
    pos = end;
  }
  const std::size_t pathEnd = std::min(text.find_first_of("?#", pos), text.size());
  parts.path = std::string(text.substr(pos, pathEnd - pos));
  pos = pathEnd;
  if (pos < text.size() && text[pos] == '?') {
    const std::size_t queryEnd = std::min(text.find('#', pos), text.size());
    parts.query = std::string(text.substr(pos + 1, queryEnd - pos - 1));
    pos = queryEnd;
  }
  if (pos < text.size()) parts.fragment = std::string(text.substr(pos + 1));
  return parts;
}

std::string JoinUriReference(const UriReference& parts) {
  std::string out;
  if (parts.scheme) out += *parts.scheme + ":";
  if (parts.authority) out += "//" + *parts.authority;
  out += parts.path;
  if (parts.query) out += "?" + *parts.query;
  if (parts.fragment) out += "#" + *parts.fragment;
  return out;
}

std::string RemoveDotSegments(std::string_view in) {
  std::string out;
  std::size_t i = 0;
  while (i < in.size()) {
    const std::string_view rest = in.substr(i);
    if (rest.starts_with("../")) {
      i += 3;
    } else if (rest.starts_with("./") || rest.starts_with("/./")) {
      i += 2;  // after "/./" the input goes on with "/"
    } else if (rest == "/.") {
      out += '/';
      break;
    } else if (rest.starts_with("/../")) {
      i += 3;
      DropLastSegment(out);
    } else if (rest == "/..") {
      DropLastSegment(out);
      out += '/';
      break;
    } else if (rest == "." || rest == "..") {
      break;
    } else {
      const std::size_t next = rest.find('/', 1);
      const std::size_t length = next == std::string_view::npos ? rest.size() : next;
      out += rest.substr(0, length);
      i += length;
    }
  }
  return out;
}

std::string ResolveReference(std::string_view baseText, std::string_view reference) {
  const UriReference r = SplitUriReference(reference);
  const UriReference base = SplitUriReference(baseText);
  UriReference t;
  if (r.scheme) {
    t.scheme = r.scheme;
    t.authority = r.authority;
    t.path = RemoveDotSegments(r.path);
    t.query = r.query;
  } else {
    if (r.authority) {
      t.authority = r.authority;
      t.path = RemoveDotSegments(r.path);
      t.query = r.query;
    } else {
      if (r.path.empty()) {
        t.path = base.path;
        t.query = r.query ? r.query : base.query;
      } else {
        t.path = RemoveDotSegments(r.path.starts_with('/') ? r.path : Merge(base, r.path));
        t.query = r.query;
      }
      t.authority = base.authority;
    }
    t.scheme = base.scheme;
  }
  t.fragment = r.fragment;
  return JoinUriReference(t);
}

std::string SchemeOf(std::string_view url) {
  const std::size_t length = SchemeLength(url);
  return length == 0 ? std::string() : rt::LowerLetters(url.substr(0, length - 1));
}

bool IsHttpUrl(std::string_view url) {
  const std::string scheme = SchemeOf(url);
  if (scheme != "http" && scheme != "https") return false;
  const UriReference parts = SplitUriReference(url);
  return parts.authority && !HostOf(*parts.authority).empty();
}

bool IsDowngrade(std::string_view from, std::string_view to) {
  return SchemeOf(from) == "https" && SchemeOf(to) != "https";
}

bool IsHttpProxyAddress(std::string_view proxy) {
  // Not a URI reference: "host:port" would read as scheme "host". Whatever
  // stands before "://" is the scheme to the HTTP stacks, so it is here.
  const auto separator = proxy.find("://");
  return separator == std::string_view::npos ||
         rt::LowerLetters(proxy.substr(0, separator)) == "http";
}

std::string EncodeRequestBytes(std::string_view url) {
  std::size_t start = SchemeLength(url);
  if (url.substr(start).starts_with("//")) start = AuthorityEnd(url, start + 2);
  return std::string(url.substr(0, start)) +
         PercentEncode(url.substr(start), [](unsigned char b) { return !NeedsEncoding(b); });
}

std::string WithoutFragment(std::string_view url) {
  return std::string(url.substr(0, url.find('#')));
}

std::string OriginOf(std::string_view url) {
  const UriReference parts = SplitUriReference(url);
  if (!parts.scheme || !parts.authority) return {};
  const std::string name = rt::LowerLetters(*parts.scheme);
  std::string authority = rt::LowerLetters(*parts.authority);
  if (const auto at = authority.rfind('@'); at != std::string::npos) authority.erase(0, at + 1);
  if (authority.find(':', authority.rfind(']') == std::string::npos ? 0 : authority.rfind(']')) ==
      std::string::npos) {
    authority += name == "https" ? ":443" : name == "http" ? ":80" : "";
  }
  return name + "://" + authority;
}

}  // namespace web
