#include "platform/posix/terminal_type.h"

#define NCURSES_WIDECHAR 1
#include <ncursesw/curses.h>
#include <ncursesw/term.h>
#include <unistd.h>

#include <cstdlib>

namespace quillon::platform::posix {

std::string TerminalTypeProblem() {
  // Asked with a place for the error, the terminal database answers instead of ending the
  // program, as a screen started on an unknown terminal type would.
  int error = 0;
  if (setupterm(nullptr, STDOUT_FILENO, &error) == OK) {
    del_curterm(cur_term);
    return {};
  }
  const char* type = std::getenv("TERM");
  if (type == nullptr || *type == '\0') return "no terminal type is set (TERM)";
  if (error < 0) return "the terminal database cannot be found";
  return "the terminal type \"" + std::string(type) + "\" is unknown to the terminal database";
}

}  // namespace quillon::platform::posix
