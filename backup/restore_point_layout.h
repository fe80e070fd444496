#pragma once

// Where a connection's archives live in the target folder:
//
//   <saveTo>/<name>.zip                                     the newest archive
//   <saveTo>/restore-points/<name>/<name>-<time>.zip        the ones it replaced
//   e.g. <saveTo>/restore-points/shop/shop-20240506T091500Z.zip
//
// <time> is when the archive was placed in the target folder (its
// modification time), in UTC, as YYYYMMDDTHHMMSSZ: one width, so names sort
// by time whatever the zone or the season, and they carry their connection's
// name should a file be copied elsewhere. Two archives placed in the same
// second get successive seconds (see KeepAsRestorePoint), so names never
// collide. Anything in a restore-point folder that is not named exactly so
// (other connections' files, part files, a user's notes, folders, links) is
// not a restore point: never listed, counted or touched.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaultwick {

using ArchiveTime = std::chrono::sys_seconds;

// The folder under the target folder that holds every connection's points.
inline constexpr std::string_view kRestorePointsFolderName = "restore-points";

// <saveTo>/<name>.zip
std::string CurrentArchivePath(std::string_view saveTo, std::string_view name);
// <saveTo>/restore-points/<name>
std::string RestorePointFolder(std::string_view saveTo, std::string_view name);

// "<name>-YYYYMMDDTHHMMSSZ.zip"; empty when `time` has no such form (before
// year 0 or after 9999).
std::string RestorePointFileName(std::string_view name, ArchiveTime time);

// The time of a restore point of connection `name` from its file name;
// nullopt for any name that RestorePointFileName does not give.
std::optional<ArchiveTime> ParseRestorePointFileName(std::string_view name,
                                                     std::string_view fileName);

struct ArchiveFile {
  std::string path;
  ArchiveTime time;      // from the name; <name>.zip's is its modification time,
                         // or the newest point's where that is later
  ArchiveTime modified;  // kept through the link or rename that made it a point
  std::uint64_t size = 0;
  bool current = false;  // <name>.zip itself
};

// <name>.zip (its time is its modification time, or the newest point's where
// that is later: it replaced them all) and the restore points of
// `name`, regular files only, newest first. Missing folders give none.
std::vector<ArchiveFile> ListArchiveFiles(std::string_view saveTo, std::string_view name);

// The replaced archive as KeepReplacedArchive left it.
struct KeptArchive {
  std::string path;     // its restore-point name; empty when there was nothing to keep
  bool linked = false;  // <name>.zip is still there too, as a second name of the same file
  bool moved = false;   // <name>.zip was renamed away
};

// Gives <name>.zip, which a new archive is about to replace, its restore-point
// name (making the folders, 0700, as needed). Never a copy: a hard link,
// so that <name>.zip never goes missing, or where the file system has no
// hard links a rename, whose gap only lasts until the new archive is renamed
// in. A <name>.zip that is not a regular file, or that is already a restore
// point (a run that failed after this step), needs nothing. Returns 0, or
// the errno value of the step that failed; then nothing was changed.
[[nodiscard]] int KeepReplacedArchive(std::string_view saveTo, std::string_view name,
                                      KeptArchive* kept, bool allowLink = true);

// Undoes KeepReplacedArchive when the new archive could not be placed after
// all: a renamed archive goes back to <name>.zip, a new link goes.
void UndoKeepReplacedArchive(std::string_view saveTo, std::string_view name,
                             const KeptArchive& kept);

}  // namespace vaultwick
