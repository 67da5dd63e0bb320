// The programming run's progress in the status line: "Start programming BT Radio (5/22)", the
// request being sent of all the run's requests.
#pragma once

#include <cstdint>

#include "psconfig/psconfig.h"
#include "setup/dialog_record.h"

namespace quillon::ui {

class ProgrammingProgress final : public RunObserver {
 public:
  explicit ProgrammingProgress(DialogRecord& record) : record_(record) {}
  // Forgets what the previous run did; called before each run.
  void Begin() {
    stopped_ = false;
    ratesTried_ = 0;
    sent_ = 0;
    count_ = 0;
  }
  void LookingAt(std::uint32_t rate) override;
  void LinkEstablished() override;
  void RequestSent(std::uint32_t index, std::uint32_t count, const PsKeyItem& item) override;
  void Stopped() override { stopped_ = true; }
  // The run was stopped before its last request, the warm reset, went out.
  // The warm reset is the run's last request.
  bool StoppedBeforeTheWarmReset() const { return stopped_ && !(count_ != 0 && sent_ == count_); }
  std::uint32_t RequestsSent() const { return sent_; }
  std::uint32_t Requests() const { return count_; }

 private:
  DialogRecord& record_;
  bool stopped_ = false;
  std::uint32_t ratesTried_ = 0;
  std::uint32_t sent_ = 0;
  std::uint32_t count_ = 0;
};

}  // namespace quillon::ui
