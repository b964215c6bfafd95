#include "app/staged_update.h"

#include <algorithm>
#include <map>
#include <string>
#include <string_view>

#include "runtime/core/file_names.h"
#include "runtime/filesystem/filesystem.h"

namespace zunto {
namespace {

namespace fc = kiln::filecommit;

StagedUpdate::Probe commitProbe = nullptr;
StagedUpdate::Probe cleanUpProbe = nullptr;

// The journal: a first line that names the format, one line per destination in commit order, and a
// last line that shows it is whole. Paths are the platform's bytes, "\" and line feeds escaped.
//   zpatch-journal 1
//   kept <path>     the original is kept aside beside <path>
//   new <path>      <path> did not exist before the update
//   end
constexpr std::string_view kJournalHeader = "zpatch-journal 1";

struct JournalRecord {
  bool kept = false;
  Text path;
};

struct Journal {
  bool known = true;
  bool complete = false;
  std::vector<JournalRecord> records;
};

std::string Escaped(const Text& path) {
  std::string out;
  for (char c : kiln::ToPlatformName(path)) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else
      out += c;
  }
  return out;
}

Text Unescaped(std::string_view bytes) {
  std::string out;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\\' && i + 1 < bytes.size()) {
      out += bytes[i + 1] == 'n' ? '\n' : bytes[i + 1];
      ++i;
    } else {
      out += bytes[i];
    }
  }
  return kiln::FromPlatformName(out);
}

// A journal cut short by a killed run is known but not complete. An empty one is what the earlier
// format left as its commit mark.
Journal ParseJournal(std::string_view bytes) {
  Journal journal;
  size_t at = 0;
  bool first = true;
  while (at < bytes.size()) {
    const size_t end = bytes.find('\n', at);
    if (end == std::string_view::npos) {
      // A last line without its line feed was cut short.
      if (first && kJournalHeader.substr(0, bytes.size() - at) != bytes.substr(at)) journal.known = false;
      break;
    }
    const std::string_view line = bytes.substr(at, end - at);
    at = end + 1;
    if (first) {
      first = false;
      if (line != kJournalHeader) {
        journal.known = false;
        break;
      }
    } else if (line == "end") {
      journal.complete = true;
      break;
    } else if (line.starts_with("kept ")) {
      journal.records.push_back({true, Unescaped(line.substr(5))});
    } else if (line.starts_with("new ")) {
      journal.records.push_back({false, Unescaped(line.substr(4))});
    } else {
      journal.known = false;
      break;
    }
  }
  return journal;
}

Text FolderOf(const Text& path) {
  int slash = path.FindLast("/");
  return slash < 0 ? Text(".") : (slash == 0 ? Text("/") : path.Left(slash));
}

Text Joined(const Text& folder, const Text& name) { return folder.EndsWith("/") ? folder + name : folder + "/" + name; }

Text BesideName(const Text& destination, const char* suffix) {
  int slash = destination.FindLast("/");
  Text folder = slash < 0 ? Text() : destination.Left(slash + 1);
  return folder + "." + destination.From(slash + 1) + suffix;
}

void AddOnce(std::vector<Text>& list, const Text& item) {
  if (std::find(list.begin(), list.end(), item) == list.end()) list.push_back(item);
}

Text WithReason(const Text& what) {
  Text reason = fc::LastSystemError();
  return reason.IsEmpty() ? what : what + " (" + reason + ")";
}

// The cause behind a failed system call on a file, or on a folder.
FailureCause CauseOf(fc::SystemErrorKind kind, bool aboutFolder) {
  switch (kind) {
    case fc::SystemErrorKind::kNoAccess:
      return aboutFolder ? FailureCause::kFolderReadOnly : FailureCause::kFileReadOnlyOrInUse;
    case fc::SystemErrorKind::kReadOnlyDisk:
      return FailureCause::kDiskReadOnly;
    case fc::SystemErrorKind::kNoSpace:
      return FailureCause::kDiskFull;
    case fc::SystemErrorKind::kNotFound:
      return FailureCause::kFolderMissing;
    case fc::SystemErrorKind::kDeviceError:
      return FailureCause::kDiskError;
    default:
      return FailureCause::kOther;
  }
}

FailureCause CauseOfSystemError(bool aboutFolder) { return CauseOf(fc::LastSystemErrorKind(), aboutFolder); }

// What an earlier run left beside one file.
struct Leftovers {
  bool staging = false;
  bool aside = false;
  bool partial = false;
  bool created = false;
};

// Reads each folder once and sorts what earlier runs left in it by the file it belongs to.
std::map<Text, Leftovers> FindLeftovers(const std::vector<Text>& folders) {
  struct Suffix {
    const char* text;
    bool Leftovers::*flag;
  };
  static const Suffix suffixes[] = {{".zpatch-tmp", &Leftovers::staging},
                                    {".zpatch-bak", &Leftovers::aside},
                                    {".zpatch-part", &Leftovers::partial},
                                    {".zpatch-new", &Leftovers::created}};
  std::map<Text, Leftovers> found;
  std::vector<Text> names;
  for (const Text& folder : folders) {
    fc::ClearSystemError();
    if (!fc::ListFolder(folder, names)) {
      throw PatchFailure{.file = folder + "/",
                         .reason = WithReason(Text("Cannot look for files of an earlier run in ") + folder),
                         .cause = FailureCause::kOther};
    }
    for (const Text& name : names) {
      if (!name.StartsWith(".")) continue;
      for (const Suffix& suffix : suffixes) {
        const Text end = suffix.text;
        if (name.Length() > end.Length() + 1 && name.EndsWith(end)) {
          found[Joined(folder, name.Slice(1, name.Length() - end.Length()))].*suffix.flag = true;
        }
      }
    }
  }
  return found;
}

// Removes the staging file, partial copy and earlier-format mark left beside `path`, and with
// `kept` its kept original too. Only what is there: removing what is not fails on a read-only disk.
bool RemoveLeftovers(const Text& path, const Leftovers& left, bool kept) {
  const std::pair<bool, Text> files[] = {{left.staging, StagedUpdate::StagingName(path)},
                                         {left.partial, StagedUpdate::PartialAsideName(path)},
                                         {left.created, StagedUpdate::CreatedMarkerName(path)},
                                         {left.aside && kept, StagedUpdate::AsideName(path)}};
  bool removed = true;
  for (const auto& [there, file] : files) removed = (!there || fc::RemoveFile(file)) && removed;
  return removed;
}

// "./" and "." are one folder.
Text FolderForm(const Text& folder) {
  return folder.Length() > 1 && folder.EndsWith("/") ? folder.Left(folder.Length() - 1) : folder;
}

}  // namespace

StagedUpdate::StagedUpdate(std::vector<Text> destinations, Text journalFolder)
    : journalFolder_(std::move(journalFolder)) {
  folders_.push_back(FolderForm(journalFolder_));
  for (const Text& given : destinations) {
    entries_.emplace_back();
    entries_.back().destination = given.Replace("\\", "/");
  }
  Examine();
}

void StagedUpdate::Examine() {
  folders_.resize(1);
  for (Entry& e : entries_) {
    fc::ClearSystemError();
    e.examined = fc::ExaminePath(e.destination, e.facts);
    e.examineError = e.examined ? Text() : fc::LastSystemError();
    e.examineErrorKind = e.examined ? fc::SystemErrorKind::kNone : fc::LastSystemErrorKind();
    e.target = e.examined ? e.facts.resolved : e.destination;
    AddOnce(folders_, FolderOf(e.target));
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

void StagedUpdate::SetCommitProbeForTesting(Probe probe) { commitProbe = probe; }
void StagedUpdate::SetCleanUpProbeForTesting(Probe probe) { cleanUpProbe = probe; }

Text StagedUpdate::StagingName(const Text& destination) { return BesideName(destination, ".zpatch-tmp"); }
Text StagedUpdate::AsideName(const Text& destination) { return BesideName(destination, ".zpatch-bak"); }
Text StagedUpdate::PartialAsideName(const Text& destination) { return BesideName(destination, ".zpatch-part"); }
Text StagedUpdate::CreatedMarkerName(const Text& destination) { return BesideName(destination, ".zpatch-new"); }
Text StagedUpdate::JournalName(const Text& journalFolder) { return Joined(journalFolder, ".zpatch-journal"); }
Text StagedUpdate::CommittedMarkerName(const Text& journalFolder) { return Joined(journalFolder, ".zpatch-committed"); }

const Text& StagedUpdate::Target(int index) const { return entries_[static_cast<size_t>(index)].target; }
Text StagedUpdate::StagingPath(int index) const { return StagingName(Target(index)); }

EarlierRun StagedUpdate::RecoverInterruptedRun() {
  const Text journalPath = JournalName(journalFolder_), markPath = CommittedMarkerName(journalFolder_);
  std::vector<Text> names;
  fc::ClearSystemError();
  if (!fc::ListFolder(FolderForm(journalFolder_), names)) {
    throw PatchFailure{.file = journalPath,
                       .reason = WithReason(Text("Cannot look for the journal of an earlier run in ") + journalFolder_),
                       .cause = FailureCause::kOther};
  }
  const bool committed = std::find(names.begin(), names.end(), Text(".zpatch-committed")) != names.end();
  const bool journaled = std::find(names.begin(), names.end(), Text(".zpatch-journal")) != names.end();

  // Where earlier runs may have left files: beside every destination and link target of this run
  // and of the journal's run.
  Journal journal;
  if (committed || journaled) {
    const Text path = committed ? markPath : journalPath;
    std::string bytes;
    fc::ClearSystemError();
    if (!fc::ReadSmallFile(path, bytes)) {
      throw PatchFailure{path, WithReason("Cannot read the journal of an interrupted earlier update"), false,
                         FailureCause::kEarlierRunNotUndone};
    }
    journal = ParseJournal(bytes);
    if (!journal.known) {
      throw PatchFailure{path,
                         "The journal of an interrupted earlier update has a form this patcher does not know; "
                         "the folder may hold part of that update",
                         false, FailureCause::kEarlierRunNotUndone};
    }
  }
  std::vector<Text> folders = folders_;
  for (const Entry& entry : entries_) AddOnce(folders, FolderOf(entry.destination));
  for (const JournalRecord& record : journal.records) AddOnce(folders, FolderOf(record.path));
  const std::map<Text, Leftovers> leftovers = FindLeftovers(folders);

  // A staging file beside the mark was never moved: the earlier run did not complete its update.
  const bool moved =
      std::none_of(leftovers.begin(), leftovers.end(), [](const auto& found) { return found.second.staging; });
  if (committed && moved) {
    // The earlier run had moved every file into place: only its kept originals are left to drop.
    // A failure here must not roll that update back, so this run counts as having nothing to undo,
    // and the mark stays for the next run.
    Text kept, failed;
    for (const auto& [path, left] : leftovers) {
      fc::ClearSystemError();
      if (!RemoveLeftovers(path, left, true) && kept.IsEmpty()) kept = path;
    }
    // The originals are gone for good before the mark goes: a kept original must never be taken
    // for one to put back.
    if (kept.IsEmpty() && (!journaled || fc::RemoveFile(journalPath)) &&
        ((leftovers.empty() && !journaled) || fc::SyncToDisk({}, folders, failed)) && fc::RemoveFile(markPath)) {
      return EarlierRun::kFinished;
    }
    const Text reason = WithReason("Cannot finish the clean-up of an earlier completed update");
    committed_ = true;
    throw PatchFailure{.file = !kept.IsEmpty()     ? kept
                               : !failed.IsEmpty() ? failed
                                                   : markPath,
                       .reason = reason,
                       .cause = FailureCause::kEarlierRunNotFinished,
                       .earlierRun = EarlierRun::kFinished};
  }

  // Puts back every kept original and removes every destination that did not exist before. A
  // journal cut short was written before anything was moved, so its new files were never made.
  bool restored = false, failed = false;
  PatchFailure first;
  auto failedAt = [&](const Text& path, const Text& reason) {
    if (!failed) first = {path, WithReason(reason), false, FailureCause::kEarlierRunNotUndone};
    failed = true;
  };
  for (const auto& [path, left] : leftovers) {
    fc::ClearSystemError();
    if (left.aside) {
      restored = true;
      // When both names still link the same file, the move does nothing and the removal finishes it.
      if (!fc::MoveOver(AsideName(path), path) || !fc::RemoveFile(AsideName(path))) {
        failedAt(path, Text("Cannot restore the old file; it is kept as ") + AsideName(path));
      }
    } else if (left.created) {
      restored = true;
      if (!fc::RemoveFile(path)) failedAt(path, "Cannot remove the new file");
    }
  }
  if (journal.complete) {
    for (const JournalRecord& record : journal.records) {
      if (record.kept) continue;
      restored = true;
      fc::ClearSystemError();
      if (!fc::RemoveFile(record.path)) failedAt(record.path, "Cannot remove the new file");
    }
  }
  // The journal and the marks go only once the originals are back for good.
  Text unsynced;
  fc::ClearSystemError();
  if (restored && !fc::SyncToDisk({}, folders, unsynced) && !failed) {
    first = {unsynced, WithReason("Cannot write the restored files to the disk"), false, CauseOfSystemError(true)};
    failed = true;
  }
  if (failed) {
    first.earlierRun = EarlierRun::kUndone;
    throw first;
  }
  // The journal before the staging files: a mark left with none of them would pass for a completed
  // update.
  const EarlierRun outcome = restored ? EarlierRun::kUndone : EarlierRun::kNone;
  for (const auto& [there, path] : {std::pair{journaled, journalPath}, std::pair{committed, markPath}}) {
    fc::ClearSystemError();
    if (there && !fc::RemoveFile(path)) {
      throw PatchFailure{.file = path,
                         .reason = WithReason("Cannot remove the journal of an earlier run"),
                         .cause = FailureCause::kEarlierRunNotFinished,
                         .earlierRun = outcome};
    }
  }
  for (const auto& [path, left] : leftovers) {
    fc::ClearSystemError();
    if (!RemoveLeftovers(path, left, false)) {
      throw PatchFailure{.file = path,
                         .reason = WithReason("Cannot remove a file that an earlier run left beside it"),
                         .cause = FailureCause::kEarlierRunNotFinished,
                         .earlierRun = outcome};
    }
  }
  // What the destinations are now, after the restore.
  if (restored) Examine();
  return outcome;
}

void StagedUpdate::Preflight() const {
  std::vector<Text> checked;
  for (size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    const Text through = e.facts.isLink ? Text(" (the link ") + e.destination + " leads there)" : Text();
    if (!e.examined) {
      const bool link = e.facts.isLink;
      throw PatchFailure{.file = e.destination,
                         .reason = Text(link ? "Cannot follow the symbolic link" : "Cannot examine the file") +
                                   (e.examineError.IsEmpty() ? Text() : Text(" (") + e.examineError + ")"),
                         .cause = link ? FailureCause::kLinkUnresolvable : CauseOf(e.examineErrorKind, true)};
    }
    for (size_t j = 0; j < i; ++j) {
      if (entries_[j].target == e.target) {
        throw PatchFailure{.file = e.destination,
                           .reason = Text("Leads to the same file as ") + entries_[j].destination,
                           .cause = FailureCause::kOther};
      }
    }
    const Text folder = FolderOf(e.target);
    if (std::find(checked.begin(), checked.end(), folder) == checked.end()) {
      if (kiln::QueryPathKind(folder) != kiln::FILETYPE_DIR) {
        throw PatchFailure{.file = e.target,
                           .reason = Text("The folder ") + folder + " does not exist" + through,
                           .cause = FailureCause::kFolderMissing};
      }
      fc::ClearSystemError();
      if (!fc::IsWritable(folder)) {
        throw PatchFailure{.file = e.target,
                           .reason = WithReason(Text("No new files can be created in ") + folder) + through,
                           .cause = CauseOfSystemError(true)};
      }
      checked.push_back(folder);
    }
    switch (e.facts.kind) {
      case fc::PathKind::kNone: break;
      case fc::PathKind::kFile:
        fc::ClearSystemError();
        if (!fc::IsWritable(e.target)) {
          throw PatchFailure{.file = e.target,
                             .reason = WithReason("The file cannot be written") + through,
                             .cause = CauseOfSystemError(false)};
        }
        break;
      case fc::PathKind::kFolder:
        throw PatchFailure{.file = e.target,
                           .reason = Text("A folder stands where the file belongs") + through,
                           .cause = FailureCause::kFolderInTheWay};
      case fc::PathKind::kOther:
        throw PatchFailure{.file = e.target,
                           .reason = Text("Something that is not a file stands where the file belongs") + through,
                           .cause = FailureCause::kNotAFile};
    }
  }
}

void StagedUpdate::Staged(int index) {
  Entry& e = entries_[static_cast<size_t>(index)];
  fc::ClearSystemError();
  const Text replaced = e.facts.kind == fc::PathKind::kFile ? e.target : Text();
  if (!fc::PrepareStagedFile(StagingName(e.target), replaced, FolderOf(e.target))) {
    Fail(e.target, WithReason("Cannot give the new file the owner and permissions of the old one"),
         CauseOfSystemError(false));
  }
  e.staged = true;
}

void StagedUpdate::Sync(const std::vector<Text>& files, const std::vector<Text>& folders) {
  Text failed;
  fc::ClearSystemError();
  if (fc::SyncToDisk(files, folders, failed)) return;
  for (const Entry& e : entries_) {
    if (failed == StagingName(e.target))
      Fail(e.target, WithReason("Cannot write the new file to the disk"), CauseOfSystemError(false));
  }
  Fail(failed, WithReason("Cannot write the changes in this folder to the disk"), CauseOfSystemError(true));
}

void StagedUpdate::WriteJournal() {
  std::string bytes = std::string(kJournalHeader) + "\n";
  for (const Entry& e : entries_) bytes += (e.kept ? "kept " : "new ") + Escaped(e.target) + "\n";
  bytes += "end\n";
  journalWritten_ = true;
  fc::ClearSystemError();
  if (!fc::WriteSmallFile(JournalName(journalFolder_), bytes)) {
    Fail(JournalName(journalFolder_), WithReason("Cannot write the journal of the update"), CauseOfSystemError(true));
  }
}

void StagedUpdate::Commit() {
  for (const Entry& e : entries_) {
    if (!e.staged)
      Fail(journalFolder_, "Not every file was written before the update was completed", FailureCause::kOther);
  }

  // Keep every original under a second name and record which destinations are new, before touching
  // any; then the staged files, the kept originals and the journal reach the disk together.
  for (Entry& e : entries_) {
    if (e.facts.kind != fc::PathKind::kFile) continue;
    fc::ClearSystemError();
    if (!fc::KeepAside(e.target, AsideName(e.target), PartialAsideName(e.target))) {
      Fail(e.target, WithReason("Cannot keep the old file until the update is complete"), CauseOfSystemError(false));
    }
    e.kept = true;
  }
  WriteJournal();
  std::vector<Text> written{JournalName(journalFolder_)};
  for (const Entry& e : entries_) written.push_back(StagingName(e.target));
  Sync(written, folders_);

  // Each move is atomic, so every destination holds either its original or its new file.
  for (size_t i = 0; i < entries_.size(); ++i) {
    Entry& e = entries_[i];
    if (commitProbe != nullptr && !commitProbe(static_cast<int>(i))) {
      Fail(e.target, "Injected failure while replacing the file", FailureCause::kOther);
    }
    fc::ClearSystemError();
    if (!fc::MoveOver(StagingName(e.target), e.target))
      Fail(e.target, WithReason("Cannot replace the file"), CauseOfSystemError(false));
    e.moved = true;
  }

  // From here on the update counts as done, even for a run that is killed before it cleans up. The
  // mark reaches the disk together with the moves: a run cut off before all of them did leaves a
  // staging file beside the mark, or no mark, and the next run undoes it either way.
  const Text mark = CommittedMarkerName(journalFolder_);
  fc::ClearSystemError();
  if (!fc::MoveOver(JournalName(journalFolder_), mark)) {
    Fail(mark, WithReason("Cannot record the completed update"), CauseOfSystemError(true));
  }
  markWritten_ = true;
  Sync({}, folders_);
  committed_ = true;

  // The mark goes only when every kept original is gone for good: a leftover original must never be
  // taken for the file to restore by a later run.
  bool dropped = true;
  for (size_t i = 0; i < entries_.size() && dropped; ++i) {
    const Entry& e = entries_[i];
    if (!e.kept) continue;
    dropped = (cleanUpProbe == nullptr || cleanUpProbe(static_cast<int>(i))) && fc::RemoveFile(AsideName(e.target));
  }
  Text failed;
  if (dropped && fc::SyncToDisk({}, folders_, failed)) fc::RemoveFile(mark);
}

void StagedUpdate::RollBack() {
  if (committed_) return;
  fc::ClearSystemError();
  const Text journal = JournalName(journalFolder_), mark = CommittedMarkerName(journalFolder_);
  // A mark recorded before a failed flush goes first: a run killed during the restore must leave a
  // state that the next run restores, not one it takes for a completed update.
  if (markWritten_) {
    Text failed;
    if (!fc::MoveOver(mark, journal) || !fc::SyncToDisk({}, {journalFolder_}, failed)) {
      throw PatchFailure{mark, WithReason("Cannot take back the record of the completed update"), false,
                         FailureCause::kEarlierRunNotUndone};
    }
    markWritten_ = false;
  }
  bool failed = false, moved = false;
  PatchFailure first;
  for (size_t i = entries_.size(); i-- > 0;) {
    Entry& e = entries_[i];
    bool undone = true;
    if (e.moved && e.kept)
      undone = fc::MoveOver(AsideName(e.target), e.target);
    else if (e.moved)
      undone = fc::RemoveFile(e.target);
    else if (e.kept)
      undone = fc::RemoveFile(AsideName(e.target));
    moved = moved || e.moved;
    if (!undone && !failed) {
      first = {e.target,
               WithReason(e.kept ? Text("Cannot restore the old file; it is kept as ") + AsideName(e.target)
                                 : Text("Cannot remove the new file")),
               false, FailureCause::kEarlierRunNotUndone};
    }
    failed = failed || !undone;
    if (undone) e.moved = e.kept = false;
  }
  // The journal goes only once the originals are back for good; when some are not, it stays for the
  // next run.
  Text unsynced;
  if (moved && !fc::SyncToDisk({}, folders_, unsynced) && !failed) {
    first = {unsynced, WithReason("Cannot write the restored files to the disk"), false, CauseOfSystemError(true)};
    failed = true;
  }
  for (Entry& e : entries_) {
    fc::RemoveFile(StagingName(e.target));
    e.staged = false;
  }
  if (failed) throw first;
  if (journalWritten_ && fc::RemoveFile(journal)) journalWritten_ = false;
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
