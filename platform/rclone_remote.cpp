#include "platform/rclone_remote.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <utility>

#include "platform/child_process.h"
#include "platform/descriptor.h"
#include "platform/files.h"
#include "platform/rclone_output_internal.h"

namespace vaultwick {

namespace {

// rclone's exit status for "directory not found"; for a listing of one file
// it also means that the file is not there.
constexpr int kExitDirectoryNotFound = 3;

// rclone retries a whole command three times and each request ten times by
// default, which turns an unreachable server into a minute of waiting; a
// copy that fails here is tried again at the next run instead.
const std::vector<std::string> kCommonFlags = {
    "-q", "--ask-password=false", "--retries", "1", "--low-level-retries",
    "3",  "--contimeout",         "30s",
};

std::string ErrnoText(int error) {
  return std::strerror(error);
}

RemoteOutcome Failure(RemoteCode code, std::string text) {
  return RemoteOutcome{code, std::move(text)};
}

// Compares the bytes rclone reads back with a local file as they arrive.
class ReadBackComparer {
 public:
  explicit ReadBackComparer(int localFd) : fd_(localFd) {}

  bool Take(std::string_view bytes) {
    buffer_.resize(bytes.size());
    const std::size_t have = ReadAt(fd_, buffer_.data(), bytes.size(), offset_);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (i >= have || buffer_[i] != bytes[i]) {
        firstDifference_ = offset_ + i;
        return false;
      }
    }
    offset_ += bytes.size();
    return true;
  }

  std::uint64_t compared() const { return offset_; }
  std::optional<std::uint64_t> firstDifference() const { return firstDifference_; }

 private:
  int fd_;
  std::uint64_t offset_ = 0;
  std::optional<std::uint64_t> firstDifference_;
  std::string buffer_;
};

std::string DiffersText(std::string_view what, const std::string& remote,
                        const std::string& local) {
  std::string text = "The remote copy differs from the archive: ";
  text.append(what);
  text += ' ';
  text += remote;
  text += " instead of ";
  text += local;
  return text;
}

// The kind of LocalFacts::hash.
HashKind FactsKind(HashKind remoteKind) {
  return remoteKind == HashKind::None ? HashKind::Md5 : remoteKind;
}

}  // namespace

std::string_view RcloneHashName(HashKind kind) {
  switch (kind) {
    case HashKind::Md5:
      return "MD5";
    case HashKind::Sha1:
      return "SHA-1";
    case HashKind::None:
      break;
  }
  return {};
}

RcloneRemote::RcloneRemote(RcloneSettings settings, std::chrono::steady_clock::time_point deadline,
                           StopToken stop)
    : settings_(std::move(settings)), deadline_(deadline), stop_(std::move(stop)) {}

std::string RcloneRemote::RemotePath(std::string_view folder, std::string_view file) const {
  std::string path = settings_.remote;
  for (std::string_view part : {folder, file}) {
    if (part.empty()) {
      continue;
    }
    if (!path.empty() && path.back() != ':' && path.back() != '/') {
      path += '/';
    }
    path.append(part);
  }
  return path;
}

namespace {

struct Call {
  ChildOutcome child;
  RemoteOutcome outcome;
};

// Runs one rclone command: `words` are the command and its flags,
// `operands` the paths, placed after "--" so that none is read as a flag.
Call RunRclone(const RcloneSettings& settings, const ChildLimits& limits,
               std::initializer_list<std::string_view> words,
               std::initializer_list<std::string_view> operands,
               const ChildOutputHandler& onOutput) {
  std::vector<std::string> argv{settings.program};
  if (!settings.configFile.empty()) {
    argv.push_back("--config");
    argv.push_back(settings.configFile);
  }
  argv.insert(argv.end(), kCommonFlags.begin(), kCommonFlags.end());
  for (std::string_view word : words) {
    argv.emplace_back(word);
  }
  argv.push_back("--");
  for (std::string_view operand : operands) {
    argv.emplace_back(operand);
  }
  Call call;
  call.child = RunChild(argv, limits, onOutput);
  switch (call.child.end) {
    case ChildEnd::Exited:
      if (call.child.exitCode != 0) {
        std::string line = rclone_output::LastErrorLine(call.child.errorTail);
        call.outcome =
            Failure(RemoteCode::Failed,
                    line.empty() ? "rclone ended with status " + std::to_string(call.child.exitCode)
                                 : line);
      }
      break;
    case ChildEnd::Signalled:
      call.outcome = Failure(RemoteCode::Failed, "rclone was ended by a signal");
      break;
    case ChildEnd::TimedOut:
      call.outcome = Failure(RemoteCode::TimedOut, "rclone did not finish within the time limit");
      break;
    case ChildEnd::Stopped:
      call.outcome = Failure(RemoteCode::Stopped, kTextStoppedOnRequest);
      break;
    case ChildEnd::Refused:
      // The handler decided; the caller says why.
      call.outcome = Failure(RemoteCode::Failed, "rclone's output was refused");
      break;
    case ChildEnd::NotStarted:
      call.outcome =
          call.child.error == ENOENT
              ? Failure(RemoteCode::NotInstalled,
                        "rclone is not installed: there is no program \"" + settings.program + "\"")
              : Failure(RemoteCode::Failed,
                        "rclone could not be started: " + ErrnoText(call.child.error));
      break;
  }
  return call;
}

Call RunRcloneCollecting(const RcloneSettings& settings, const ChildLimits& limits,
                         std::initializer_list<std::string_view> words,
                         std::initializer_list<std::string_view> operands, std::string& output) {
  output.clear();
  constexpr std::size_t kMaxOutput = 16 * 1024 * 1024;
  Call call = RunRclone(settings, limits, words, operands, [&output](std::string_view bytes) {
    if (output.size() + bytes.size() > kMaxOutput) {
      return false;
    }
    output.append(bytes);
    return true;
  });
  if (call.child.end == ChildEnd::Refused) {
    call.outcome = Failure(RemoteCode::Failed, "rclone's answer was too long");
  }
  return call;
}

// 0, or the errno value of a failed write.
int WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t put = write(fd, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) {
      continue;
    }
    if (put <= 0) {
      return put < 0 ? errno : EIO;
    }
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return 0;
}

bool IgnoreOutput(std::string_view) {
  return true;
}

std::optional<RemoteEntry> FindEntry(const RemoteListing& listing, std::string_view file) {
  for (const RemoteEntry& entry : listing.entries) {
    if (entry.file == file) {
      return entry;
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<HashKind> RcloneRemote::AskHashKind(RemoteOutcome& outcome) {
  if (hashKind_) {
    return hashKind_;
  }
  std::string features;
  Call call = RunRcloneCollecting(settings_, {deadline_, stop_}, {"backend", "features"},
                                  {RemotePath({})}, features);
  if (!call.outcome.ok()) {
    outcome = call.outcome;
    return std::nullopt;
  }
  hashKind_ = rclone_output::HashKindFromFeatures(features);
  if (!hashKind_) {
    outcome = Failure(RemoteCode::Failed, "rclone did not say which hashes the remote has");
  }
  return hashKind_;
}

RemoteOutcome RcloneRemote::Copy(const std::string& localFile, std::string_view folder,
                                 std::string_view file) {
  // --ignore-times: a copy of the same size and time (one damaged on the
  // server) is sent again rather than taken as done. --ignore-checksum:
  // rclone's own check would hash the remote file a second time before
  // Prove does.
  return RunRclone(settings_, {deadline_, stop_}, {"copyto", "--ignore-times", "--ignore-checksum"},
                   {localFile, RemotePath(folder, file)}, IgnoreOutput)
      .outcome;
}

std::optional<LocalFacts> RcloneRemote::Facts(const std::string& localFile,
                                              RemoteOutcome& outcome) {
  std::optional<std::uint64_t> size = FileSize(localFile);
  if (!size) {
    outcome = Failure(RemoteCode::Failed, "The local archive is missing: " + localFile);
    return std::nullopt;
  }
  std::optional<HashKind> kind = AskHashKind(outcome);
  if (!kind) {
    return std::nullopt;
  }
  LocalFacts facts{*size, {}};
  std::string output;
  Call call =
      RunRcloneCollecting(settings_, {deadline_, stop_},
                          {"hashsum", RcloneHashName(FactsKind(*kind))}, {localFile}, output);
  if (!call.outcome.ok()) {
    outcome = call.outcome;
    return std::nullopt;
  }
  facts.hash = rclone_output::HashFromHashsum(output);
  if (facts.hash.empty()) {
    outcome = Failure(RemoteCode::Failed, "rclone did not give the hash of " + localFile);
    return std::nullopt;
  }
  return facts;
}

RemoteListing RcloneRemote::ListPath(const std::string& path, bool withHash) {
  RemoteListing listing;
  HashKind kind = HashKind::None;
  if (withHash) {
    std::optional<HashKind> known = AskHashKind(listing.outcome);
    if (!known) {
      return listing;
    }
    kind = *known;
  }
  std::string output;
  Call call =
      kind != HashKind::None
          ? RunRcloneCollecting(settings_, {deadline_, stop_},
                                {"lsf", "--files-only", "--format", "hsp", "--separator", "\t",
                                 "--hash", RcloneHashName(kind)},
                                {path}, output)
          : RunRcloneCollecting(settings_, {deadline_, stop_},
                                {"lsf", "--files-only", "--format", "sp", "--separator", "\t"},
                                {path}, output);
  if (call.child.end == ChildEnd::Exited && call.child.exitCode == kExitDirectoryNotFound) {
    return listing;
  }
  if (!call.outcome.ok()) {
    listing.outcome = call.outcome;
    return listing;
  }
  std::optional<std::vector<RemoteEntry>> entries =
      rclone_output::ParseListing(output, kind != HashKind::None);
  if (!entries) {
    listing.outcome =
        Failure(RemoteCode::Failed, "rclone's listing of " + path + " cannot be read");
    return listing;
  }
  listing.entries = std::move(*entries);
  return listing;
}

RemoteListing RcloneRemote::List(std::string_view folder) {
  return ListPath(RemotePath(folder), true);
}

std::optional<RemoteEntry> RcloneRemote::Stat(std::string_view folder, std::string_view file,
                                              bool withHash, RemoteOutcome& outcome) {
  // rclone lists a file's own path as a folder holding that file alone, so
  // only that file is hashed (an SFTP server reads all of it to do so).
  RemoteListing listing = ListPath(RemotePath(folder, file), withHash);
  if (!listing.outcome.ok()) {
    outcome = listing.outcome;
    return std::nullopt;
  }
  std::optional<RemoteEntry> entry = FindEntry(listing, file);
  if (!entry) {
    outcome = Failure(RemoteCode::Missing, "The remote has no copy " + RemotePath(folder, file));
  }
  return entry;
}

RemoteOutcome RcloneRemote::Prove(const std::string& localFile, std::string_view folder,
                                  std::string_view file, bool readBack, LocalFacts* facts) {
  RemoteOutcome outcome;
  std::optional<LocalFacts> local = Facts(localFile, outcome);
  if (!local) {
    return outcome;
  }
  if (facts != nullptr) {
    *facts = *local;
  }
  std::optional<RemoteEntry> remote = Stat(folder, file, !readBack, outcome);
  if (!remote) {
    return outcome;
  }
  if (RemoteOutcome compared = CompareFacts(*remote, *local); !compared.ok()) {
    return compared;
  }
  if (!readBack && !local->hash.empty() && !remote->hash.empty()) {
    return RemoteOutcome::Success();
  }
  return ReadBack(localFile, local->size, RemotePath(folder, file));
}

RemoteOutcome RcloneRemote::CompareFacts(const RemoteEntry& remote, const LocalFacts& local) {
  if (remote.size != local.size) {
    return Failure(RemoteCode::Differs,
                   DiffersText("size", std::to_string(remote.size), std::to_string(local.size)));
  }
  if (!remote.hash.empty() && !local.hash.empty() && remote.hash != local.hash) {
    return Failure(RemoteCode::Differs,
                   DiffersText(RcloneHashName(FactsKind(hashKind_.value_or(HashKind::None))),
                               remote.hash, local.hash));
  }
  return RemoteOutcome::Success();
}

RemoteOutcome RcloneRemote::ReadBack(const std::string& localFile, std::uint64_t size,
                                     const std::string& remotePath) {
  Descriptor localFd(open(localFile.c_str(), O_RDONLY | O_CLOEXEC));
  if (localFd.get() < 0) {
    return Failure(RemoteCode::Failed, "The local archive cannot be read: " + ErrnoText(errno));
  }
  ReadBackComparer comparer(localFd.get());
  Call call = RunRclone(settings_, {deadline_, stop_}, {"cat"}, {remotePath},
                        [&comparer](std::string_view bytes) { return comparer.Take(bytes); });
  if (std::optional<std::uint64_t> at = comparer.firstDifference()) {
    return Failure(RemoteCode::Differs,
                   "The remote copy differs from the archive from byte " + std::to_string(*at));
  }
  if (!call.outcome.ok()) {
    return call.outcome;
  }
  if (comparer.compared() != size) {
    return Failure(
        RemoteCode::Differs,
        DiffersText("length read back", std::to_string(comparer.compared()), std::to_string(size)));
  }
  return RemoteOutcome::Success();
}

RemoteOutcome RcloneRemote::Delete(std::string_view folder, std::string_view file) {
  Call call = RunRclone(settings_, {deadline_, stop_}, {"deletefile"}, {RemotePath(folder, file)},
                        IgnoreOutput);
  if (call.outcome.code != RemoteCode::Failed) {
    return call.outcome;
  }
  // rclone says the same for a file that is not there and a failed delete:
  // only a listing tells them apart.
  RemoteOutcome listed;
  if (!Stat(folder, file, false, listed) && listed.code == RemoteCode::Missing) {
    return RemoteOutcome::Success();
  }
  return call.outcome;
}

FetchedFile RcloneRemote::Fetch(std::string_view folder, std::string_view file,
                                const std::optional<LocalFacts>& expected) {
  FetchedFile fetched;
  std::optional<RemoteEntry> remote = Stat(folder, file, true, fetched.outcome);
  if (!remote) {
    return fetched;
  }
  if (expected) {
    if (RemoteOutcome compared = CompareFacts(*remote, *expected); !compared.ok()) {
      fetched.outcome = compared;
      return fetched;
    }
  }
  fetched.folder = PrivateTempFolder::Create();
  if (!fetched.folder) {
    fetched.outcome = Failure(RemoteCode::Failed,
                              "No private temporary folder could be made: " + ErrnoText(errno));
    return fetched;
  }
  std::string path = fetched.folder->FilePath(file);
  Descriptor out(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (out.get() < 0) {
    fetched.outcome =
        Failure(RemoteCode::Failed, "The fetched copy cannot be written: " + ErrnoText(errno));
    return fetched;
  }
  int writeError = 0;
  Call call = RunRclone(settings_, {deadline_, stop_}, {"cat"}, {RemotePath(folder, file)},
                        [&](std::string_view bytes) {
                          writeError = WriteAll(out.get(), bytes);
                          return writeError == 0;
                        });
  if (writeError == 0 && call.outcome.ok()) {
    writeError = out.Close();
  }
  if (writeError != 0) {
    fetched.outcome =
        Failure(RemoteCode::Failed, "The fetched copy cannot be written: " + ErrnoText(writeError));
    return fetched;
  }
  if (!call.outcome.ok()) {
    fetched.outcome = call.outcome;
    return fetched;
  }
  // rclone's cat of a file that went away meanwhile can end well having
  // given nothing, and a remote's hash may be only what it was told on
  // arrival: the fetched bytes themselves are measured against both.
  std::optional<LocalFacts> got = Facts(path, fetched.outcome);
  if (!got) {
    return fetched;
  }
  RemoteEntry fetchedEntry{std::string(file), got->size, got->hash};
  RemoteOutcome compared = CompareFacts(fetchedEntry, LocalFacts{remote->size, remote->hash});
  if (compared.ok() && expected) {
    compared = CompareFacts(fetchedEntry, *expected);
  }
  if (!compared.ok()) {
    fetched.outcome = compared;
    return fetched;
  }
  fetched.path = std::move(path);
  return fetched;
}

RemoteOutcome RcloneRemote::Check() {
  std::optional<PrivateTempFolder> folder = PrivateTempFolder::Create();
  if (!folder) {
    return Failure(RemoteCode::Failed,
                   "No private temporary folder could be made: " + ErrnoText(errno));
  }
  // A name of this process alone, so that two checks at once never meet.
  std::string name =
      ProcessOwnedPrefix(".vaultwick-check-") + std::to_string(std::time(nullptr)) + ".txt";
  std::string local = folder->FilePath(name);
  const std::string content = "Written by a check of the off-site copies; safe to delete.\n";
  {
    Descriptor out(open(local.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
    if (out.get() < 0 ||
        write(out.get(), content.data(), content.size()) != static_cast<ssize_t>(content.size()) ||
        out.Close() != 0) {
      return Failure(RemoteCode::Failed, "The check's file cannot be written: " + ErrnoText(errno));
    }
  }
  auto step = [](std::string_view what, const RemoteOutcome& outcome) {
    return Failure(outcome.code, std::string(what) + ": " + outcome.text);
  };
  if (RemoteOutcome copied = Copy(local, {}, name); !copied.ok()) {
    return step("Could not write to the remote", copied);
  }
  RemoteOutcome result = RemoteOutcome::Success();
  RemoteListing listing = List({});
  std::optional<RemoteEntry> entry = FindEntry(listing, name);
  if (!listing.outcome.ok()) {
    result = step("Could not list the remote", listing.outcome);
  } else if (!entry || entry->size != content.size()) {
    result = Failure(RemoteCode::Missing, "The remote does not list the file it was given");
  } else if (RemoteOutcome proven = Prove(local, {}, name, true); !proven.ok()) {
    result = step("Could not read back from the remote", proven);
  }
  RemoteOutcome deleted = Delete({}, name);
  if (result.ok() && !deleted.ok()) {
    result = step("Could not delete from the remote", deleted);
  }
  return result;
}

}  // namespace vaultwick
