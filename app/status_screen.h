// The status screen: what the patch run did, shown until the user presses a key, clicks or closes
// the window. Both functions end the process: with 0, or with -1 after a failed export.
#pragma once

namespace zunto {

// Draws the background, the version label and the status lines on every pass, paced to 60 passes
// a second, and ends the process at the first close request, typed character or mouse click.
[[noreturn]] void RunStatusScreen();
// For when no window can be opened: the lines the screen would show go to standard error.
[[noreturn]] void ReportStatusWithoutWindow();

}  // namespace zunto
