#include "app/export.h"

#include <zlib.h>

#include <vector>

#include "app/export_paths.h"
#include "app/file_commit.h"
#include "app/manifest.h"
#include "runtime/core/runtime.h"
#include "runtime/filesystem/filesystem.h"
#include "runtime/stream/resources.h"
#include "runtime/stream/stream_factory.h"

namespace zunto {
namespace {

namespace fc = filecommit;

struct ExportStep {
  Text source;
  Text destination;
};

PatchFailure lastFailure;
std::vector<uint32_t> payloadChecksums;
StagingOpener stagingOpener = nullptr;
StagingProbe stagingProbe = nullptr;

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
    default:
      return FailureCause::kOther;
  }
}

// Every block the export reads is intact: a damaged executable writes nothing.
void VerifyPayload(const std::vector<ExportStep>& steps) {
  for (const ExportStep& step : steps) {
    const int index = ManifestIndex(step.source);
    const kiln::EmbeddedResourceEntry* entry = kiln::FindEmbeddedResource(step.source);
    if (entry == nullptr || index < 0) throw Damaged(step.source, "The patch does not contain this file");
    if (static_cast<size_t>(index) >= payloadChecksums.size()) {
      throw Damaged(step.source, "The patch holds no checksum for this file");
    }
    uLong crc = crc32(0L, Z_NULL, 0);
    if (entry->length > 0) crc = crc32_z(crc, entry->data, static_cast<size_t>(entry->length));
    if (crc != payloadChecksums[static_cast<size_t>(index)]) {
      throw Damaged(step.source, "The patch file is damaged (checksum mismatch); download it again");
    }
  }
}

void Stage(StagedUpdate& update, int index, const ExportStep& step) {
  kiln::EmitDebugLine(Text("Export ") + step.source + " nach: " + step.destination);
  if (stagingProbe != nullptr && !stagingProbe(index)) {
    throw PatchFailure{.file = step.destination, .reason = "Injected failure while writing the file", .cause = FailureCause::kOther};
  }
  const Text staging = update.StagingPath(index);
  kiln::Ref<kiln::TStream> source = kiln::ReadableStreamFromUrl(Text(kProtocolPrefix) + step.source);
  if (!source) throw Damaged(step.destination, Text("The patch does not contain ") + step.source);
  fc::ClearSystemError();
  kiln::Ref<kiln::TStream> destination =
      stagingOpener != nullptr ? stagingOpener(staging) : kiln::OpenFileForWriting(staging);
  if (!destination) {
    fc::CaptureSystemError();
    Text reason = fc::LastSystemError();
    throw PatchFailure{.file = step.destination,
                       .reason = Text("Cannot create ") + staging + (reason.IsEmpty() ? Text() : Text(" (") + reason + ")"),
                       .cause = CauseOfStagingError()};
  }
  try {
    kiln::TransferStream(source, destination, 4096);
    kiln::CloseFileStream(destination);
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
    throw PatchFailure{.file = step.destination, .reason = thrown + (reason.IsEmpty() ? Text() : Text(" (") + reason + ")"),
                       .cause = cause};
  }
  kiln::CloseStreamObject(source);
  update.Staged(index);
}

int RunExport(const std::vector<ExportStep>& steps) {
  lastFailure = PatchFailure{};
  fc::ReportFileSizeLimitAsError();
  std::vector<Text> destinations;
  for (const ExportStep& step : steps) destinations.push_back(step.destination);
  try {
    VerifyPayload(steps);
    StagedUpdate update(destinations, TargetRoot());
    update.RecoverInterruptedRun();
    update.Preflight();
    for (size_t i = 0; i < steps.size(); ++i) Stage(update, static_cast<int>(i), steps[i]);
    update.Commit();
    return 0;
  } catch (const PatchFailure& failure) {
    lastFailure = failure;
    if (lastFailure.cause == FailureCause::kNone) lastFailure.cause = FailureCause::kOther;
  }
  kiln::WriteErrorText(LastPatchFailureText() + (lastFailure.folderUnchanged ? "; no file was changed\n" : "\n"));
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

void SetStagingOpener(StagingOpener opener) { stagingOpener = opener; }
void SetStagingProbe(StagingProbe probe) { stagingProbe = probe; }

}  // namespace zunto
