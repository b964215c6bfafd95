// Desktop helpers run as child processes: file and folder requesters (zenity or kdialog) and
// opening addresses (xdg-open).
#pragma once

#include "runtime/core/text.h"

namespace kiln::x11 {

// The chosen path, or the empty text when cancelled or when no requester program is installed.
// `extensions` is "Description:ext,ext;Other:ext" or a bare "ext,ext" list.
Text RunFileRequester(const Text& title, const Text& extensions, bool save, const Text& path);
Text RunFolderRequester(const Text& title, const Text& path);
// True when xdg-open accepted the address.
bool OpenWithDesktop(const Text& url);

}  // namespace kiln::x11
