#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

/// Character sets for percent-encoding, as the platform names them.
enum class URLCharacterSet { QueryAllowed, PathAllowed, FragmentAllowed, HostAllowed, UserAllowed };

/// An RFC 3986 URL reference, absolute or relative. Keeps the text it was parsed from.
class URL {
 public:
  /// Strict parsing: a text that is not a URL reference (empty, spaces, bad escapes, ...) gives none.
  static std::optional<URL> parse(std::string_view text);
  /// Parses `text` and resolves it against `base` (RFC 3986 section 5), giving the absolute URL.
  /// None when `text` is not a URL reference (the empty text included) or `base` has no scheme.
  static std::optional<URL> parse(std::string_view text, const URL& base);
  /// A file URL for a path (a relative path is taken from the current folder); a directory URL
  /// ends in "/". Characters a path may not hold are percent-encoded.
  static URL fileURL(std::string_view path, bool isDirectory = false);

  const std::string& absoluteString() const { return text_; }
  bool hasScheme() const { return !scheme_.empty(); }
  const std::string& scheme() const { return scheme_; }  ///< lower-cased
  bool isFileURL() const { return scheme_ == "file"; }
  /// The percent-decoded host, an IPv6 literal without its brackets; none when empty or absent.
  std::optional<std::string> host() const;
  std::optional<int> port() const;
  /// The percent-decoded user and password of the user-info part, when there is one.
  std::optional<std::string> user() const;
  std::optional<std::string> password() const;
  /// The percent-decoded path ("" when none). Like the platform, a trailing "/" is dropped unless
  /// the path is the root "/".
  std::string path() const;
  /// The path exactly as written, still percent-encoded.
  std::string percentEncodedPath() const;
  std::optional<std::string> query() const;
  std::optional<std::string> fragment() const;
  /// The percent-decoded last path component; "/" for the root path, "" when there is no path.
  std::string lastPathComponent() const;
  /// The leading "/" counts as one component; a trailing "/" adds none.
  std::vector<std::string> pathComponents() const;
  std::string pathExtension() const;
  bool hasDirectoryPath() const;
  /// Appends a component (its own "/" separators kept), percent-encoding what a path may not hold.
  URL appendingPathComponent(std::string_view component, bool isDirectory = false) const;
  /// The URL of the folder holding the last path component ("/a/b" and "/a/b/" give "/a/"); the
  /// root stays the root. Query and fragment are dropped.
  URL deletingLastPathComponent() const;

  friend bool operator==(const URL& a, const URL& b) { return a.text_ == b.text_; }

 private:
  URL() = default;
  std::string text_;
  std::string scheme_;
  // Byte ranges of the components inside text_; npos start means the component is missing.
  struct Range {
    std::size_t start = std::string::npos;
    std::size_t length = 0;
  };
  Range authority_, userinfo_, host_, port_, path_, query_, fragment_;
  friend struct URLParser;
};

/// The parts of a URL, for building one (the platform's URLComponents). Values are plain text:
/// `url()` percent-encodes what each part may not hold and brackets an IPv6 host.
struct URLComponents {
  std::string scheme;
  std::optional<std::string> user;
  std::optional<std::string> password;
  std::optional<std::string> host;
  std::optional<int> port;
  std::string path;
  /// Already percent-encoded query text (without "?").
  std::optional<std::string> percentEncodedQuery;
  std::optional<std::string> fragment;

  /// The URL of these parts; none when they cannot form one (a bad scheme, a port out of range,
  /// a path not starting with "/" after a host; without a host, a path starting with "//" or,
  /// without a scheme too, a colon in the path's first segment).
  std::optional<URL> url() const;
};

/// Percent-encodes every byte outside `allowed` as %XX (upper-case hex).
std::string percentEncode(std::string_view text, URLCharacterSet allowed);
/// Decodes %XX escapes; none when an escape is malformed.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace foundation
