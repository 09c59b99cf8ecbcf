#pragma once
#include <memory>
#include <mutex>
#include <random>

/// The random source of the samplers: numbers in [0, 1). Each instance owns a generator seeded
/// from the system's entropy, behind its own lock, so two instances never repeat each other and
/// threads may share one. Tests replace it with a subclass through the dependency container.
class DozidiRandom {
 public:
  static std::shared_ptr<DozidiRandom> create();
  virtual ~DozidiRandom() = default;
  /// The next number, at least 0 and below 1.
  virtual double nextNumber();

 protected:
  DozidiRandom();

 private:
  std::mutex lock_;
  std::mt19937_64 generator_;
};
