// The desktop keyring through libsecret. Every call is synchronous and
// asks the service to unlock nothing, so no prompt ever appears: where an
// item sits in a locked keyring, the caller is told that the keyring is
// locked.

#include <libsecret/secret.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "platform/keyring.h"

namespace vaultwick {
namespace {

constexpr const char* kProduct = "Tessaly Vaultwick";

// Attribute names of every item; the schema's name is also stored with each
// item (xdg:schema), so our items never match another program's search.
constexpr const char* kProductAttribute = "product";
constexpr const char* kStoreAttribute = "store";
constexpr const char* kConnectionAttribute = "connection";
constexpr const char* kKindAttribute = "kind";

const SecretSchema* Schema() {
  static const SecretSchema schema = [] {
    SecretSchema made{};
    made.name = "com.tessaly.Vaultwick.Password";
    made.flags = SECRET_SCHEMA_NONE;
    const char* names[] = {kProductAttribute, kStoreAttribute, kConnectionAttribute,
                           kKindAttribute};
    for (std::size_t i = 0; i < std::size(names); ++i) {
      made.attributes[i] = {names[i], SECRET_SCHEMA_ATTRIBUTE_STRING};
    }
    return made;
  }();
  return &schema;
}

const char* KindName(SecretKind kind) {
  return kind == SecretKind::ConnectionPassword ? "connection password" : "archive password";
}

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using ErrorPtr = std::unique_ptr<GError, GErrorFree>;

struct GObjectUnref {
  void operator()(void* object) const { g_object_unref(object); }
};
template <typename T>
using ObjectPtr = std::unique_ptr<T, GObjectUnref>;

struct HashTableUnref {
  void operator()(GHashTable* table) const { g_hash_table_unref(table); }
};

struct ItemListFree {
  void operator()(GList* list) const { g_list_free_full(list, g_object_unref); }
};

// The item's attributes; the strings stay owned by `item`, which must outlive the table.
std::unique_ptr<GHashTable, HashTableUnref> Attributes(const KeyringItem& item) {
  std::unique_ptr<GHashTable, HashTableUnref> table(g_hash_table_new(g_str_hash, g_str_equal));
  auto put = [&](const char* name, const char* value) {
    g_hash_table_insert(table.get(), const_cast<char*>(name), const_cast<char*>(value));
  };
  put(kProductAttribute, kProduct);
  put(kStoreAttribute, item.store.c_str());
  put(kConnectionAttribute, item.connection.c_str());
  put(kKindAttribute, KindName(item.kind));
  return table;
}

bool NoService(const GError* error) {
  return g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_SPAWN_SERVICE_NOT_FOUND) ||
         g_error_matches(error, G_DBUS_ERROR, G_DBUS_ERROR_FILE_NOT_FOUND) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND) ||
         g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CLOSED);
}

[[noreturn]] void Throw(const GError* error) {
  if (g_error_matches(error, SECRET_ERROR, SECRET_ERROR_IS_LOCKED)) {
    throw KeyringError(kTextKeyringLocked);
  }
  if (NoService(error)) {
    throw KeyringError(kTextNoKeyring);
  }
  throw KeyringError(std::string("the desktop keyring failed: ") + error->message);
}

// Whether the user's session has a bus to ask. Without one, GLib would try to
// start a bus of its own (and leave it running); a program without a session
// has no keyring to ask.
bool SessionBusKnown() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) {
    return true;
  }
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  struct stat socket {};
  return runtime != nullptr && *runtime != '\0' &&
         ::stat((std::string(runtime) + "/bus").c_str(), &socket) == 0 && S_ISSOCK(socket.st_mode);
}

class DesktopKeyring : public Keyring {
 public:
  KeyringState State() override {
    GError* raw = nullptr;
    SecretService* service = Service(&raw);
    ErrorPtr error(raw);
    if (service == nullptr) {
      return KeyringState::Absent;
    }
    ObjectPtr<SecretCollection> collection(DefaultCollection(service, &raw));
    error.reset(raw);
    if (collection == nullptr) {
      return KeyringState::Absent;
    }
    return secret_collection_get_locked(collection.get()) ? KeyringState::Locked
                                                          : KeyringState::Open;
  }

  void Store(const KeyringItem& item, std::string_view label, std::string_view secret) override {
    SecretService* service = ServiceOrThrow();
    auto attributes = Attributes(item);
    const std::string labelText(label);
    SecretValue* value =
        secret_value_new(secret.data(), static_cast<gssize>(secret.size()), "text/plain");
    GError* raw = nullptr;
    const gboolean stored =
        secret_service_store_sync(service, Schema(), attributes.get(), SECRET_COLLECTION_DEFAULT,
                                  labelText.c_str(), value, nullptr, &raw);
    secret_value_unref(value);
    ErrorPtr error(raw);
    if (error != nullptr) {
      Throw(error.get());
    }
    if (!stored) {
      throw KeyringError(kTextKeyringLocked);
    }
  }

  std::optional<std::string> Lookup(const KeyringItem& item) override {
    SecretService* service = ServiceOrThrow();
    auto attributes = Attributes(item);
    GError* raw = nullptr;
    std::unique_ptr<GList, ItemListFree> found(secret_service_search_sync(
        service, Schema(), attributes.get(), SECRET_SEARCH_ALL, nullptr, &raw));
    ErrorPtr error(raw);
    if (error != nullptr) {
      Throw(error.get());
    }
    if (found == nullptr) {
      // A locked keyring may not even show what it holds.
      if (State() == KeyringState::Locked) {
        throw KeyringError(kTextKeyringLocked);
      }
      return std::nullopt;
    }
    auto* first = static_cast<SecretItem*>(found->data);
    if (secret_item_get_locked(first)) {
      throw KeyringError(kTextKeyringLocked);
    }
    if (!secret_item_load_secret_sync(first, nullptr, &raw)) {
      error.reset(raw);
      Throw(error.get());
    }
    SecretValue* value = secret_item_get_secret(first);
    if (value == nullptr) {
      throw KeyringError(kTextKeyringLocked);
    }
    gsize length = 0;
    const gchar* bytes = secret_value_get(value, &length);
    std::string secret(bytes, length);
    secret_value_unref(value);
    return secret;
  }

  void Remove(const KeyringItem& item) override {
    SecretService* service = ServiceOrThrow();
    auto attributes = Attributes(item);
    GError* raw = nullptr;
    secret_service_clear_sync(service, Schema(), attributes.get(), nullptr, &raw);
    ErrorPtr error(raw);
    if (error != nullptr) {
      Throw(error.get());
    }
  }

 private:
  // The process's one connection to the service, made on first use.
  static SecretService* Service(GError** error) {
    if (!SessionBusKnown()) {
      g_set_error_literal(error, G_IO_ERROR, G_IO_ERROR_NOT_FOUND, "no session bus");
      return nullptr;
    }
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_NONE, nullptr, error);
    if (service == nullptr) {
      return nullptr;
    }
    // GLib ends a program whose shared session bus goes away; a scheduler
    // that outlives a desktop session must not end with it.
    g_dbus_connection_set_exit_on_close(g_dbus_proxy_get_connection(G_DBUS_PROXY(service)), FALSE);
    // secret_service_get_sync hands out a reference to a shared object; the
    // shared one lives until the program ends.
    g_object_unref(service);
    return service;
  }

  static SecretService* ServiceOrThrow() {
    GError* raw = nullptr;
    SecretService* service = Service(&raw);
    ErrorPtr error(raw);
    if (service == nullptr) {
      Throw(error.get());
    }
    return service;
  }

  static SecretCollection* DefaultCollection(SecretService* service, GError** error) {
    return secret_collection_for_alias_sync(service, SECRET_COLLECTION_DEFAULT,
                                            SECRET_COLLECTION_NONE, nullptr, error);
  }
};

}  // namespace

std::unique_ptr<Keyring> OpenDesktopKeyring() {
  return std::make_unique<DesktopKeyring>();
}

}  // namespace vaultwick
