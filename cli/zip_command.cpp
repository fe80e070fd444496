#include "cli/zip_command.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "zip/zip_writer.h"

namespace vaultwick {

namespace {

constexpr const char* kUsage =
    "usage: vaultwick zip [--level N] [--threads N] ARCHIVE FILE...\n"
    "\n"
    "Packs the files into a new ZIP archive. An existing ARCHIVE is replaced only\n"
    "once the new one is whole, and keeps its permissions; a failure leaves it as it was.\n"
    "\n"
    "  ARCHIVE     the archive to write, or - for standard output\n"
    "  FILE        a file, added under its path as given less any leading '/';\n"
    "              a folder adds a folder entry (its contents are not added);\n"
    "              - adds standard input as a member named -\n"
    "  --level N   compression level 1 (fastest) to 8 (smallest, the default)\n"
    "  --threads N threads that compress each member (levels 4 to 8), default: one\n"
    "              per core; every count gives the same archive byte for byte\n"
    "  --help      show this text\n"
    "\n"
    "Members named *.zip, *.gz, *.tgz, *.Z, *.zoo, *.arc, *.lzh, *.arj are stored,\n"
    "all others are deflated.\n";

struct ZipOptions {
  int level = kDefaultPackLevel;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  const char* archive = nullptr;
  std::vector<const char*> files;
};

int usageError(const char* message) {
  std::fprintf(stderr, "vaultwick zip: %s\n%s", message, kUsage);
  return 2;
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
    } else if (!optionsEnded && (argument == "--threads" || argument.starts_with("--threads="))) {
      const char* value = argument == "--threads" ? (i + 1 < argc ? argv[++i] : nullptr)
                                                  : argv[i] + std::string_view("--threads=").size();
      char* end = nullptr;
      const long threads = value != nullptr ? std::strtol(value, &end, 10) : 0;
      if (value == nullptr || *value == '\0' || *end != '\0' || threads < 1 || threads > 1024) {
        return usageError("--threads takes a number from 1 to 1024");
      }
      options.threads = static_cast<unsigned>(threads);
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

struct FileIdentity {
  dev_t device;
  ino_t inode;
};

std::optional<FileIdentity> identityOf(int statResult, const struct stat& info) {
  if (statResult != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return FileIdentity{info.st_dev, info.st_ino};
}

// The regular file an argument names ("-": standard input or output), if any.
std::optional<FileIdentity> identityOf(const char* path, int standardStream) {
  struct stat info {};
  const int got = std::string_view(path) == "-" ? fstat(standardStream, &info) : stat(path, &info);
  return identityOf(got, info);
}

// A file packed into the archive that is being written over it would be read
// while it grows, without end.
const char* sourceThatIsTheArchive(const ZipOptions& options) {
  const std::optional<FileIdentity> archive = identityOf(options.archive, STDOUT_FILENO);
  if (!archive) {
    return nullptr;
  }
  for (const char* file : options.files) {
    const std::optional<FileIdentity> source = identityOf(file, STDIN_FILENO);
    if (source && source->device == archive->device && source->inode == archive->inode) {
      return file;
    }
  }
  return nullptr;
}

// The hidden file beside the archive that becomes the archive once whole. Its path
// lives in static storage so that a signal can remove it on the way out.
char partialPath[4096];
struct sigaction previousActions[3];
constexpr int kStopSignals[3] = {SIGINT, SIGTERM, SIGHUP};

void removePartialAndDie(int signal) {
  unlink(partialPath);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void watchSignals(bool on) {
  for (int i = 0; i < 3; ++i) {
    if (on) {
      struct sigaction action {};
      action.sa_handler = removePartialAndDie;
      sigaction(kStopSignals[i], &action, &previousActions[i]);
    } else {
      sigaction(kStopSignals[i], &previousActions[i], nullptr);
    }
  }
}

// Creates the partial file beside `archive` (hidden, exclusive, unique to this
// process). Returns its descriptor, or -1 with errno set.
int createPartial(const std::string& archive) {
  const std::string::size_type slash = archive.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : archive.substr(0, slash + 1);
  const std::string base = slash == std::string::npos ? archive : archive.substr(slash + 1);
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string path =
        folder + "." + base + ".part-" + std::to_string(getpid()) + "-" + std::to_string(attempt);
    if (path.size() >= sizeof partialPath) {
      errno = ENAMETOOLONG;
      return -1;
    }
    std::memcpy(partialPath, path.c_str(), path.size() + 1);
    const int fd = open(partialPath, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) {
      return fd;
    }
  }
  errno = EEXIST;
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

// Adds every file and finishes the archive; prints the first failure.
bool writeArchive(ZipHandle* handle, const ZipOptions& options) {
  if (handle == nullptr) {
    std::fprintf(stderr, "vaultwick zip: %s: %s\n", options.archive,
                 zipResultMessage(lastZipResult.load()).c_str());
    return false;
  }
  for (const char* file : options.files) {
    const ZipResult added = addFile(handle, file);
    if (added != ZipResult::Ok) {
      std::fprintf(stderr, "vaultwick zip: %s: %s\n", file, zipResultMessage(added).c_str());
      static_cast<void>(closeZipWriter(handle));
      return false;
    }
  }
  const ZipResult closed = closeZipWriter(handle);
  if (closed != ZipResult::Ok) {
    std::fprintf(stderr, "vaultwick zip: %s: %s\n", options.archive,
                 zipResultMessage(closed).c_str());
    return false;
  }
  return true;
}

// Makes the whole partial file the archive: the mode of the archive it replaces,
// on disk, then renamed over it. Closes `fd`.
bool placePartial(int fd, const struct stat* replaced, const char* archive) {
  bool placed = replaced == nullptr || fchmod(fd, replaced->st_mode & 07777) == 0;
  placed = placed && fsync(fd) == 0;
  placed = close(fd) == 0 && placed;
  placed = placed && rename(partialPath, archive) == 0;
  if (!placed) {
    std::fprintf(stderr, "vaultwick zip: %s: %s\n", archive, std::strerror(errno));
  }
  return placed;
}

// Writes the archive beside ARCHIVE and renames it over ARCHIVE once whole.
int writeBeside(const ZipOptions& options, const struct stat* replaced) {
  watchSignals(true);
  const int fd = createPartial(options.archive);
  bool written = false;
  if (fd < 0) {
    std::fprintf(stderr, "vaultwick zip: %s: %s\n", options.archive, std::strerror(errno));
  } else {
    written = writeArchive(
        openZipWriter(&fd, 0, ZipTargetKind::Handle, options.level, options.threads), options);
    if (written) {
      written = placePartial(fd, replaced, options.archive);
    } else {
      close(fd);
    }
    if (!written) {
      unlink(partialPath);
    }
  }
  watchSignals(false);
  partialPath[0] = '\0';
  return written ? 0 : 1;
}

}  // namespace

int runZipCommand(int argc, char** argv) {
  ZipOptions options;
  const int status = parseOptions(argc, argv, options);
  if (status >= 0) {
    return status;
  }
  if (const char* self = sourceThatIsTheArchive(options)) {
    std::fprintf(stderr, "vaultwick zip: %s: is the archive itself\n", self);
    return 2;
  }
  if (std::string_view(options.archive) == "-") {
    static const int kStandardOutput = STDOUT_FILENO;
    return writeArchive(openZipWriter(&kStandardOutput, 0, ZipTargetKind::Handle, options.level,
                                      options.threads),
                        options)
               ? 0
               : 1;
  }
  struct stat existing {};
  const bool exists = stat(options.archive, &existing) == 0;
  if (exists && !S_ISREG(existing.st_mode)) {
    // A pipe or device is written straight through: it cannot be replaced.
    return writeArchive(openZipWriter(options.archive, 0, ZipTargetKind::FileName, options.level,
                                      options.threads),
                        options)
               ? 0
               : 1;
  }
  return writeBeside(options, exists ? &existing : nullptr);
}

}  // namespace vaultwick
