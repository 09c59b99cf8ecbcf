#pragma once
#include <functional>
#include <memory>
#include <mutex>

class DozidiClient;
class DozidiScope;

/// Binds one client and one scope. Any thread may call it.
class DozidiHub {
 public:
  /// A hub over `client` and `scope`; either may be none (a missing scope is made on first use).
  static std::shared_ptr<DozidiHub> initWithClient(std::shared_ptr<DozidiClient> client,
                                                   std::shared_ptr<DozidiScope> scope);

  std::shared_ptr<DozidiClient> getClient() const;
  /// Binds `client`; none unbinds it.
  void bindClient(std::shared_ptr<DozidiClient> client);
  /// The hub's scope, created on first use.
  std::shared_ptr<DozidiScope> scope();

  /// Calls `block` at once, on the caller's thread, with the hub's scope, but only when a client is
  /// bound; otherwise the block is not called.
  void configureScope(const std::function<void(DozidiScope&)>& block);

 private:
  DozidiHub(std::shared_ptr<DozidiClient> client, std::shared_ptr<DozidiScope> scope);

  mutable std::mutex lock_;
  std::shared_ptr<DozidiClient> client_;
  std::shared_ptr<DozidiScope> scope_;
};
