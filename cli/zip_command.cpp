#include "cli/zip_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "zip/zip_writer.h"

namespace vaultwick {

namespace {

constexpr const char* kUsage =
    "usage: vaultwick zip [--level N] ARCHIVE FILE...\n"
    "\n"
    "Packs the files into a new ZIP archive; an existing ARCHIVE is replaced.\n"
    "\n"
    "  ARCHIVE     the archive to write, or - for standard output\n"
    "  FILE        a file, added under its path as given less any leading '/';\n"
    "              a folder adds a folder entry (its contents are not added);\n"
    "              - adds standard input as a member named -\n"
    "  --level N   compression level 1 (fastest) to 8 (smallest, the default)\n"
    "  --help      show this text\n"
    "\n"
    "Members named *.zip, *.gz, *.tgz, *.Z, *.zoo, *.arc, *.lzh, *.arj are stored,\n"
    "all others are deflated.\n";

struct ZipOptions {
  int level = kDefaultPackLevel;
  const char* archive = nullptr;
  std::vector<const char*> files;
};

int usageError(const char* message) {
  std::fprintf(stderr, "vaultwick zip: %s\n%s", message, kUsage);
  return 2;
}

std::string resultText(ZipResult result) {
  char text[128];
  zipResultText(result, text, sizeof text);
  return text;
}

// Returns -1 when the arguments are fine, else the exit status to end with.
int parseOptions(int argc, char** argv, ZipOptions& options) {
  bool optionsEnded = false;
  for (int i = 0; i < argc; ++i) {
    const std::string_view argument = argv[i];
    if (!optionsEnded && (argument == "--help" || argument == "-h")) {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (!optionsEnded && argument == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && (argument == "--level" || argument.starts_with("--level="))) {
      const char* value = argument == "--level" ? (i + 1 < argc ? argv[++i] : nullptr)
                                                : argv[i] + std::string_view("--level=").size();
      char* end = nullptr;
      const long level = value != nullptr ? std::strtol(value, &end, 10) : 0;
      if (value == nullptr || *value == '\0' || *end != '\0' || level < 1 ||
          level > kDefaultPackLevel) {
        return usageError("--level takes a number from 1 to 8");
      }
      options.level = static_cast<int>(level);
    } else if (!optionsEnded && argument.size() > 1 && argument[0] == '-') {
      return usageError(("unknown option " + std::string(argument)).c_str());
    } else if (options.archive == nullptr) {
      options.archive = argv[i];
    } else {
      options.files.push_back(argv[i]);
    }
  }
  if (options.archive == nullptr || options.files.empty()) {
    return usageError("an archive and at least one file are needed");
  }
  return -1;
}

ZipResult addFile(ZipHandle* handle, const char* path) {
  static const int kStandardInput = STDIN_FILENO;
  if (std::string_view(path) == "-") {
    return addZipMember(handle, "-", &kStandardInput, 0, ZipSourceKind::Handle);
  }
  const char* name = path;
  while (*name == '/') {
    ++name;
  }
  struct stat info {};
  if (stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    return addZipMember(handle, name, nullptr, 0, ZipSourceKind::Folder);
  }
  return addZipMember(handle, name, path, 0, ZipSourceKind::FileName);
}

}  // namespace

int runZipCommand(int argc, char** argv) {
  ZipOptions options;
  const int status = parseOptions(argc, argv, options);
  if (status >= 0) {
    return status;
  }
  const bool toStandardOutput = std::string_view(options.archive) == "-";
  static const int kStandardOutput = STDOUT_FILENO;
  ZipHandle* handle =
      toStandardOutput ? openZipWriter(&kStandardOutput, 0, ZipTargetKind::Handle, options.level)
                       : openZipWriter(options.archive, 0, ZipTargetKind::FileName, options.level);
  if (handle == nullptr) {
    std::fprintf(stderr, "vaultwick zip: %s: %s\n", options.archive,
                 resultText(lastZipResult.load()).c_str());
    return 1;
  }
  for (const char* file : options.files) {
    const ZipResult added = addFile(handle, file);
    if (added != ZipResult::Ok) {
      std::fprintf(stderr, "vaultwick zip: %s: %s\n", file, resultText(added).c_str());
      static_cast<void>(closeZipWriter(handle));
      if (!toStandardOutput) {
        unlink(options.archive);  // no half-made archive is left behind
      }
      return 1;
    }
  }
  const ZipResult closed = closeZipWriter(handle);
  if (closed != ZipResult::Ok) {
    std::fprintf(stderr, "vaultwick zip: %s: %s\n", options.archive, resultText(closed).c_str());
    if (!toStandardOutput) {
      unlink(options.archive);
    }
    return 1;
  }
  return 0;
}

}  // namespace vaultwick
