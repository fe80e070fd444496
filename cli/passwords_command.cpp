#include "cli/passwords_command.h"

#include "shell/password_place.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick passwords [keyring|store] [--store FILE]\n"
    "Without an argument prints where the passwords of the connections (their logins'\n"
    "and their archive passwords) are kept, and for each connection where its are.\n"
    "keyring keeps them in the desktop keyring (a Secret Service such as GNOME Keyring)\n"
    "wherever one is open, else in the store's file: the default. store keeps them in\n"
    "the store's file, readable by you alone. Either moves every connection's\n"
    "passwords at once; a copy is removed only once the other place has confirmed it.\n";

constexpr OptionSpec kOptions[] = {kStoreOption};
constexpr CommandSpec kSpec{"passwords", kUsage, kOptions, 1};

const char* KeyringText(KeyringState state) {
  switch (state) {
    case KeyringState::Open:
      return "the desktop keyring is open";
    case KeyringState::Locked:
      return kTextKeyringLocked;
    case KeyringState::Absent:
      break;
  }
  return kTextNoKeyring;
}

// Prints the places; false when a connection's passwords are not where they
// are to be kept although they could be, or cannot be read at all.
bool Print(const PasswordPlaces& places, const CommandIo& io) {
  std::fprintf(io.out, "Passwords are kept in: %s (%s)\n",
               places.keyringWanted ? "the desktop keyring where one is open" : "the store's file",
               KeyringText(places.keyring));
  bool settled = true;
  for (const ConnectionPasswordPlace& connection : places.connections) {
    std::string where = connection.inKeyring ? "keyring" : "store";
    if (!connection.unavailable.empty()) {
      where += ": " + connection.unavailable;
      settled = false;
    } else if (connection.inKeyring != places.keyringWanted &&
               (connection.inKeyring || places.keyring == KeyringState::Open)) {
      where += " (not moved)";
      settled = false;
    }
    std::fprintf(io.out, "%s\t%s\n", connection.name.c_str(), where.c_str());
  }
  return settled;
}

int Run(SettingsStore& store, const ParsedArguments& arguments, const CommandIo& io) {
  PasswordPlaces places;
  if (arguments.positional.empty()) {
    places = SettlePasswordPlaces(store);
  } else if (arguments.positional[0] == "keyring" || arguments.positional[0] == "store") {
    places = KeepPasswordsIn(store, arguments.positional[0] == "keyring");
  } else {
    return UsageError(kSpec, io, "name where to keep them: keyring or store");
  }
  return Print(places, io) ? kExitOk : kExitFailed;
}

}  // namespace

int RunPasswordsCommand(int argc, char** argv, const CommandIo& io) {
  return RunStoreCommand(kSpec, argc, argv, io,
                         [&](SettingsStore& store, const ParsedArguments& arguments) {
                           return Run(store, arguments, io);
                         });
}

}  // namespace vaultwick
