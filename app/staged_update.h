// Replaces a fixed set of files all together or not at all.
//
// Every new file is first written to a staging file beside its destination (beside the file a
// symbolic link leads to, for a link). Commit keeps every existing destination aside under a second
// name, records in one journal which destinations were kept and which are new, moves the staging
// files over the destinations, marks the journal as committed and only then drops the kept
// originals. A failure at any point, or a run that was killed and is recovered by the next one,
// restores every original.
#pragma once

#include <vector>

#include "runtime/core/text.h"
#include "runtime/filesystem/file_commit.h"

namespace zunto {

using kiln::Text;

// What a player can do about a failed update; set where the failure is found, worded by the status
// screen. New values go at the end: reports print the number.
enum class FailureCause {
  kNone,
  kFileReadOnlyOrInUse,  // the file may not be written, or another program holds it
  kFolderReadOnly,       // no new files can be made in the file's folder
  kFolderMissing,        // the file's folder does not exist
  kFolderInTheWay,       // a folder stands where the file belongs
  kDiskFull,
  kPayloadDamaged,         // the patcher's own blocks are incomplete or fail their checksum
  kEarlierRunNotUndone,    // an interrupted earlier run left a file whose original cannot be put back
  kEarlierRunNotFinished,  // a completed earlier run left kept originals that cannot be removed
  kOther,
  kAnotherPatcherRunning,  // another patcher kept the game folder for longer than this one waits
  kFolderNotLockable,      // the game folder cannot be locked against a second patcher
  kDiskReadOnly,           // the file system that holds the file or folder is mounted read-only
  kDiskError,              // the disk reported an error while the files were written to it
  kNotAFile,               // something that is neither a file nor a folder stands where the file belongs
  kLinkUnresolvable,       // the file is a symbolic link whose chain of links cannot be followed
};

// What this run found of an earlier one that had been interrupted, before it began its own work.
enum class EarlierRun {
  kNone,      // nothing, or only staging files: no destination had been touched
  kUndone,    // its originals were put back
  kFinished,  // it had completed its update; its kept originals were dropped
};

// Why an update failed: the file concerned and a reason a user can act on.
struct PatchFailure {
  Text file;
  Text reason;
  // False when the folder could not be put back as it was; the reason then says what is left.
  bool folderUnchanged = true;
  FailureCause cause = FailureCause::kNone;
  EarlierRun earlierRun = EarlierRun::kNone;
};

class StagedUpdate {
 public:
  // `destinations` in the order they are written and committed; `journalFolder` holds the journal.
  StagedUpdate(std::vector<Text> destinations, Text journalFolder);
  // Rolls back whatever is not committed.
  ~StagedUpdate();
  StagedUpdate(const StagedUpdate&) = delete;
  StagedUpdate& operator=(const StagedUpdate&) = delete;

  // Finishes or undoes whatever an earlier, interrupted run left in the journal folder and in the
  // destinations' folders, including the per-file marks of the earlier format. Throws PatchFailure
  // when that cannot be done.
  EarlierRun RecoverInterruptedRun();
  // Every destination folder exists and can take new entries, and every existing destination is a
  // writable regular file. Throws PatchFailure for the first that is not.
  void Preflight() const;
  // Where destination `index` is written: the destination, or the end of its chain of links.
  const Text& Target(int index) const;
  // The staging file for destination `index`: write it, close it, then call Staged.
  Text StagingPath(int index) const;
  // Gives the closed staging file the owner and permissions of the file it replaces.
  void Staged(int index);
  // Forces every staged file to the disk, then moves each over its destination. Throws PatchFailure
  // after restoring the originals.
  void Commit();
  // Removes staging files and restores every replaced destination; safe to call more than once.
  void RollBack();

  // Test seams. The commit probe runs before each destination is moved into place, the clean-up
  // probe before each kept original is dropped once the commit is recorded; false fails there.
  using Probe = bool (*)(int index);
  static void SetCommitProbeForTesting(Probe probe);
  static void SetCleanUpProbeForTesting(Probe probe);

  // Names beside a destination "dir/file": "dir/.file" + suffix.
  static Text StagingName(const Text& destination);
  static Text AsideName(const Text& destination);
  // Where a copy aside is written before it takes the aside name.
  static Text PartialAsideName(const Text& destination);
  // The earlier format's mark beside a destination that did not exist before the update.
  static Text CreatedMarkerName(const Text& destination);
  // The journal of an update in progress, and its name once the update is committed.
  static Text JournalName(const Text& journalFolder);
  static Text CommittedMarkerName(const Text& journalFolder);

 private:
  struct Entry {
    Text destination;
    Text target;
    kiln::filecommit::PathFacts facts;
    bool examined = false;
    Text examineError;
    kiln::filecommit::SystemErrorKind examineErrorKind = kiln::filecommit::SystemErrorKind::kNone;
    bool staged = false;
    bool kept = false;   // the original is kept under AsideName(target)
    bool moved = false;  // the staging file is in place
  };

  // Looks at every destination through its links.
  void Examine();
  [[noreturn]] void Fail(const Text& file, const Text& reason, FailureCause cause);
  void Sync(const std::vector<Text>& files, const std::vector<Text>& folders);
  void WriteJournal();

  std::vector<Entry> entries_;
  Text journalFolder_;
  std::vector<Text> folders_;  // every target folder and the journal folder, once each
  bool journalWritten_ = false;
  bool markWritten_ = false;
  bool committed_ = false;
};

}  // namespace zunto
