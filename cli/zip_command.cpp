#include "cli/zip_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <variant>
#include <vector>

#include "cli/stop_signals.h"
#include "platform/files.h"
#include "platform/part_file.h"
#include "zip/zip_writer.h"

namespace vaultwick {

namespace {

constexpr const char* kUsage =
    "usage: vaultwick zip [--level N] [--threads N] ARCHIVE FILE...\n"
    "\n"
    "Packs the files into a new ZIP archive. An existing ARCHIVE is replaced only\n"
    "once the new one is whole, and keeps its permissions; a failure leaves it as it was.\n"
    "A new ARCHIVE is readable by its owner alone. Where ARCHIVE is a symbolic link,\n"
    "the file it points to is written.\n"
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

constexpr OptionSpec kOptions[] = {{"--level", true}, {"--threads", true}};
constexpr CommandSpec kSpec{"zip", kUsage, kOptions, std::numeric_limits<std::size_t>::max(), true};

struct ZipOptions {
  int level = kDefaultPackLevel;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  const char* archive = nullptr;
  std::vector<const char*> files;
  int standardInput = STDIN_FILENO;
  int standardOutput = STDOUT_FILENO;
};

// The options of the parsed arguments, or the exit status of a usage error.
std::variant<ZipOptions, int> OptionsOf(const ParsedArguments& arguments, const CommandIo& io) {
  ZipOptions options;
  if (std::optional<std::string> level = arguments.Value("--level")) {
    const std::optional<int> number = ParseNumber(*level, 1, kDefaultPackLevel);
    if (!number) {
      return UsageError(kSpec, io, "--level takes a number from 1 to 8");
    }
    options.level = *number;
  }
  if (std::optional<std::string> threads = arguments.Value("--threads")) {
    const std::optional<int> number = ParseNumber(*threads, 1, 1024);
    if (!number) {
      return UsageError(kSpec, io, "--threads takes a number from 1 to 1024");
    }
    options.threads = static_cast<unsigned>(*number);
  }
  if (arguments.positional.size() < 2) {
    return UsageError(kSpec, io, "an archive and at least one file are needed");
  }
  options.archive = arguments.positional[0].c_str();
  for (std::size_t i = 1; i < arguments.positional.size(); ++i) {
    options.files.push_back(arguments.positional[i].c_str());
  }
  options.standardInput = ::fileno(io.in);
  options.standardOutput = ::fileno(io.out);
  return options;
}

struct FileIdentity {
  dev_t device;
  ino_t inode;
};

// The regular file an argument names ("-": the descriptor given), if any.
std::optional<FileIdentity> IdentityOf(const char* path, int standardStream) {
  struct stat info {};
  const int got =
      std::string_view(path) == "-" ? ::fstat(standardStream, &info) : ::stat(path, &info);
  if (got != 0 || !S_ISREG(info.st_mode)) {
    return std::nullopt;
  }
  return FileIdentity{info.st_dev, info.st_ino};
}

// A file packed into the archive that is being written over it would be read
// while it grows, without end.
const char* SourceThatIsTheArchive(const ZipOptions& options) {
  const std::optional<FileIdentity> archive = IdentityOf(options.archive, options.standardOutput);
  if (!archive) {
    return nullptr;
  }
  for (const char* file : options.files) {
    const std::optional<FileIdentity> source = IdentityOf(file, options.standardInput);
    if (source && source->device == archive->device && source->inode == archive->inode) {
      return file;
    }
  }
  return nullptr;
}

ZipResult AddFile(ZipHandle* handle, const char* path, const int& standardInput) {
  if (std::string_view(path) == "-") {
    return addZipMember(handle, "-", &standardInput, 0, ZipSourceKind::Handle);
  }
  const char* name = path;
  while (*name == '/') {
    ++name;
  }
  struct stat info {};
  if (::stat(path, &info) == 0 && S_ISDIR(info.st_mode)) {
    return addZipMember(handle, name, nullptr, 0, ZipSourceKind::Folder);
  }
  return addZipMember(handle, name, path, 0, ZipSourceKind::FileName);
}

void PrintFailure(const CommandIo& io, const char* path, const std::string& why) {
  PrintError(io, kSpec.name, std::string(path) + ": " + why);
}

// Adds every file and finishes the archive; prints the first failure.
bool WriteArchive(ZipHandle* handle, const ZipOptions& options, const CommandIo& io) {
  if (handle == nullptr) {
    PrintFailure(io, options.archive, zipResultMessage(lastZipResult.load()));
    return false;
  }
  for (const char* file : options.files) {
    const ZipResult added = AddFile(handle, file, options.standardInput);
    if (added != ZipResult::Ok) {
      PrintFailure(io, file, zipResultMessage(added));
      static_cast<void>(closeZipWriter(handle));
      return false;
    }
  }
  const ZipResult closed = closeZipWriter(handle);
  if (closed != ZipResult::Ok) {
    PrintFailure(io, options.archive, zipResultMessage(closed));
    return false;
  }
  return true;
}

// Writes the archive into a part file beside `target` and renames it over
// `target` once whole. A stop signal removes the part file and ends the
// program: a read from a pipe or a terminal cannot be asked to stop.
bool WriteBeside(const ZipOptions& options, const std::string& target, const CommandIo& io) {
  // What runs of this command or of backups killed half-way left there.
  RemoveAbandonedPartFiles(FolderOf(target));
  PartFile part(target);
  // Held while the part file is made, placed or removed, so that the signal's
  // hook sees it whole: there, or gone, or the archive.
  std::mutex placing;
  const StopSignals signals(StopSignals::EndByTheSignal{[&part, &placing] {
    std::lock_guard<std::mutex> lock(placing);
    if (!part.path().empty()) {
      ::unlink(part.path().c_str());
    }
  }});
  int error = 0;
  {
    std::lock_guard<std::mutex> lock(placing);
    error = part.Open();
  }
  bool written = false;
  if (error == 0) {
    const int fd = part.fd();
    written = WriteArchive(
        openZipWriter(&fd, 0, ZipTargetKind::Handle, options.level, options.threads), options, io);
    std::lock_guard<std::mutex> lock(placing);
    error = written ? part.Place() : 0;
    part.Discard();
  }
  if (error != 0) {
    PrintFailure(io, options.archive, std::strerror(error));
    written = false;
  }
  return written;
}

bool Zip(const ZipOptions& options, const CommandIo& io) {
  if (std::string_view(options.archive) == "-") {
    std::fflush(io.out);
    return WriteArchive(openZipWriter(&options.standardOutput, 0, ZipTargetKind::Handle,
                                      options.level, options.threads),
                        options, io);
  }
  // Through a symbolic link to what it points to: the link stays a link.
  const std::optional<std::string> target = FollowLinks(options.archive);
  if (!target) {
    PrintFailure(io, options.archive, std::strerror(errno));
    return false;
  }
  struct stat existing {};
  if (::stat(target->c_str(), &existing) == 0 && !S_ISREG(existing.st_mode)) {
    // A pipe or device is written straight through: it cannot be replaced.
    return WriteArchive(
        openZipWriter(target->c_str(), 0, ZipTargetKind::FileName, options.level, options.threads),
        options, io);
  }
  return WriteBeside(options, *target, io);
}

}  // namespace

int RunZipCommand(int argc, char** argv, const CommandIo& io) {
  std::variant<ParsedArguments, int> started = StartCommand(kSpec, argc, argv, io);
  if (const int* status = std::get_if<int>(&started)) {
    return *status;
  }
  std::variant<ZipOptions, int> parsed = OptionsOf(std::get<ParsedArguments>(started), io);
  if (const int* status = std::get_if<int>(&parsed)) {
    return *status;
  }
  const ZipOptions& options = std::get<ZipOptions>(parsed);
  if (const char* self = SourceThatIsTheArchive(options)) {
    PrintFailure(io, self, "is the archive itself");
    return kExitUsage;
  }
  return Zip(options, io) ? kExitOk : kExitFailed;
}

}  // namespace vaultwick
