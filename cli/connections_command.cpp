#include "cli/connections_command.h"

#include <string>
#include <utility>

#include "cli/password_input.h"
#include "shell/connections.h"

namespace vaultwick {
namespace {

constexpr const char* kUsage =
    "usage: vaultwick connections list [--store FILE]\n"
    "       vaultwick connections add [NAME] [--store FILE]\n"
    "       vaultwick connections show NAME [--reveal-archive-password] [--store FILE]\n"
    "       vaultwick connections set NAME [--name NEW] [--host HOST[:PORT]] [--login LOGIN]\n"
    "                 [--database DB] [--start-hour 0-23] [--period 1|2|3|4|6|8|12|24]\n"
    "                 [--password-stdin] [--verify-restore SCRATCHDB | --no-verify-restore]\n"
    "                 [--tls MODE] [--tls-ca FILE]\n"
    "                 [--keep-hourly H] [--keep-daily D] [--keep-weekly W] [--keep-monthly M]\n"
    "                 [--encrypt | --no-encrypt] [--archive-password-stdin] [--store FILE]\n"
    "       vaultwick connections remove NAME [--store FILE]\n"
    "\n"
    "add without NAME picks \"New Connection\", \"New Connection 0\", ... Every new\n"
    "connection starts with host \"Host Name\", login \"Login\", no password, database\n"
    "\"Database\", start hour 0 and period 1. --password-stdin reads the password from\n"
    "the first line of standard input; a password is never taken from the command line.\n"
    "--verify-restore has every new archive of the connection loaded into the scratch\n"
    "database SCRATCHDB on the same server, dumped again and compared with the archived\n"
    "dump, and the scratch database dropped; the history says how it went. It doubles\n"
    "the load a backup puts on the server, so it is off unless asked for.\n"
    "--tls MODE is preferred (TLS when the server offers it; the default), required,\n"
    "verify-ca (and the server's certificate is signed by the CA of --tls-ca FILE,\n"
    "else by one the system trusts), verify-identity (and it names the host) or off.\n"
    "A server that cannot meet the mode is refused before anything is read.\n"
    "--keep-* say how many restore points a connection keeps after each complete\n"
    "backup: the last archive of each of the newest H hours, D days, W weeks (Monday\n"
    "to Sunday) and M months that have one (0 to 1000 each; at first 0, 7, 4 and 6).\n"
    "The newest archive and the newest one whose test restore verified always stay;\n"
    "all zero keeps the newest alone. They live in <target>/restore-points/NAME/.\n"
    "--encrypt encrypts the connection's new archives (AES-256) under its archive\n"
    "password, which the program makes when the connection has none;\n"
    "--archive-password-stdin sets it from the first line of standard input instead.\n"
    "--no-encrypt makes new archives unencrypted and keeps the password for the older\n"
    "ones. show --reveal-archive-password prints the password. Losing it loses every\n"
    "archive encrypted under it; archive and member names and sizes stay readable.\n"
    "The store is --store FILE, else $VAULTWICK_STORE, else\n"
    "$XDG_CONFIG_HOME/tessaly-vaultwick/settings.sqlite.\n";

constexpr OptionSpec kOptions[] = {
    kStoreOption,
    {"--name", true},
    {"--host", true},
    {"--login", true},
    {"--database", true},
    {"--start-hour", true},
    {"--period", true},
    {"--password-stdin", false},
    {"--verify-restore", true},
    {"--no-verify-restore", false},
    kTlsOption,
    kTlsCaOption,
    {"--encrypt", false},
    {"--no-encrypt", false},
    {"--archive-password-stdin", false},
    {"--reveal-archive-password", false},
    {"--keep-hourly", true},
    {"--keep-daily", true},
    {"--keep-weekly", true},
    {"--keep-monthly", true},
};

// The keep options and the policy count each one sets.
constexpr std::pair<const char*, int KeepPolicy::*> kKeepOptions[] = {
    {"--keep-hourly", &KeepPolicy::hourly},
    {"--keep-daily", &KeepPolicy::daily},
    {"--keep-weekly", &KeepPolicy::weekly},
    {"--keep-monthly", &KeepPolicy::monthly},
};
constexpr CommandSpec kSpec{"connections", kUsage, kOptions, 2};

int Refused(const CommandIo& io, ChangeResult result, const std::string& name) {
  PrintError(io, kSpec.name, std::string(ChangeResultText(result)) + ": " + name);
  return kExitFailed;
}

int NoSuchConnection(const CommandIo& io, const std::string& name) {
  PrintError(io, kSpec.name, "no connection named '" + name + "'");
  return kExitFailed;
}

// "verify-ca, CA /etc/db-ca.pem"; the verifying modes say whose CA they trust.
std::string TlsText(const TlsSettings& tls) {
  std::string text(TlsModeText(tls.mode));
  if (tls.mode == TlsMode::VerifyCa || tls.mode == TlsMode::VerifyIdentity) {
    text += tls.caFile.empty() ? ", the system's CAs" : ", CA " + tls.caFile;
  }
  return text;
}

// The archive password alone, for the user to keep elsewhere.
int RevealArchivePassword(const StoredConnection& stored, const CommandIo& io) {
  if (!stored.passwordsUnavailable.empty()) {
    PrintError(io, kSpec.name, stored.passwordsUnavailable);
    return kExitFailed;
  }
  if (stored.archivePassword.empty()) {
    PrintError(io, kSpec.name, "connection '" + stored.profile.name + "' has no archive password");
    return kExitFailed;
  }
  std::fprintf(io.out, "%s\n", stored.archivePassword.c_str());
  return kExitOk;
}

const char* EncryptionText(const StoredConnection& stored) {
  if (stored.encryptArchives) {
    return "on";
  }
  return stored.archivePassword.empty() ? "off" : "off (a password is kept for older archives)";
}

int Show(SettingsStore& store, const std::string& name, const ParsedArguments& arguments,
         const CommandIo& io) {
  const std::optional<StoredConnection> stored = ReadStoredConnection(store, name);
  if (!stored) {
    return NoSuchConnection(io, name);
  }
  if (arguments.Has("--reveal-archive-password")) {
    return RevealArchivePassword(*stored, io);
  }
  const ConnectionProfile* profile = &stored->profile;
  const std::string& scratch = stored->verifyRestore;
  const KeepPolicy keep = LoadKeepPolicy(store, name).value_or(KeepPolicy{});
  std::fprintf(io.out,
               "Name:          %s\nHost:          %s\nLogin:         %s\nPassword:      %s\n"
               "Database:      %s\nStart at:      %02d:00\nUpdate every:  %d hour(s)\n"
               "Test restore:  %s\n"
               "Keep:          %d hourly, %d daily, %d weekly, %d monthly\nTLS:           %s\n"
               "Encryption:    %s\n",
               profile->name.c_str(), profile->server.host.c_str(), profile->server.login.c_str(),
               profile->server.password.empty() ? "(none)" : "********",
               profile->server.database.c_str(), profile->startHour, profile->periodHours,
               scratch.empty() ? "off" : ("into " + scratch).c_str(), keep.hourly, keep.daily,
               keep.weekly, keep.monthly, TlsText(profile->server.tls).c_str(),
               EncryptionText(*stored));
  return kExitOk;
}

// A refused change inside the transaction of `set`: nothing of it is kept.
struct RefusedChange {
  ChangeResult result;
};

int Set(SettingsStore& store, const std::string& name, const ParsedArguments& arguments,
        const CommandIo& io) {
  // Numbers are read first: text that is no number is a usage error whatever
  // is stored. Out-of-range numbers reach the shell's check, which names the rule.
  std::optional<int> numbers[2];
  const char* numberOptions[2] = {"--start-hour", "--period"};
  for (int i = 0; i < 2; ++i) {
    if (std::optional<std::string> text = arguments.Value(numberOptions[i])) {
      numbers[i] = ParseNumber(*text, -1000, 1000);
      if (!numbers[i]) {
        return UsageError(
            kSpec, io,
            std::string(numberOptions[i]) + " needs a whole number, not '" + *text + "'");
      }
    }
  }
  std::optional<int> keepCounts[std::size(kKeepOptions)];
  for (std::size_t i = 0; i < std::size(kKeepOptions); ++i) {
    const char* option = kKeepOptions[i].first;
    if (std::optional<std::string> text = arguments.Value(option)) {
      keepCounts[i] = ParseNumber(*text, -1000000, 1000000);
      if (!keepCounts[i]) {
        return UsageError(kSpec, io,
                          std::string(option) + " needs a whole number, not '" + *text + "'");
      }
    }
  }
  const std::optional<StoredConnection> before = ReadStoredConnection(store, name);
  if (!before) {
    return NoSuchConnection(io, name);
  }
  const ConnectionProfile* profile = &before->profile;
  std::string problem;
  const std::optional<TlsSettings> tls = TlsFromArguments(arguments, profile->server.tls, &problem);
  if (!tls) {
    return UsageError(kSpec, io, problem);
  }
  std::optional<KeepPolicy> keep;
  for (std::size_t i = 0; i < std::size(kKeepOptions); ++i) {
    if (keepCounts[i]) {
      keep = keep.value_or(LoadKeepPolicy(store, name).value_or(KeepPolicy{}));
      (*keep).*kKeepOptions[i].second = *keepCounts[i];
    }
  }
  ConnectionProfile changed = *profile;
  changed.name = arguments.Value("--name").value_or(changed.name);
  changed.server.host = arguments.Value("--host").value_or(changed.server.host);
  changed.server.login = arguments.Value("--login").value_or(changed.server.login);
  changed.server.database = arguments.Value("--database").value_or(changed.server.database);
  changed.startHour = numbers[0].value_or(changed.startHour);
  changed.periodHours = numbers[1].value_or(changed.periodHours);
  if (arguments.Has("--password-stdin")) {
    changed.server.password = ReadPasswordLine(io);
  }
  std::optional<std::string> archivePassword;
  if (arguments.Has("--archive-password-stdin")) {
    archivePassword = ReadPasswordLine(io, "Archive password: ");
  }
  std::optional<bool> encrypt;
  if (arguments.Has("--encrypt") || arguments.Has("--no-encrypt")) {
    encrypt = arguments.Has("--encrypt");
  }
  const bool verifyChanges =
      arguments.Has("--verify-restore") || arguments.Has("--no-verify-restore");
  try {
    store.WriteTransaction([&] {
      // The old test restore goes first, so that a new database may take its name.
      if (verifyChanges) {
        SetVerifyRestore(store, profile->name, std::nullopt);
      }
      ChangeResult result = ApplyConnectionChanges(store, profile->name, changed);
      if (result == ChangeResult::Done && arguments.Has("--verify-restore")) {
        result = SetVerifyRestore(store, changed.name, arguments.Value("--verify-restore"))
                     .value_or(ChangeResult::Done);
      }
      if (result == ChangeResult::Done && *tls != profile->server.tls) {
        SetConnectionTls(store, changed.name, *tls);
      }
      if (result == ChangeResult::Done && keep) {
        result = SetKeepPolicy(store, changed.name, *keep).value_or(ChangeResult::Done);
      }
      if (result == ChangeResult::Done && (encrypt || archivePassword)) {
        result = SetArchiveEncryption(store, changed.name, encrypt, archivePassword)
                     .value_or(ChangeResult::Done);
      }
      if (result != ChangeResult::Done) {
        throw RefusedChange{result};
      }
    });
  } catch (const RefusedChange& refused) {
    return Refused(io, refused.result, changed.name);
  }
  if (encrypt == true && !archivePassword && before->archivePassword.empty()) {
    std::fprintf(io.err,
                 "The new archives of %s are encrypted under a password the program made.\n"
                 "Keep a copy of it elsewhere (vaultwick connections show '%s' "
                 "--reveal-archive-password):\nwithout it, no archive encrypted under it can "
                 "be opened.\n",
                 changed.name.c_str(), changed.name.c_str());
  }
  return kExitOk;
}

int Run(SettingsStore& store, const std::string& action, const std::string& name,
        const ParsedArguments& arguments, const CommandIo& io) {
  if (action == "list") {
    for (const std::string& each : ListConnections(store)) {
      std::fprintf(io.out, "%s\n", each.c_str());
    }
    return kExitOk;
  }
  if (action == "add") {
    if (name.empty()) {
      std::fprintf(io.out, "%s\n", AddConnection(store).c_str());
      return kExitOk;
    }
    ChangeResult result = AddConnectionNamed(store, name);
    if (result != ChangeResult::Done) {
      return Refused(io, result, name);
    }
    std::fprintf(io.out, "%s\n", name.c_str());
    return kExitOk;
  }
  if (action == "show") {
    return Show(store, name, arguments, io);
  }
  if (action == "set") {
    return Set(store, name, arguments, io);
  }
  return RemoveConnection(store, name) ? kExitOk : NoSuchConnection(io, name);
}

}  // namespace

int RunConnectionsCommand(int argc, char** argv, const CommandIo& io) {
  auto started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  const std::vector<std::string>& words = arguments.positional;
  if (words.empty()) {
    return UsageError(kSpec, io, "missing action");
  }
  const std::string& action = words[0];
  const bool needsName = action == "show" || action == "set" || action == "remove";
  if (!needsName && action != "add" && action != "list") {
    return UsageError(kSpec, io, "unknown action " + action);
  }
  if ((needsName && words.size() < 2) || (action == "list" && words.size() > 1)) {
    return UsageError(kSpec, io, needsName ? action + " takes one NAME" : "too many arguments");
  }
  const bool reveals = arguments.Has("--reveal-archive-password");
  const std::size_t general = (arguments.Has("--store") ? 1u : 0u) + (reveals ? 1u : 0u);
  if (arguments.options.size() > general && action != "set") {
    return UsageError(kSpec, io, "only set takes options other than --store");
  }
  if (reveals && action != "show") {
    return UsageError(kSpec, io, "--reveal-archive-password goes with show");
  }
  if (arguments.Has("--encrypt") && arguments.Has("--no-encrypt")) {
    return UsageError(kSpec, io, "--encrypt and --no-encrypt exclude each other");
  }
  if (arguments.Has("--password-stdin") && arguments.Has("--archive-password-stdin")) {
    return UsageError(kSpec, io,
                      "--password-stdin and --archive-password-stdin both read standard input; "
                      "give them in two calls");
  }
  if (arguments.Has("--verify-restore") && arguments.Has("--no-verify-restore")) {
    return UsageError(kSpec, io, "--verify-restore and --no-verify-restore exclude each other");
  }
  const std::string name = words.size() > 1 ? words[1] : "";
  return WithStore(kSpec, arguments, io,
                   [&](SettingsStore& store) { return Run(store, action, name, arguments, io); });
}

}  // namespace vaultwick
