#include "programs/psconfig/port_outcome.h"

#include "psconfig/programming_run.h"

namespace quillon::psconfig {

const char* Reason(platform::ErrorCode error) {
  namespace p = platform;
  switch (error) {
    case p::kErrorFileNotFound:
    case p::kErrorPathNotFound:
      return "not found";
    case p::kErrorDirectory:
      return "it is a folder";
    case p::kErrorBadFileType:
      return "not a regular file (a pipe or a device is never read)";
    case p::kErrorAccessDenied:
      return "permission denied, or another program has it open";
    case p::kErrorSharingViolation:
      return "busy: another program has it open";
    case p::kErrorInvalidData:
      return "it changed while it was read";
    case p::kErrorNotSupported:
    case p::kErrorInvalidParameter:
      return "not a serial port, or it refuses the settings";
    case p::kErrorWriteProtect:
      return "the place is read-only";
    case p::kErrorDiskFull:
      return "the disk is full";
    default:
      return nullptr;
  }
}

PortOutcome OutcomeOf(PortWork& work, bool verify) {
  Progress& progress = work.Watch();
  if (progress.stopped_) {
    return {false, progress.resetSent_ ? "stopped, module reset" : "stopped, module not reset"};
  }
  auto count = [](std::uint32_t n, const char* what) { return std::to_string(n) + " " + what; };
  switch (work.Result()) {
    case kPsConfigDone:
      // The module is programmed, but the journal lacks its address's outcome: not a success
      // that the line may count on.
      if (!work.JournalProblem().empty()) return {false, "done, journal not written"};
      return {true, verify ? "done, verified" : "done"};
    case kPsConfigNotCompleted:
      if (progress.refused_ != 0) {
        return {false, "refused " + std::to_string(progress.refused_) + " of " + count(progress.total_, "requests")};
      }
      if (progress.leftOut_ != 0) return {false, count(progress.leftOut_, "key lines left out")};
      return {false, "file too large"};
    case kPsConfigPortFailed: {
      const char* reason = Reason(progress.portError_);
      return {false, std::string("port failed: ") +
                         (reason != nullptr ? reason : "error " + std::to_string(progress.portError_)).c_str()};
    }
    case kPsConfigFileFailed:
      return {false, "file cannot be read"};
    case kPsConfigNoKeys:
      return {false, "no key lines in the file"};
    case kPsConfigVerifyFailed:
      return {false, "verification failed"};
    case kPsConfigReadFailed:
      return {false, "reads failed"};
    case kPsConfigNoAnswer:
      return {false, work.Engine().LinkRate() != 0 ? "stopped answering" : "no answer"};
    case kExitBlockUsedUp:
      return {false, "no address: block used up"};
    case kExitJournalFailed:
      return {false, "no address: journal failed"};
    case kExitNotStarted:
      return {false, "not started: no thread"};
    default:
      return {false, "result " + std::to_string(work.Result())};
  }
}

}  // namespace quillon::psconfig
