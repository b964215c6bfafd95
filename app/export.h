// Writing the embedded payload into the game folder.
//
// An export holds the game folder against a second patcher, finishes or undoes whatever an earlier,
// interrupted run left, then copies each block, in export order, from its "incbin::" stream through
// a 4096-byte buffer into a staging file beside its destination, checking the block's checksum on
// the way, and replaces all destinations together once every block matched. When any step fails the
// folder is left as it was (or as the earlier run's recovery left it) and the failure is kept for
// LastPatchFailure.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>

#include "app/staged_update.h"
#include "runtime/stream/stream.h"

namespace zunto {

// The 59 blocks of the manifest, each to its destination below the current directory. 0 when every
// file was written, -1 when nothing was changed because of a failure.
int ExportPayload();
// The 24 blocks of one play-set folder to base + "XMLData/" + folder + "/"; 0 or -1 as above.
int ExportPlaySetFolder(const Text& folder, const Text& base);
// One block to one destination; 0 or -1 as above.
int ExportResourceFile(const Text& source, const Text& destination);

// The failure of the last export, or an empty file and reason after a successful one.
const PatchFailure& LastPatchFailure();
// "<file>: <reason>", or the empty text.
Text LastPatchFailureText();

// The CRC-32 of every block, in manifest order, as the build computed them. A block without a
// checksum fails the verification.
void SetPayloadChecksums(std::span<const uint32_t> checksums);

// Test seams. The staging opener opens the staging file of one step (OpenFileForWriting unless
// replaced; nullptr restores it). The staging probe runs before each step is staged; returning false
// fails the export there.
using StagingOpener = kiln::Ref<kiln::TStream> (*)(const Text& path);
void SetStagingOpenerForTesting(StagingOpener opener);
using StagingProbe = bool (*)(int step);
void SetStagingProbeForTesting(StagingProbe probe);
// How long an export waits for another patcher in the same folder: 60 s unless a test shortens it.
void SetLockWaitForTesting(std::chrono::milliseconds wait);

}  // namespace zunto
