// A port's run in a few words, for the line's table and its record, and the reasons for errors
// of files and ports in the user's words.
#pragma once

#include <string>

#include "platform/errors.h"
#include "programs/psconfig/port_work.h"

namespace quillon::psconfig {

// Why a file or a port could not be used; null when there is no better word than the code.
const char* Reason(platform::ErrorCode error);

// Why an HCI device could not be used, and what to do about it.
std::string HciReason(platform::ErrorCode error);

struct PortOutcome {
  bool succeeded = false;
  std::string text;  // "done, verified", "refused 1 of 104 requests", "no answer", ...
};
PortOutcome OutcomeOf(PortWork& work, bool verify);

}  // namespace quillon::psconfig
