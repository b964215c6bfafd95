// The texts of the status screen, and the German lines that tell a player why a patch failed.
//
// Umlauts and "ß" are single code units (Latin-1), as the status font maps them.
#pragma once

#include <functional>
#include <vector>

#include "app/staged_update.h"

namespace zunto {

// "v " + PatcherVersion.
Text VersionLabel();
Text DoneLine();
Text WrongFolderLine();
Text ExitHint();
// "Fehler! Der Patch wurde nicht installiert."
Text FailureHeadline();

// Pixel width of a line as the status font draws it.
using LineWidth = std::function<int(const Text& line)>;
// For when no font is at hand: 8 pixels per code unit, more than the status font takes.
int EstimatedLineWidth(const Text& line);
// The widest line that fits the window beside the 10-pixel margins.
inline constexpr int kStatusLineWidth = 620;

// The lines under the headline: the cause, naming the file or folder, then what became of the
// folder ("Es wurden keine Dateien verändert." only when that is so, a line about an interrupted
// earlier run when this one finished or undid it). Each fits `maxWidth`: a path
// too long loses its leading folders.
std::vector<Text> FailureLines(const PatchFailure& failure, const LineWidth& width = EstimatedLineWidth,
                               int maxWidth = kStatusLineWidth);

// A path as the player knows it: without "./", and a file the update keeps beside a destination
// (".Zunto.exe.zpatch-bak") shown as that destination. The game folder itself is the empty text.
Text PlayerPath(const Text& path);

}  // namespace zunto
