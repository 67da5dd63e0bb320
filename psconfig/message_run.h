// The programming run over HCI: each BCCMD request of the list as HCI commands 0xFC00, each
// answer from vendor events, one request at a time. There is no link layer below it: a request
// not answered in kAnswerMs is sent again, kTries times in all, before the run says the module
// does not answer. A stray answer (another channel, another sequence number, a fragment out of
// order, an event of the wrong length) is counted and left out, never taken for the answer.
//
// The messages are byte for byte those of the BCSP engine's run of the same file: the same list,
// the same encoding.
#pragma once

#include <cstdint>
#include <vector>

#include "bcsp/console.h"
#include "platform/hci_packet_port.h"
#include "platform/platform.h"
#include "psconfig/hci_bccmd.h"
#include "psconfig/programming_run.h"

namespace quillon {

class MessageRun final : public ProgrammingEngine {
 public:
  static constexpr std::uint32_t kAnswerMs = 1000;
  static constexpr std::uint32_t kTries = 3;

  MessageRun(const platform::Platform& platform, PsKeyList& list, platform::HciPacketPort& port, Console& console)
      : platform_(platform), list_(list), port_(port), console_(console) {}

  int Run(std::wstring_view portName, std::uint32_t baudRate, std::wstring_view psrPath, platform::Event* stopEvent,
          RunObserver* observer, const RunOptions& options) override;
  std::uint32_t LinkRate() const override { return linkRate_; }
  std::uint16_t BuildId() const override { return buildId_; }
  std::span<const std::uint32_t> RatesTried() const override { return ratesTried_; }
  std::span<const KeyRead> Reads() const override { return reads_; }

  // What was left out in the last run.
  const HciEventCounts& EventCounts() const { return assembler_.Counts(); }
  std::uint32_t OtherSequence() const { return otherSequence_; }
  // The port error of a send that failed (the run's result is then 2).
  platform::ErrorCode SendError() const { return sendError_; }

 private:
  enum class Answer : std::uint8_t { kAnswered, kNone, kStopped, kSendFailed };
  // Sends `item` and waits for its answer, again up to kTries times.
  Answer Exchange(const PsKeyItem& item, platform::Event* stop, BccmdMessage* answer, std::vector<std::uint8_t>* bytes);

  const platform::Platform& platform_;
  PsKeyList& list_;
  platform::HciPacketPort& port_;
  Console& console_;
  BccmdEventAssembler assembler_;
  std::uint32_t otherSequence_ = 0;
  std::uint32_t linkRate_ = 0;
  std::uint16_t buildId_ = 0;
  std::vector<std::uint32_t> ratesTried_;
  std::vector<KeyRead> reads_;
  platform::ErrorCode sendError_ = platform::kSuccess;
};

}  // namespace quillon
