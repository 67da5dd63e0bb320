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
  void LinkEstablished() override;
  void RequestSent(std::uint32_t index, std::uint32_t count, const PsKeyItem& item) override;

 private:
  DialogRecord& record_;
};

}  // namespace quillon::ui
