#include "platform/foundation/URL.h"

#include <arpa/inet.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <string>

#include "platform/foundation/TextCase.h"

namespace foundation {

namespace {

constexpr std::size_t kNone = std::string::npos;

bool isAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHex(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool isUnreserved(char c) { return isAlpha(c) || isDigit(c) || c == '-' || c == '.' || c == '_' || c == '~'; }
bool isSubDelim(char c) {
  switch (c) {
    case '!': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',': case ';':
    case '=':
      return true;
    default:
      return false;
  }
}
bool isPChar(char c) { return isUnreserved(c) || isSubDelim(c) || c == ':' || c == '@'; }

int hexValue(char c) {
  if (isDigit(c)) return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return c - 'A' + 10;
}

/// True when every byte of `text` satisfies `allowed` or starts a well-formed %XX escape.
template <class Pred>
bool validComponent(std::string_view text, Pred allowed) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '%') {
      if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return false;
      i += 2;
    } else if (!allowed(c)) {
      return false;
    }
  }
  return true;
}

bool validScheme(std::string_view s) {
  if (s.empty() || !isAlpha(s[0])) return false;
  for (char c : s) {
    if (!isAlpha(c) && !isDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  return true;
}

bool validIPLiteral(std::string_view inner) {
  if (inner.empty()) return false;
  if (inner[0] == 'v' || inner[0] == 'V') {  // IPvFuture: "v" 1*HEXDIG "." 1*( unreserved / sub-delims / ":" )
    std::size_t dot = inner.find('.');
    if (dot == kNone || dot < 2 || dot + 1 >= inner.size()) return false;
    for (std::size_t i = 1; i < dot; ++i) {
      if (!isHex(inner[i])) return false;
    }
    for (std::size_t i = dot + 1; i < inner.size(); ++i) {
      char c = inner[i];
      if (!isUnreserved(c) && !isSubDelim(c) && c != ':') return false;
    }
    return true;
  }
  std::string text(inner);
  in6_addr address;
  return inet_pton(AF_INET6, text.c_str(), &address) == 1;
}

/// RFC 3986 section 5.2.4.
std::string removeDotSegments(std::string_view input) {
  std::string in(input);
  std::string out;
  while (!in.empty()) {
    if (in.starts_with("../")) {
      in.erase(0, 3);
    } else if (in.starts_with("./")) {
      in.erase(0, 2);
    } else if (in.starts_with("/./")) {
      in.erase(0, 2);
    } else if (in == "/.") {
      in = "/";
    } else if (in.starts_with("/../") || in == "/..") {
      in = in.size() == 3 ? std::string("/") : in.substr(3);
      std::size_t last = out.rfind('/');
      out.erase(last == kNone ? 0 : last);
    } else if (in == "." || in == "..") {
      in.clear();
    } else {
      std::size_t next = in.find('/', in[0] == '/' ? 1 : 0);
      if (next == kNone) next = in.size();
      out.append(in, 0, next);
      in.erase(0, next);
    }
  }
  return out;
}

using CharTable = std::array<bool, 256>;

CharTable makeTable(std::string_view extra) {
  CharTable table{};
  for (int c = 0; c < 256; ++c) {
    char ch = static_cast<char>(c);
    table[c] = isAlpha(ch) || isDigit(ch);
  }
  for (char c : extra) table[static_cast<unsigned char>(c)] = true;
  return table;
}

const CharTable& allowedTable(URLCharacterSet set) {
  // The platform's predefined sets: letters and digits plus these punctuation characters.
  static const CharTable query = makeTable("!$&'()*+,-./:;=?@_~");
  static const CharTable path = makeTable("!$&'()*+,-./:=@_~");
  static const CharTable host = makeTable("!$&'()*+,-.:;=[]_~");
  static const CharTable user = makeTable("!$&'()*+,-.;=_~");
  switch (set) {
    case URLCharacterSet::QueryAllowed:
    case URLCharacterSet::FragmentAllowed: return query;
    case URLCharacterSet::PathAllowed: return path;
    case URLCharacterSet::HostAllowed: return host;
    case URLCharacterSet::UserAllowed: return user;
  }
  return query;
}

}  // namespace

/// Splits a URL reference into its components (RFC 3986 section 3 and 4.1), validating each.
struct URLParser {
  static std::optional<URL> parse(std::string_view text) {
    if (text.empty()) return std::nullopt;
    URL url;
    url.text_ = std::string(text);
    const std::string& s = url.text_;
    std::size_t pos = 0;

    std::size_t firstDelimiter = s.find_first_of(":/?#");
    if (firstDelimiter != kNone && s[firstDelimiter] == ':') {
      std::string_view scheme(s.data(), firstDelimiter);
      // A colon in the first segment of a relative path is not allowed, so this must be a scheme.
      if (!validScheme(scheme)) return std::nullopt;
      url.scheme_ = lowercased(scheme);
      pos = firstDelimiter + 1;
    }

    if (s.compare(pos, 2, "//") == 0) {
      std::size_t start = pos + 2;
      std::size_t end = s.find_first_of("/?#", start);
      if (end == kNone) end = s.size();
      url.authority_ = {start, end - start};
      if (!parseAuthority(url, start, end)) return std::nullopt;
      pos = end;
    }

    std::size_t pathEnd = s.find_first_of("?#", pos);
    if (pathEnd == kNone) pathEnd = s.size();
    url.path_ = {pos, pathEnd - pos};
    std::string_view path(s.data() + pos, pathEnd - pos);
    if (!validComponent(path, [](char c) { return isPChar(c) || c == '/'; })) return std::nullopt;
    pos = pathEnd;

    auto queryOrFragment = [](char c) { return isPChar(c) || c == '/' || c == '?'; };
    if (pos < s.size() && s[pos] == '?') {
      std::size_t end = s.find('#', pos + 1);
      if (end == kNone) end = s.size();
      url.query_ = {pos + 1, end - pos - 1};
      if (!validComponent(std::string_view(s.data() + pos + 1, end - pos - 1), queryOrFragment)) return std::nullopt;
      pos = end;
    }
    if (pos < s.size() && s[pos] == '#') {
      url.fragment_ = {pos + 1, s.size() - pos - 1};
      if (!validComponent(std::string_view(s.data() + pos + 1, s.size() - pos - 1), queryOrFragment)) {
        return std::nullopt;
      }
    }
    return url;
  }

  static bool parseAuthority(URL& url, std::size_t start, std::size_t end) {
    const std::string& s = url.text_;
    std::size_t hostStart = start;
    std::size_t at = s.rfind('@', end == 0 ? 0 : end - 1);
    if (at != kNone && at >= start && at < end) {
      url.userinfo_ = {start, at - start};
      auto userChar = [](char c) { return isUnreserved(c) || isSubDelim(c) || c == ':'; };
      if (!validComponent(std::string_view(s.data() + start, at - start), userChar)) return false;
      hostStart = at + 1;
    }
    std::size_t hostEnd = end;
    if (hostStart < end && s[hostStart] == '[') {
      std::size_t close = s.find(']', hostStart);
      if (close == kNone || close >= end) return false;
      if (!validIPLiteral(std::string_view(s.data() + hostStart + 1, close - hostStart - 1))) return false;
      hostEnd = close + 1;
      if (hostEnd < end && s[hostEnd] != ':') return false;
    } else {
      std::size_t colon = s.find(':', hostStart);
      if (colon != kNone && colon < end) hostEnd = colon;
      auto hostChar = [](char c) { return isUnreserved(c) || isSubDelim(c); };
      if (!validComponent(std::string_view(s.data() + hostStart, hostEnd - hostStart), hostChar)) return false;
    }
    url.host_ = {hostStart, hostEnd - hostStart};
    if (hostEnd < end) {  // s[hostEnd] == ':'
      std::size_t portStart = hostEnd + 1;
      url.port_ = {portStart, end - portStart};
      long value = 0;
      for (std::size_t i = portStart; i < end; ++i) {
        if (!isDigit(s[i])) return false;
        value = value * 10 + (s[i] - '0');
        if (value > 65535) return false;
      }
    }
    return true;
  }

  static std::string_view view(const URL& url, URL::Range r) {
    if (r.start == kNone) return {};
    return std::string_view(url.text_).substr(r.start, r.length);
  }
  static std::optional<std::string_view> optionalView(const URL& url, URL::Range r) {
    if (r.start == kNone) return std::nullopt;
    return view(url, r);
  }

  /// Recomposes a reference from its parts (RFC 3986 section 5.3).
  static std::string compose(std::string_view scheme, std::optional<std::string_view> authority, std::string_view path,
                             std::optional<std::string_view> query, std::optional<std::string_view> fragment) {
    std::string out;
    if (!scheme.empty()) {
      out += scheme;
      out += ':';
    }
    if (authority) {
      out += "//";
      out += *authority;
    }
    out += path;
    if (query) {
      out += '?';
      out += *query;
    }
    if (fragment) {
      out += '#';
      out += *fragment;
    }
    return out;
  }

  /// RFC 3986 section 5.2.2 (strict: a reference with a scheme never inherits from the base).
  static std::optional<URL> resolve(const URL& r, const URL& base) {
    if (!base.hasScheme()) return std::nullopt;
    auto rAuthority = optionalView(r, r.authority_);
    auto rQuery = optionalView(r, r.query_);
    auto rFragment = optionalView(r, r.fragment_);
    std::string_view rPath = view(r, r.path_);
    if (r.hasScheme()) {
      return parse(compose(r.scheme_, rAuthority, removeDotSegments(rPath), rQuery, rFragment));
    }
    auto bAuthority = optionalView(base, base.authority_);
    if (rAuthority) return parse(compose(base.scheme_, rAuthority, removeDotSegments(rPath), rQuery, rFragment));
    if (rPath.empty()) {
      auto query = rQuery ? rQuery : optionalView(base, base.query_);
      return parse(compose(base.scheme_, bAuthority, view(base, base.path_), query, rFragment));
    }
    std::string path;
    if (rPath[0] == '/') {
      path = removeDotSegments(rPath);
    } else {
      std::string_view bPath = view(base, base.path_);
      std::string merged;
      if (bAuthority && bPath.empty()) {
        merged = "/" + std::string(rPath);
      } else {
        std::size_t slash = bPath.rfind('/');
        merged = std::string(slash == kNone ? std::string_view() : bPath.substr(0, slash + 1));
        merged += rPath;
      }
      path = removeDotSegments(merged);
    }
    return parse(compose(base.scheme_, bAuthority, path, rQuery, rFragment));
  }
};

std::optional<URL> URL::parse(std::string_view text) { return URLParser::parse(text); }

std::optional<URL> URL::parse(std::string_view text, const URL& base) {
  auto reference = URLParser::parse(text);
  if (!reference) return std::nullopt;
  return URLParser::resolve(*reference, base);
}

URL URL::fileURL(std::string_view path, bool isDirectory) {
  std::string absolute;
  if (!path.starts_with('/')) {
    char buffer[4096];
    if (getcwd(buffer, sizeof buffer) != nullptr) absolute = buffer;
    if (!absolute.ends_with('/')) absolute += '/';
  }
  absolute += path;
  if (isDirectory && !absolute.ends_with('/')) absolute += '/';
  std::string text = "file://" + percentEncode(absolute, URLCharacterSet::PathAllowed);
  // Every byte outside the path set is encoded, so the text always parses.
  return *URLParser::parse(text);
}

std::optional<std::string> URL::host() const {
  std::string_view raw = URLParser::view(*this, host_);
  if (host_.start == kNone || raw.empty()) return std::nullopt;
  if (raw.front() == '[') return std::string(raw.substr(1, raw.size() - 2));
  return percentDecode(raw);
}

std::optional<int> URL::port() const {
  if (port_.start == kNone || port_.length == 0) return std::nullopt;
  int value = 0;
  for (char c : URLParser::view(*this, port_)) value = value * 10 + (c - '0');  // bounded by the parser
  return value;
}

std::optional<std::string> URL::user() const {
  if (userinfo_.start == kNone) return std::nullopt;
  std::string_view info = URLParser::view(*this, userinfo_);
  return percentDecode(info.substr(0, info.find(':')));
}

std::optional<std::string> URL::password() const {
  if (userinfo_.start == kNone) return std::nullopt;
  std::string_view info = URLParser::view(*this, userinfo_);
  std::size_t colon = info.find(':');
  if (colon == kNone) return std::nullopt;
  return percentDecode(info.substr(colon + 1));
}

std::string URL::percentEncodedPath() const { return std::string(URLParser::view(*this, path_)); }

std::string URL::path() const {
  std::string decoded = percentDecode(URLParser::view(*this, path_)).value_or(std::string());
  if (decoded.size() > 1 && decoded.ends_with('/')) decoded.pop_back();
  return decoded;
}

std::optional<std::string> URL::query() const {
  auto q = URLParser::optionalView(*this, query_);
  if (!q) return std::nullopt;
  return std::string(*q);
}

std::optional<std::string> URL::fragment() const {
  auto f = URLParser::optionalView(*this, fragment_);
  if (!f) return std::nullopt;
  return std::string(*f);
}

std::vector<std::string> URL::pathComponents() const {
  std::string_view raw = URLParser::view(*this, path_);
  std::vector<std::string> components;
  if (raw.starts_with('/')) components.emplace_back("/");
  std::size_t pos = 0;
  while (pos < raw.size()) {
    std::size_t next = raw.find('/', pos);
    if (next == kNone) next = raw.size();
    if (next > pos) components.push_back(percentDecode(raw.substr(pos, next - pos)).value_or(std::string()));
    pos = next + 1;
  }
  return components;
}

std::string URL::lastPathComponent() const {
  auto components = pathComponents();
  return components.empty() ? std::string() : components.back();
}

std::string URL::pathExtension() const {
  std::string last = lastPathComponent();
  std::size_t dot = last.rfind('.');
  if (dot == kNone || dot == 0 || dot + 1 == last.size()) return {};
  return last.substr(dot + 1);
}

bool URL::hasDirectoryPath() const { return URLParser::view(*this, path_).ends_with('/'); }

URL URL::appendingPathComponent(std::string_view component, bool isDirectory) const {
  std::string path(URLParser::view(*this, path_));
  if (!path.ends_with('/') && (!path.empty() || authority_.start != kNone)) path += '/';
  if (path.ends_with('/') && component.starts_with('/')) component.remove_prefix(1);
  path += percentEncode(component, URLCharacterSet::PathAllowed);
  if (isDirectory && !path.ends_with('/')) path += '/';
  std::string text = URLParser::compose(scheme_, URLParser::optionalView(*this, authority_), path,
                                        URLParser::optionalView(*this, query_), URLParser::optionalView(*this, fragment_));
  // A path with no authority must not start with "//", or the text would read as an authority.
  if (authority_.start == kNone && path.starts_with("//")) return *this;
  auto url = URLParser::parse(text);
  return url ? *url : *this;
}

URL URL::deletingLastPathComponent() const {
  std::string_view raw = URLParser::view(*this, path_);
  std::string path(raw);
  if (path.size() > 1 && path.ends_with('/')) path.pop_back();
  std::size_t slash = path.rfind('/');
  path = slash == kNone ? std::string() : path.substr(0, slash + 1);
  auto url = URLParser::parse(
      URLParser::compose(scheme_, URLParser::optionalView(*this, authority_), path, std::nullopt, std::nullopt));
  return url ? *url : *this;
}

std::optional<URL> URLComponents::url() const {
  std::string text;
  if (!scheme.empty()) {
    if (!validScheme(scheme)) return std::nullopt;
    text += scheme + ":";
  }
  if (host) {
    text += "//";
    if (user) {
      text += percentEncode(*user, URLCharacterSet::UserAllowed);
      if (password) text += ":" + percentEncode(*password, URLCharacterSet::UserAllowed);
      text += "@";
    }
    std::string literal(*host);
    in6_addr address;
    if (literal.find(':') != kNone && inet_pton(AF_INET6, literal.c_str(), &address) == 1) {
      text += "[" + literal + "]";
    } else {
      text += percentEncode(*host, URLCharacterSet::HostAllowed);
    }
    if (port) {
      if (*port < 0 || *port > 65535) return std::nullopt;
      text += ":" + std::to_string(*port);
    }
    if (!path.empty() && !path.starts_with('/')) return std::nullopt;
  } else {
    // Without a host, a path starting with "//" would read back as a host, and a colon in the
    // first segment of a scheme-less path would read back as a scheme.
    if (path.starts_with("//")) return std::nullopt;
    if (scheme.empty() && path.substr(0, path.find('/')).find(':') != std::string::npos) return std::nullopt;
  }
  text += percentEncode(path, URLCharacterSet::PathAllowed);
  if (percentEncodedQuery) text += "?" + *percentEncodedQuery;
  if (fragment) text += "#" + percentEncode(*fragment, URLCharacterSet::FragmentAllowed);
  return URL::parse(text);
}

std::string percentEncode(std::string_view text, URLCharacterSet allowed) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const CharTable& table = allowedTable(allowed);
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (table[byte]) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::optional<std::string> percentDecode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !isHex(text[i + 1]) || !isHex(text[i + 2])) return std::nullopt;
    out += static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2]));
    i += 2;
  }
  return out;
}

}  // namespace foundation
