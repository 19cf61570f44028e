// Inside the platform room: what each system's file (platform_posix.cpp, platform_win.cpp) gives
// the shared one.
#pragma once

#include <string_view>

#include "platform.h"

namespace platform {

// The real clock of the system.
Clock& SystemClock();

// The console form of the operator's box on standard output; with waitForEnter it then waits for
// a line of standard input.
void ShowConsoleBox(std::string_view text, BoxIcon icon, bool waitForEnter);

}  // namespace platform
