#pragma once
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

/// The text of a message event, with its format and parameters. Texts are kept to at most 8192
/// UTF-16 code units, cut at a character boundary so the kept text stays valid. Filled on one
/// thread, then only read.
class DozidiMessage {
 public:
  static constexpr std::size_t kMaxLength = 8192;

  static std::shared_ptr<DozidiMessage> initWithFormatted(std::optional<std::string> formatted);

  const std::optional<std::string>& formatted() const { return formatted_; }
  const std::optional<std::string>& message() const { return message_; }
  void setMessage(std::optional<std::string> message);
  const std::optional<std::vector<std::string>>& params() const { return params_; }
  void setParams(std::optional<std::vector<std::string>> params) { params_ = std::move(params); }

  /// "formatted", "message" and "params", each only when set.
  foundation::Dictionary serialize() const;
  /// "<DozidiMessage: <address>, <serialised dictionary>>"
  std::string description() const;

 private:
  explicit DozidiMessage(std::optional<std::string> formatted);
  std::optional<std::string> formatted_;
  std::optional<std::string> message_;
  std::optional<std::vector<std::string>> params_;
};
