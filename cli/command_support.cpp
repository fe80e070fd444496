#include "cli/command_support.h"

#include <algorithm>
#include <charconv>
#include <filesystem>

namespace vaultwick {

std::optional<std::string> ParsedArguments::Value(std::string_view option) const {
  auto found = options.find(option);
  if (found == options.end()) {
    return std::nullopt;
  }
  return found->second;
}

std::optional<ParsedArguments> ParseArguments(int argc, char** argv, const CommandSpec& spec,
                                              std::string* error) {
  ParsedArguments parsed;
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view argument = argv[i];
    const bool dashed = argument.size() > 1 && argument[0] == '-';
    const bool isOption =
        !optionsEnded && dashed && (argument[1] == '-' || spec.dashedWordsAreOptions);
    if (!isOption && !(!optionsEnded && argument == "-h")) {
      parsed.positional.emplace_back(argument);
      continue;
    }
    if (argument == "--help" || argument == "-h") {
      parsed.help = true;
      continue;
    }
    if (argument == "--") {
      optionsEnded = true;
      continue;
    }
    const std::string_view::size_type equals = argument.find('=');
    const std::string_view name = argument.substr(0, equals);
    const OptionSpec* option = nullptr;
    for (const OptionSpec& candidate : spec.options) {
      if (candidate.name == name && (equals == std::string_view::npos || candidate.takesValue)) {
        option = &candidate;
      }
    }
    if (option == nullptr) {
      *error = "unknown option " + std::string(argument);
      return std::nullopt;
    }
    std::string value;
    if (equals != std::string_view::npos) {
      value = argument.substr(equals + 1);
    } else if (option->takesValue) {
      if (i + 1 >= argc) {
        *error = "missing value for " + std::string(argument);
        return std::nullopt;
      }
      value = argv[++i];
    }
    parsed.every[std::string(name)].push_back(value);
    parsed.options[std::string(name)] = std::move(value);
  }
  return parsed;
}

std::optional<int> ParseNumber(std::string_view text, int min, int max) {
  int value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < min ||
      value > max) {
    return std::nullopt;
  }
  return value;
}

std::optional<TlsSettings> TlsFromArguments(const ParsedArguments& arguments, TlsSettings base,
                                            std::string* problem) {
  if (std::optional<std::string> name = arguments.Value(kTlsOption.name)) {
    std::optional<TlsMode> mode = ParseTlsMode(*name);
    if (!mode) {
      *problem =
          "--tls takes preferred, required, verify-ca, verify-identity or off, not '" + *name + "'";
      return std::nullopt;
    }
    base.mode = *mode;
  }
  if (std::optional<std::string> ca = arguments.Value(kTlsCaOption.name)) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(*ca, error);
    base.caFile = ca->empty() || error ? *ca : absolute.string();
  }
  return base;
}

std::variant<ParsedArguments, int> StartCommand(const CommandSpec& spec, int argc, char** argv,
                                                const CommandIo& io) {
  std::string problem;
  std::optional<ParsedArguments> arguments = ParseArguments(argc, argv, spec, &problem);
  if (!arguments) {
    return UsageError(spec, io, problem);
  }
  if (arguments->help) {
    std::fputs(spec.usage, io.out);
    return kExitOk;
  }
  if (arguments->positional.size() > spec.mostPositional) {
    return UsageError(spec, io, "too many arguments");
  }
  return std::move(*arguments);
}

int UsageError(const CommandSpec& spec, const CommandIo& io, std::string_view problem) {
  PrintError(io, spec.name, problem);
  std::fputs(spec.usage, io.err);
  return kExitUsage;
}

int WithStore(const CommandSpec& spec, const ParsedArguments& arguments, const CommandIo& io,
              const std::function<int(SettingsStore&)>& body) {
  try {
    std::unique_ptr<SettingsStore> store =
        OpenUserSettingsStore(arguments.Value("--store").value_or(""));
    return body(*store);
  } catch (const SettingsStoreError& error) {
    PrintError(io, spec.name, error.what());
    return kExitFailed;
  }
}

int RunStoreCommand(const CommandSpec& spec, int argc, char** argv, const CommandIo& io,
                    const std::function<int(SettingsStore&, const ParsedArguments&)>& body) {
  auto started = StartCommand(spec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  const ParsedArguments& arguments = std::get<ParsedArguments>(started);
  return WithStore(spec, arguments, io,
                   [&](SettingsStore& store) { return body(store, arguments); });
}

void PrintError(const CommandIo& io, std::string_view command, std::string_view message) {
  std::fprintf(io.err, "vaultwick %.*s: %.*s\n", static_cast<int>(command.size()), command.data(),
               static_cast<int>(message.size()), message.data());
}

std::string FormatLocalTime(const std::optional<LocalTime>& moment) {
  char text[32] = "?";
  if (moment) {
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", moment->year, moment->month,
                  moment->day, moment->hour, moment->minute, moment->second);
  }
  return text;
}

std::string YesNoText(const std::optional<bool>& value) {
  return !value ? "-" : *value ? "yes" : "no";
}

std::string OrDash(const std::string& text) {
  return text.empty() ? "-" : text;
}

namespace {

// The columns a cell takes on a terminal: one per character, so that a name
// such as "Läden" lines up with ASCII ones (wide East Asian characters still
// take two; they are rare in connection names).
std::size_t CellWidth(const std::string& cell) {
  return static_cast<std::size_t>(std::count_if(cell.begin(), cell.end(), [](char byte) {
    return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;
  }));
}

}  // namespace

void PrintColumns(const std::vector<std::vector<std::string>>& lines, std::FILE* out) {
  std::vector<std::size_t> widths;
  for (const std::vector<std::string>& line : lines) {
    widths.resize(std::max(widths.size(), line.size()));
    for (std::size_t c = 0; c < line.size(); ++c) {
      widths[c] = std::max(widths[c], CellWidth(line[c]));
    }
  }
  for (const std::vector<std::string>& line : lines) {
    std::string text;
    for (std::size_t c = 0; c < line.size(); ++c) {
      text += line[c];
      if (c + 1 < line.size()) {
        text += std::string(widths[c] - CellWidth(line[c]) + 2, ' ');
      }
    }
    text.erase(text.find_last_not_of(' ') + 1);
    std::fprintf(out, "%s\n", text.c_str());
  }
}

std::string FormatSeconds(std::int64_t milliseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(milliseconds) / 1000.0);
  return text;
}

std::string EndTextWithCause(std::string_view endText, std::string_view cause) {
  std::string text(endText);
  if (!cause.empty()) {
    text.append(" (").append(cause).append(")");
  }
  return text;
}

std::string TestRestoreText(std::string_view verified, std::string_view detail) {
  if (verified.empty()) {
    return {};
  }
  std::string text = "test restore ";
  text.append(verified);
  if (!detail.empty()) {
    text.append(": ").append(detail);
  }
  return text;
}

}  // namespace vaultwick
