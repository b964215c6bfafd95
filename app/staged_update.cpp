#include "app/staged_update.h"

#include <algorithm>

#include "app/file_commit.h"
#include "runtime/filesystem/filesystem.h"

namespace zunto {
namespace {

namespace fc = filecommit;

StagedUpdate::CommitProbe commitProbe = nullptr;

Text FolderOf(const Text& path) {
  int slash = path.FindLast("/");
  return slash < 0 ? Text(".") : (slash == 0 ? Text("/") : path.Left(slash));
}

Text BesideName(const Text& destination, const char* suffix) {
  int slash = destination.FindLast("/");
  Text folder = slash < 0 ? Text() : destination.Left(slash + 1);
  return folder + "." + destination.From(slash + 1) + suffix;
}

Text WithReason(const Text& what) {
  Text reason = fc::LastSystemError();
  return reason.IsEmpty() ? what : what + " (" + reason + ")";
}

// The cause behind the last failed system call on a file, or on a folder.
FailureCause CauseOfSystemError(bool aboutFolder) {
  switch (fc::LastSystemErrorKind()) {
    case fc::SystemErrorKind::kNoAccess:
      return aboutFolder ? FailureCause::kFolderReadOnly : FailureCause::kFileReadOnlyOrInUse;
    case fc::SystemErrorKind::kNoSpace:
      return FailureCause::kDiskFull;
    case fc::SystemErrorKind::kNotFound:
      return FailureCause::kFolderMissing;
    default:
      return FailureCause::kOther;
  }
}

}  // namespace

StagedUpdate::StagedUpdate(std::vector<Text> destinations, Text journalFolder)
    : destinations_(std::move(destinations)), journalFolder_(std::move(journalFolder)) {
  for (Text& d : destinations_) d = d.Replace("\\", "/");
  staged_.assign(destinations_.size(), false);
  folders_.push_back(journalFolder_);
  for (const Text& d : destinations_) {
    if (std::find(folders_.begin(), folders_.end(), FolderOf(d)) == folders_.end()) folders_.push_back(FolderOf(d));
  }
}

StagedUpdate::~StagedUpdate() {
  if (committed_) return;
  try {
    RollBack();
  } catch (...) {
    // A destructor cannot report; the next run recovers whatever is left.
  }
}

void StagedUpdate::SetCommitProbe(CommitProbe probe) { commitProbe = probe; }

Text StagedUpdate::StagingName(const Text& destination) { return BesideName(destination, ".zpatch-tmp"); }
Text StagedUpdate::AsideName(const Text& destination) { return BesideName(destination, ".zpatch-bak"); }
Text StagedUpdate::PartialAsideName(const Text& destination) { return BesideName(destination, ".zpatch-part"); }
Text StagedUpdate::CreatedMarkerName(const Text& destination) { return BesideName(destination, ".zpatch-new"); }
Text StagedUpdate::CommittedMarkerName(const Text& journalFolder) {
  return journalFolder + (journalFolder.EndsWith("/") ? "" : "/") + ".zpatch-committed";
}

Text StagedUpdate::StagingPath(int index) const { return StagingName(destinations_[static_cast<size_t>(index)]); }

void StagedUpdate::RecoverInterruptedRun() {
  const Text marker = CommittedMarkerName(journalFolder_);
  if (fc::Exists(marker)) {
    // The earlier run had moved every file into place: only its kept originals are left to drop.
    // The earlier update is complete: a failure here must not roll it back, so this run counts as
    // having nothing to undo, and the marker stays for the next run.
    const Text kept = DropOriginals();
    if (!kept.IsEmpty() || !fc::RemoveFile(marker)) {
      const Text reason = WithReason("Cannot finish the clean-up of an earlier completed update");
      committed_ = true;
      throw PatchFailure{.file = kept.IsEmpty() ? marker : kept, .reason = reason,
                         .cause = FailureCause::kEarlierRunNotFinished};
    }
  } else {
    RestoreOriginals();
  }
  for (const Text& d : destinations_) {
    for (const Text& leftover : {StagingName(d), PartialAsideName(d)}) {
      if (!fc::RemoveFile(leftover)) {
        Fail(d, WithReason(Text("Cannot remove ") + leftover + ", a file of an earlier run"),
             FailureCause::kEarlierRunNotFinished);
      }
    }
  }
}

void StagedUpdate::Preflight() const {
  for (const Text& d : destinations_) {
    const Text folder = FolderOf(d);
    if (kiln::QueryPathKind(folder) != kiln::FILETYPE_DIR) {
      throw PatchFailure{.file = d, .reason = Text("The folder ") + folder + " does not exist",
                         .cause = FailureCause::kFolderMissing};
    }
    fc::ClearSystemError();
    if (!fc::IsWritable(folder)) {
      throw PatchFailure{.file = d, .reason = WithReason(Text("No new files can be created in ") + folder),
                         .cause = CauseOfSystemError(true)};
    }
    switch (kiln::QueryPathKind(d)) {
      case kiln::FILETYPE_NONE:
        break;
      case kiln::FILETYPE_FILE:
        if (!fc::IsWritable(d)) {
          throw PatchFailure{.file = d, .reason = WithReason("The file cannot be written"), .cause = CauseOfSystemError(false)};
        }
        break;
      default:
        throw PatchFailure{.file = d, .reason = "A folder stands where the file belongs", .cause = FailureCause::kFolderInTheWay};
    }
  }
}

void StagedUpdate::Staged(int index) {
  const Text& d = destinations_[static_cast<size_t>(index)];
  const Text staging = StagingName(d);
  fc::ClearSystemError();
  if (kiln::QueryPathKind(d) == kiln::FILETYPE_FILE && !fc::CopyPermissions(d, staging)) {
    Fail(d, WithReason("Cannot give the new file the permissions of the old one"), CauseOfSystemError(false));
  }
  staged_[static_cast<size_t>(index)] = true;
}

void StagedUpdate::Commit() {
  if (std::find(staged_.begin(), staged_.end(), false) != staged_.end()) {
    Fail(journalFolder_, "Not every file was written before the update was completed", FailureCause::kOther);
  }
  auto syncFolders = [&] {
    if (!fc::SyncFolders(folders_)) Fail(journalFolder_, WithReason("Cannot write the folders to the disk"), CauseOfSystemError(true));
  };

  // Every staged file reaches the disk before any destination changes.
  std::vector<Text> staging;
  for (const Text& d : destinations_) staging.push_back(StagingName(d));
  fc::ClearSystemError();
  if (!fc::SyncFiles(staging)) Fail(journalFolder_, WithReason("Error writing to stream"), CauseOfSystemError(false));

  // Keep every original under a second name, or mark the destination as new, before touching any.
  fc::ClearSystemError();
  for (const Text& d : destinations_) {
    if (kiln::QueryPathKind(d) == kiln::FILETYPE_FILE) {
      if (!fc::KeepAside(d, AsideName(d), PartialAsideName(d))) {
        Fail(d, WithReason("Cannot keep the old file until the update is complete"), CauseOfSystemError(false));
      }
    } else if (!fc::CreateEmptyFile(CreatedMarkerName(d))) {
      Fail(d, WithReason("Cannot record the new file until the update is complete"), CauseOfSystemError(true));
    }
  }
  syncFolders();

  // Each move is atomic, so every destination holds either its original or its new file.
  for (size_t i = 0; i < destinations_.size(); ++i) {
    const Text& d = destinations_[i];
    if (commitProbe != nullptr && !commitProbe(static_cast<int>(i))) {
      Fail(d, "Injected failure while replacing the file", FailureCause::kOther);
    }
    if (!fc::ReplaceFile(StagingName(d), d)) Fail(d, WithReason("Cannot replace the file"), CauseOfSystemError(false));
  }
  syncFolders();

  // From here on the update counts as done, even for a run that is killed before it cleans up.
  if (!fc::CreateEmptyFile(CommittedMarkerName(journalFolder_)) || !fc::SyncFolders({journalFolder_})) {
    Fail(journalFolder_, WithReason("Cannot record the completed update"), CauseOfSystemError(true));
  }
  committed_ = true;
  // The marker goes only when every kept original is gone: a leftover original must never be taken
  // for the file to restore by a later run.
  if (DropOriginals().IsEmpty()) fc::RemoveFile(CommittedMarkerName(journalFolder_));
  fc::SyncFolders(folders_);
}

void StagedUpdate::RollBack() {
  if (committed_) return;
  fc::ClearSystemError();
  // A marker written before a failed folder sync goes first: a run killed during the restore must
  // leave a state that the next run restores, not one it takes for a completed update.
  const Text marker = CommittedMarkerName(journalFolder_);
  if (fc::Exists(marker) && fc::RemoveFile(marker)) fc::SyncFolders({journalFolder_});
  RestoreOriginals();
  for (const Text& d : destinations_) fc::RemoveFile(StagingName(d));
  std::fill(staged_.begin(), staged_.end(), false);
}

// Puts back every kept original and removes every destination that did not exist before. Works on
// what is found on the disk, so it serves a failed commit of this run as well as a killed earlier one.
void StagedUpdate::RestoreOriginals() {
  bool failed = false;
  PatchFailure first;
  for (size_t i = destinations_.size(); i-- > 0;) {
    const Text& d = destinations_[i];
    const Text aside = AsideName(d), created = CreatedMarkerName(d);
    if (fc::Exists(aside)) {
      // When both names still link the same file, the move does nothing and the removal finishes it.
      if (!fc::ReplaceFile(aside, d) || !fc::RemoveFile(aside)) {
        if (!failed) {
          first = {d, WithReason(Text("Cannot restore the old file; it is kept as ") + aside), false,
                   FailureCause::kEarlierRunNotUndone};
        }
        failed = true;
      }
    } else if (fc::Exists(created)) {
      if (!fc::RemoveFile(d) || !fc::RemoveFile(created)) {
        if (!failed) first = {d, WithReason("Cannot remove the new file"), false, FailureCause::kEarlierRunNotUndone};
        failed = true;
      }
    }
  }
  fc::SyncFolders(folders_);
  if (failed) throw first;
}

Text StagedUpdate::DropOriginals() {
  Text first;
  for (const Text& d : destinations_) {
    const bool aside = fc::RemoveFile(AsideName(d));
    const bool created = fc::RemoveFile(CreatedMarkerName(d));
    if (!(aside && created) && first.IsEmpty()) first = d;
  }
  return first;
}

// Rolls this run back; when that fails too, the folder is not as it was and the reason says why.
void StagedUpdate::Fail(const Text& file, const Text& reason, FailureCause cause) {
  PatchFailure failure{file, reason, true, cause};
  try {
    RollBack();
  } catch (const PatchFailure& also) {
    failure.reason = failure.reason + "; " + also.file + ": " + also.reason;
    failure.folderUnchanged = false;
  }
  throw failure;
}

}  // namespace zunto
