// Which running programs may hold a hot key. An X server does not say who holds a grabbed key,
// so this can only name the programs running here that are known to take keys for themselves
// (a desktop's settings daemon, a window manager, a key binder).
#pragma once

#include <string>
#include <vector>

namespace kestrova::platform {

// The users' names of the key-taking programs running, found by process name among the
// processes under procRoot ("/proc" on Linux), each named once, in the order of the table of
// known programs. Empty when none is running or procRoot cannot be read.
std::vector<std::string> KeyHoldingPrograms(const std::string& procRoot = "/proc");

}  // namespace kestrova::platform
