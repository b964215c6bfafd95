#include "app/export.h"

#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

#include "app/export_paths.h"
#include "app/manifest.h"
#include "runtime/core/runtime.h"
#include "runtime/filesystem/file_commit.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/c_stream.h"
#include "runtime/stream/resources.h"
#include "runtime/stream/stream_factory.h"

namespace zunto {
namespace {

namespace fc = kiln::filecommit;

struct ExportStep {
  Text source;
  Text destination;
};

PatchFailure lastFailure;
std::vector<uint32_t> payloadChecksums;
StagingOpener stagingOpener = nullptr;
StagingProbe stagingProbe = nullptr;
std::chrono::milliseconds lockWait = std::chrono::seconds(60);

// The staged files' stream buffer: the 4096-byte copies would otherwise reach the disk one by one.
constexpr size_t kStagingBufferSize = size_t{1} << 20;

// Passes every write on and keeps the CRC-32 of what was stored, so that each block is checked as
// it is staged instead of in a pass of its own.
class ChecksumStream : public kiln::TStreamWrapper {
 public:
  int Write(const void* buf, int count) override {
    const int n = Inner().Write(buf, count);
    if (n > 0) crc_ = crc32_z(crc_, static_cast<const Bytef*>(buf), static_cast<size_t>(n));
    return n;
  }
  uint32_t Crc() const { return static_cast<uint32_t>(crc_); }

 private:
  uLong crc_ = crc32(0L, Z_NULL, 0);
};

PatchFailure Damaged(const Text& file, const Text& reason) {
  return {.file = file, .reason = reason, .cause = FailureCause::kPayloadDamaged};
}

// The cause behind a failed open or write of a staging file, a new file in the destination's folder.
FailureCause CauseOfStagingError() {
  switch (fc::LastSystemErrorKind()) {
    case fc::SystemErrorKind::kNoAccess:
      return FailureCause::kFolderReadOnly;
    case fc::SystemErrorKind::kNoSpace:
      return FailureCause::kDiskFull;
    case fc::SystemErrorKind::kNotFound:
      return FailureCause::kFolderMissing;
    case fc::SystemErrorKind::kReadOnlyDisk:
      return FailureCause::kDiskReadOnly;
    case fc::SystemErrorKind::kDeviceError:
      return FailureCause::kDiskError;
    default:
      return FailureCause::kOther;
  }
}

Text WithReason(const Text& what) {
  const Text reason = fc::LastSystemError();
  return reason.IsEmpty() ? what : what + " (" + reason + ")";
}

// One patcher at a time in the game folder: a second one started meanwhile waits for the first
// one's export to end.
fc::FolderLock LockGameFolder() {
  fc::FolderLock lock;
  const auto deadline = std::chrono::steady_clock::now() + lockWait;
  for (;;) {
    fc::ClearSystemError();
    switch (fc::TryLockFolder(TargetRoot(), lock)) {
      case fc::LockAttempt::kLocked: return lock;
      case fc::LockAttempt::kFailed:
        throw PatchFailure{.file = TargetRoot(),
                           .reason = WithReason("Cannot lock the game folder against a second patcher"),
                           .cause = FailureCause::kFolderNotLockable};
      case fc::LockAttempt::kBusy: break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      const int64_t ms = lockWait.count();
      const Text waited = ms % 1000 == 0 ? Text::FromInt(ms / 1000) + " s" : Text::FromInt(ms) + " ms";
      throw PatchFailure{
          .file = TargetRoot(),
          .reason = Text("Another patcher is running in this folder and did not finish within ") + waited,
          .cause = FailureCause::kAnotherPatcherRunning};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// Every block the export reads is there and has a checksum; the bytes are checked as they are
// staged.
void CheckPayload(const std::vector<ExportStep>& steps) {
  for (const ExportStep& step : steps) {
    const int index = ManifestIndex(step.source);
    if (kiln::FindEmbeddedResource(step.source) == nullptr || index < 0) {
      throw Damaged(step.source, "The patch does not contain this file");
    }
    if (static_cast<size_t>(index) >= payloadChecksums.size()) {
      throw Damaged(step.source, "The patch holds no checksum for this file");
    }
  }
}

// The file stream under any wrappers gets `buffer`; no byte has gone through its handle yet.
void UseLargeBuffer(const kiln::Ref<kiln::TStream>& stream, std::vector<char>& buffer) {
  kiln::TStream* inner = stream.Get();
  while (auto* wrapper = dynamic_cast<kiln::TStreamWrapper*>(inner)) inner = wrapper->Stream().Get();
  auto* file = dynamic_cast<kiln::TCStream*>(inner);
  if (file != nullptr && file->Handle() != nullptr) std::setvbuf(file->Handle(), buffer.data(), _IOFBF, buffer.size());
}

// `buffer` outlives every stream opened here.
void Stage(StagedUpdate& update, int index, const ExportStep& step, std::vector<char>& buffer) {
  kiln::EmitDebugLine(Text("Export ") + step.source + " nach: " + step.destination);
  const Text& target = update.Target(index);
  if (stagingProbe != nullptr && !stagingProbe(index)) {
    throw PatchFailure{
        .file = target, .reason = "Injected failure while writing the file", .cause = FailureCause::kOther};
  }
  const Text staging = update.StagingPath(index);
  kiln::Ref<kiln::TStream> source = kiln::ReadableStreamFromUrl(Text(kProtocolPrefix) + step.source);
  if (!source) throw Damaged(step.destination, Text("The patch does not contain ") + step.source);
  fc::ClearSystemError();
  kiln::Ref<kiln::TStream> destination =
      stagingOpener != nullptr ? stagingOpener(staging) : kiln::OpenFileForWriting(staging);
  if (!destination) {
    fc::CaptureSystemError();
    throw PatchFailure{
        .file = target, .reason = WithReason(Text("Cannot create ") + staging), .cause = CauseOfStagingError()};
  }
  UseLargeBuffer(destination, buffer);
  auto checked = kiln::MakeRef<ChecksumStream>();
  checked->SetStream(destination);
  try {
    kiln::TransferStream(source, checked, 4096);
    kiln::CloseFileStream(checked);
  } catch (...) {
    fc::CaptureSystemError();
    const Text thrown = kiln::ThrownObjectText(std::current_exception());
    const Text reason = fc::LastSystemError();
    const FailureCause cause = CauseOfStagingError();
    try {
      destination->Close();
    } catch (...) {
      // Already failing; the handle is closed either way.
    }
    throw PatchFailure{
        .file = target, .reason = thrown + (reason.IsEmpty() ? Text() : Text(" (") + reason + ")"), .cause = cause};
  }
  kiln::CloseStreamObject(source);
  if (checked->Crc() != payloadChecksums[static_cast<size_t>(ManifestIndex(step.source))]) {
    throw Damaged(step.source, "The patch file is damaged (checksum mismatch); download it again");
  }
  update.Staged(index);
}

// What became of the folder, for the technical report.
Text FolderState(const PatchFailure& failure) {
  if (!failure.folderUnchanged) return Text();
  if (failure.cause == FailureCause::kEarlierRunNotFinished)
    return "; the earlier update is in place, only its leftovers remain";
  switch (failure.earlierRun) {
    case EarlierRun::kUndone: return "; an interrupted earlier update was undone, no other file was changed";
    case EarlierRun::kFinished: return "; an interrupted earlier update was completed, no other file was changed";
    case EarlierRun::kNone: break;
  }
  return "; no file was changed";
}

int RunExport(const std::vector<ExportStep>& steps) {
  lastFailure = PatchFailure{};
  fc::ReportFileSizeLimitAsError();
  std::vector<Text> destinations;
  for (const ExportStep& step : steps) destinations.push_back(step.destination);
  EarlierRun earlier = EarlierRun::kNone;
  try {
    // The lock before the recovery: what an earlier run left may be a running patcher's work.
    const fc::FolderLock lock = LockGameFolder();
    StagedUpdate update(destinations, TargetRoot());
    // Before anything else that can fail: a failure after it then reports a folder that is whole.
    earlier = update.RecoverInterruptedRun();
    CheckPayload(steps);
    update.Preflight();
    std::vector<char> buffer(kStagingBufferSize);
    for (size_t i = 0; i < steps.size(); ++i) Stage(update, static_cast<int>(i), steps[i], buffer);
    update.Commit();
    return 0;
  } catch (const PatchFailure& failure) {
    lastFailure = failure;
    if (lastFailure.cause == FailureCause::kNone) lastFailure.cause = FailureCause::kOther;
    if (lastFailure.earlierRun == EarlierRun::kNone) lastFailure.earlierRun = earlier;
  }
  kiln::WriteErrorText(LastPatchFailureText() + FolderState(lastFailure) + "\n");
  return -1;
}

ExportStep StepFor(int manifestIndex) {
  Text source = PayloadManifest()[static_cast<size_t>(manifestIndex)].resource;
  return {source, ExportDestination(source)};
}

}  // namespace

const Text& TargetRoot() {
  static const Text root = "./";
  return root;
}

int ExportPayload() {
  std::vector<ExportStep> steps;
  for (int index : ExportOrder()) steps.push_back(StepFor(index));
  return RunExport(steps);
}

int ExportPlaySetFolder(const Text& folder, const Text& base) {
  std::vector<ExportStep> steps;
  for (const ManifestEntry& entry : PayloadManifest()) {
    Text source = entry.resource;
    if (PlaySetFolderOf(source) != folder) continue;
    Text file = source.From(Text(kSourcePrefix).Length() + folder.Length() + 1);
    steps.push_back({source, base + kPlaySetSubFolder + folder + "/" + file});
  }
  return RunExport(steps);
}

int ExportResourceFile(const Text& source, const Text& destination) {
  return RunExport({ExportStep{source, destination}});
}

const PatchFailure& LastPatchFailure() { return lastFailure; }

Text LastPatchFailureText() {
  if (lastFailure.file.IsEmpty() && lastFailure.reason.IsEmpty()) return Text();
  return lastFailure.file + ": " + lastFailure.reason;
}

void SetPayloadChecksums(std::span<const uint32_t> checksums) {
  payloadChecksums.assign(checksums.begin(), checksums.end());
}

void SetStagingOpenerForTesting(StagingOpener opener) { stagingOpener = opener; }
void SetStagingProbeForTesting(StagingProbe probe) { stagingProbe = probe; }
void SetLockWaitForTesting(std::chrono::milliseconds wait) { lockWait = wait; }

}  // namespace zunto
