#pragma once

/// An inclusive range of HTTP status codes.
class DozidiHttpStatusCodeRange {
 public:
  DozidiHttpStatusCodeRange(int min, int max) : min_(min), max_(max) {}
  int min() const { return min_; }
  int max() const { return max_; }
  bool isInRange(int statusCode) const { return statusCode >= min_ && statusCode <= max_; }

 private:
  int min_;
  int max_;
};
