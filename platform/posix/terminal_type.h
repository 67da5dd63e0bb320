// Whether ncurses can draw on the terminal that standard output is: it needs a terminal type
// (TERM) that its terminal database describes.
#pragma once

#include <string>

namespace quillon::platform::posix {

// Why ncurses cannot draw on standard output's terminal, empty when it can.
std::string TerminalTypeProblem();

}  // namespace quillon::platform::posix
