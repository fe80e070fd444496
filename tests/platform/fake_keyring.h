#pragma once

// A keyring in memory whose state a test sets: open, locked or absent, and
// whether it refuses to store. The test keeps the shared state; the store
// owns the keyring.

#include <map>
#include <memory>
#include <string>
#include <tuple>

#include "platform/keyring.h"

namespace vaultwick::test {

struct FakeKeyringState {
  KeyringState state = KeyringState::Open;
  bool refuseStores = false;
  std::map<std::tuple<std::string, std::string, SecretKind>, std::string> items;

  const std::string* Find(const std::string& connection, SecretKind kind) const {
    for (const auto& [key, value] : items) {
      if (std::get<1>(key) == connection && std::get<2>(key) == kind) {
        return &value;
      }
    }
    return nullptr;
  }
};

class FakeKeyring : public Keyring {
 public:
  explicit FakeKeyring(std::shared_ptr<FakeKeyringState> shared) : shared_(std::move(shared)) {}

  KeyringState State() override { return shared_->state; }
  void Store(const KeyringItem& item, std::string_view, std::string_view secret) override {
    Usable();
    if (shared_->refuseStores) {
      throw KeyringError("the fake keyring refuses");
    }
    shared_->items[Key(item)] = std::string(secret);
  }
  std::optional<std::string> Lookup(const KeyringItem& item) override {
    Usable();
    auto found = shared_->items.find(Key(item));
    return found == shared_->items.end() ? std::nullopt : std::optional(found->second);
  }
  void Remove(const KeyringItem& item) override {
    Usable();
    shared_->items.erase(Key(item));
  }

 private:
  static std::tuple<std::string, std::string, SecretKind> Key(const KeyringItem& item) {
    return {item.store, item.connection, item.kind};
  }
  void Usable() const {
    if (shared_->state == KeyringState::Locked) {
      throw KeyringError(kTextKeyringLocked);
    }
    if (shared_->state == KeyringState::Absent) {
      throw KeyringError(kTextNoKeyring);
    }
  }

  std::shared_ptr<FakeKeyringState> shared_;
};

}  // namespace vaultwick::test
