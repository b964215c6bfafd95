// Replaces a fixed set of files all together or not at all.
//
// Every new file is first written to a staging file beside its destination. Commit keeps every
// existing destination aside under a second name (or marks it as new), moves the staging files over
// the destinations, records the commit as complete and only then drops the kept originals. A failure
// at any point, or a run that was killed and is recovered by the next one, restores every original.
#pragma once

#include <vector>

#include "runtime/core/text.h"

namespace zunto {

using kiln::Text;

// What a player can do about a failed update; set where the failure is found, worded by the status
// screen.
enum class FailureCause {
  kNone,
  kFileReadOnlyOrInUse,    // the file may not be written, or another program holds it
  kFolderReadOnly,         // no new files can be made in the file's folder
  kFolderMissing,          // the file's folder does not exist
  kFolderInTheWay,         // a folder stands where the file belongs
  kDiskFull,
  kPayloadDamaged,         // the patcher's own blocks are incomplete or fail their checksum
  kEarlierRunNotUndone,    // an interrupted earlier run left a file whose original cannot be put back
  kEarlierRunNotFinished,  // a completed earlier run left kept originals that cannot be removed
  kOther,
};

// Why an update failed: the file concerned and a reason a user can act on.
struct PatchFailure {
  Text file;
  Text reason;
  // False when the folder could not be put back as it was; the reason then says what is left.
  bool folderUnchanged = true;
  FailureCause cause = FailureCause::kNone;
};

class StagedUpdate {
 public:
  // `destinations` in the order they are written and committed; `journalFolder` holds the marker
  // that records a completed commit.
  StagedUpdate(std::vector<Text> destinations, Text journalFolder);
  // Rolls back whatever is not committed.
  ~StagedUpdate();
  StagedUpdate(const StagedUpdate&) = delete;
  StagedUpdate& operator=(const StagedUpdate&) = delete;

  // Finishes or undoes what an earlier, interrupted run left behind for these destinations.
  // Throws PatchFailure when that cannot be done.
  void RecoverInterruptedRun();
  // Every destination folder exists and can take new entries, and every existing destination is a
  // writable regular file. Throws PatchFailure for the first that is not.
  void Preflight() const;
  // The staging file for destination `index`: write it, close it, then call Staged.
  Text StagingPath(int index) const;
  // Gives the closed staging file the permissions of the file it replaces.
  void Staged(int index);
  // Forces every staged file to the disk, then moves each over its destination. Throws PatchFailure
  // after restoring the originals.
  void Commit();
  // Removes staging files and restores every replaced destination; safe to call more than once.
  void RollBack();

  // Test seam: called before each destination is moved into place; false fails the commit there.
  using CommitProbe = bool (*)(int index);
  static void SetCommitProbe(CommitProbe probe);

  // Names beside a destination "dir/file": "dir/.file" + suffix.
  static Text StagingName(const Text& destination);
  static Text AsideName(const Text& destination);
  // Where a copy aside is written before it takes the aside name.
  static Text PartialAsideName(const Text& destination);
  static Text CreatedMarkerName(const Text& destination);
  static Text CommittedMarkerName(const Text& journalFolder);

 private:
  void RestoreOriginals();
  // The first destination whose kept original or new-file mark could not be removed, or the empty
  // text when every one is gone.
  Text DropOriginals();
  [[noreturn]] void Fail(const Text& file, const Text& reason, FailureCause cause);

  std::vector<Text> destinations_;
  Text journalFolder_;
  std::vector<Text> folders_;  // every destination folder and the journal folder, once each
  std::vector<bool> staged_;
  bool committed_ = false;
};

}  // namespace zunto
