#pragma once

// Writing a file beside its target and renaming it over the target once it
// is whole, so that the target is never seen half-written and an older one is
// never lost to a write that fails. Everything that replaces a file the user
// keeps (an archive in the target folder, `vaultwick zip`'s archive) goes
// through here. Failures return the errno value; nothing throws.

#include <string>

#include "common/stop_token.h"
#include "platform/descriptor.h"

namespace vaultwick {

// A hidden part file in `target`'s folder, named "<prefix><pid>-<n>": short
// whatever the target's name, so that a target name of any valid length still
// leaves room for it, and of the form RemoveAbandoned knows, so that a later
// process removes what a killed one left (RemoveAbandonedPartFiles).
class PartFile {
 public:
  explicit PartFile(std::string target) : target_(std::move(target)) {}
  PartFile(const PartFile&) = delete;
  PartFile& operator=(const PartFile&) = delete;
  // A part file that was not placed goes with its object.
  ~PartFile() { Discard(); }

  // Creates the part file, exclusively and with the mode it will keep: that
  // of the regular file it replaces, else 0600, since what it replaces with
  // may be a whole database. 0 or the errno value.
  [[nodiscard]] int Open();

  // Where to write; -1 before Open and after Place or Discard.
  int fd() const { return fd_.get(); }
  // The part file's path; empty before Open.
  const std::string& path() const { return path_; }

  // Syncs and closes the part file, renames it over the target and syncs the
  // folder. 0 or the errno value of the step that failed; then the part file
  // is gone and an older target is exactly as it was.
  [[nodiscard]] int Place();

  // Closes and removes the part file, if it is still there.
  void Discard();

 private:
  std::string target_;
  std::string path_;
  Descriptor fd_;
};

// Copies `source` to `target`, replacing any file there, through a PartFile.
// Returns 0 on success, else the errno value of the step that failed, or
// ECANCELED when `stop` was stopped before the rename; then an older `target`
// is exactly as it was.
[[nodiscard]] int CopyFileReplacing(const std::string& source, const std::string& target,
                                    const StopToken& stop = StopToken::Never());

// Removes the part files of processes that no longer exist from `folder`.
void RemoveAbandonedPartFiles(const std::string& folder);

}  // namespace vaultwick
