#pragma once

// What the commands share: where they read and write, their argument
// parsing, and opening the store that --store, VAULTWICK_STORE or the default
// names.

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/server_tls.h"
#include "platform/clock.h"
#include "platform/settings_store.h"

namespace vaultwick {

// Exit statuses every command shares.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// Work that a stop signal ended exits with this plus the signal's number, as
// a shell reports a program the signal killed.
inline constexpr int kExitSignalBase = 128;

// Where a command reads and writes; tests put memory streams here.
struct CommandIo {
  std::FILE* in = stdin;
  std::FILE* out = stdout;
  std::FILE* err = stderr;
};

struct OptionSpec {
  std::string_view name;  // "--host"
  bool takesValue;
};

// The option every store command takes.
inline constexpr OptionSpec kStoreOption{"--store", true};

struct ParsedArguments {
  std::vector<std::string> positional;
  std::map<std::string, std::string, std::less<>> options;  // a flag maps to ""; the last value
  // Every value of each option given, in order, for options that may repeat.
  std::map<std::string, std::vector<std::string>, std::less<>> every;
  bool help = false;

  bool Has(std::string_view option) const { return options.find(option) != options.end(); }
  std::optional<std::string> Value(std::string_view option) const;
};

// A whole decimal number in [min, max], else nullopt.
std::optional<int> ParseNumber(std::string_view text, int min, int max);

// The options that say how a connection asks for TLS.
inline constexpr OptionSpec kTlsOption{"--tls", true};
inline constexpr OptionSpec kTlsCaOption{"--tls-ca", true};

// `base` with what --tls and --tls-ca change (the CA file made absolute, as
// work may run from another folder); nullopt with the reason in *problem for
// a mode that is none.
std::optional<TlsSettings> TlsFromArguments(const ParsedArguments& arguments, TlsSettings base,
                                            std::string* problem);

// What each command declares about itself.
struct CommandSpec {
  std::string_view name;  // "target"
  const char* usage;      // the --help text
  std::span<const OptionSpec> options;
  std::size_t mostPositional;  // words that are not options
  // Whether a word such as "-x" is an (unknown) option rather than a word;
  // "-" alone is always a word.
  bool dashedWordsAreOptions = false;
};

// Parses argv against `spec` (--help and -h are always known). An option that
// takes a value takes the next word or "=VALUE"; "--" ends the options. nullopt
// with the reason in *error for an unknown option or a missing value.
std::optional<ParsedArguments> ParseArguments(int argc, char** argv, const CommandSpec& spec,
                                              std::string* error);

// The start every command shares: parses argv against `spec`. Returns
// the arguments, or the exit status to return at once: kExitUsage after the
// problem and the usage text on io.err, kExitOk after --help on io.out.
std::variant<ParsedArguments, int> StartCommand(const CommandSpec& spec, int argc, char** argv,
                                                const CommandIo& io);

// Writes "vaultwick NAME: PROBLEM" and the usage text to io.err; kExitUsage.
int UsageError(const CommandSpec& spec, const CommandIo& io, std::string_view problem);

// Opens the store the arguments name (--store, else VAULTWICK_STORE, else the
// default) and runs `body` on it. A store that cannot be opened or fails
// during `body` is reported as "vaultwick NAME: <why>" and gives kExitFailed.
int WithStore(const CommandSpec& spec, const ParsedArguments& arguments, const CommandIo& io,
              const std::function<int(SettingsStore&)>& body);

// The whole of a command that works on the store: StartCommand, then `body`
// on the store the arguments name, as WithStore runs it.
int RunStoreCommand(const CommandSpec& spec, int argc, char** argv, const CommandIo& io,
                    const std::function<int(SettingsStore&, const ParsedArguments&)>& body);

// Writes "vaultwick COMMAND: MESSAGE" and a newline to io.err.
void PrintError(const CommandIo& io, std::string_view command, std::string_view message);

// How the commands write a moment, a duration and a job's end:
// "YYYY-MM-DD HH:MM:SS" ("?" for a moment that could not be read), "1.5 s",
// and the end text followed by its cause in parentheses, when it has one.
std::string FormatLocalTime(const std::optional<LocalTime>& moment);
std::string FormatSeconds(std::int64_t milliseconds);
std::string EndTextWithCause(std::string_view endText, std::string_view cause);
// "yes", "no", or "-" where a row says nothing (older rows do not know
// whether their archive was checked).
std::string YesNoText(const std::optional<bool>& value);
// The text, or "-" when it is empty (a run without a test restore has no verdict).
std::string OrDash(const std::string& text);

// One line per entry, each column as wide as its widest entry (counted in
// characters, not bytes) and two spaces apart; no line ends in spaces. The
// first line is the header.
void PrintColumns(const std::vector<std::vector<std::string>>& lines, std::FILE* out);

// How a test restore went, for a log or a summary: "test restore verified",
// or "test restore differs: DETAIL" ("failed" likewise); empty when none ran.
std::string TestRestoreText(std::string_view verified, std::string_view detail);

}  // namespace vaultwick
