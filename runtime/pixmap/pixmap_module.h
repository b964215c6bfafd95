// Run-once initialiser of the pixmap module.
#pragma once

namespace kiln {

// Starts the core runtime and the stream layer.
void InitPixmapModule();

}  // namespace kiln
