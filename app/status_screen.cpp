#include "app/status_screen.h"

#include <cstdlib>
#include <limits>
#include <vector>

#include "app/export.h"
#include "app/game_folder.h"
#include "app/patcher.h"
#include "app/status_texts.h"
#include "runtime/core/file_names.h"
#include "runtime/core/runtime.h"
#include "runtime/draw2d/draw2d.h"
#include "runtime/graphics/graphics.h"
#include "runtime/system/input.h"

namespace zunto {
namespace {

bool ExportFailed() { return PatchDone() == 0 && LastPatchFailure().cause != FailureCause::kNone; }

int ExitCode() { return ExportFailed() ? -1 : 0; }

// The lines at the top of the window, one every 20 pixels from y 5, beside the version label; paths
// shortened to `maxWidth`.
std::vector<Text> TopLines(const LineWidth& width, int maxWidth) {
  if (PatchDone() == 1) return {};
  if (!ExportFailed()) return {WrongFolderLine()};
  std::vector<Text> lines{FailureHeadline()};
  for (const Text& line : FailureLines(LastPatchFailure(), width, maxWidth)) lines.push_back(line);
  return lines;
}

bool EndRequested() {
  return kiln::TakeTerminateRequest() != 0 || kiln::NextTypedChar() != 0 || kiln::TakeButtonClicks(1) != 0 ||
         kiln::TakeButtonClicks(2) != 0 || kiln::TakeButtonClicks(3) != 0;
}

}  // namespace

void RunStatusScreen() {
  const std::vector<Text> top =
      TopLines([](const Text& line) { return kiln::MeasureTextWidth(line); }, kStatusLineWidth);
  const Text bottom = PatchDone() == 1 ? DoneLine() : ExitHint();
  const Text version = VersionLabel();
  for (;;) {
    kiln::DrawImageAt(BackgroundImage(), 0.0f, 0.0f, 0);
    kiln::DrawTextLine(version, 590.0f, 5.0f);
    for (size_t i = 0; i < top.size(); ++i) kiln::DrawTextLine(top[i], 10.0f, 5.0f + 20.0f * static_cast<float>(i));
    kiln::DrawTextLine(bottom, 10.0f, 460.0f);
    if (EndRequested()) std::exit(ExitCode());
    kiln::PresentFrame(-1);
  }
}

void ReportStatusWithoutWindow() {
  // A terminal has room for the whole path.
  std::vector<Text> lines = TopLines(EstimatedLineWidth, std::numeric_limits<int>::max());
  if (PatchDone() == 1) lines.push_back(DoneLine());
  // In the platform's encoding, so that a terminal shows the umlauts.
  for (const Text& line : lines) kiln::WriteErrorText(Text::FromLatin1(kiln::ToPlatformName(line + "\n")));
  std::exit(ExitCode());
}

}  // namespace zunto
