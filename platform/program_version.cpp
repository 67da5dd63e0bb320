#include "platform/program_version.h"

#include "quillon_version.h"

namespace quillon::platform {

std::string VersionLine(std::string_view program) {
  std::string line(program);
  line += " " QUILLON_VERSION;
  if (const std::string_view commit = QUILLON_COMMIT; !commit.empty()) {
    line += " (commit ";
    line += commit;
    line += ")";
  }
  return line + "\n";
}

}  // namespace quillon::platform
