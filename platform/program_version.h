// What `--version` prints: the program's name, the project's version, and the commit it was
// built from when it was built from a git checkout.
#pragma once

#include <string>
#include <string_view>

namespace quillon::platform {

// "psconfig 0.2.0 (commit 1a2b3c4d5e6f)", or "psconfig 0.2.0" outside a checkout; with a newline.
std::string VersionLine(std::string_view program);

}  // namespace quillon::platform
