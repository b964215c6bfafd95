// Run-once initialiser of the stream layer: memory streams with the "incbin" factory, endian streams,
// standard IO.
#pragma once

namespace kiln {

void InitStreamModule();

}  // namespace kiln
