#pragma once
// What became of the password during an archive component's last run (the 7z
// and the RAR component report it alike).

enum class TPasswordState {
  NotAsked,   // the engine never asked for a password
  Given,      // a password was given and nothing failed the way a wrong one fails
  Wrong,      // a password was given and the archive failed as a wrong password makes it fail
  Cancelled,  // a password was asked for and none was given
};
