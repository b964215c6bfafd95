// The guard of every module's run-once initialiser.
#pragma once

namespace kiln {

// Runs `body` at the first call from this place only: each initialiser passes its own lambda, and
// each lambda has its own flag. The flag is set before `body` runs, so an initialiser that is
// reached again from inside its own body (through a module it builds on) returns at once.
template <class Body>
void RunOnce(Body body) {
  static bool done = false;
  if (done) return;
  done = true;
  body();
}

}  // namespace kiln
