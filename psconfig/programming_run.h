// The programming engine: reads a PSR file into the programming list, opens the module's port,
// brings the BCSP link up and sends the list's BCCMD requests one at a time, each after the
// previous one has been answered, then waits for the module's warm reset.
//
// Single-threaded: Run executes on the calling thread with the link and the port. The stop event
// is the only input from other threads; it is tested with a zero time-out on every pass.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "bcsp/bcsp_link.h"
#include "bcsp/console.h"
#include "bcsp/serial_port.h"
#include "platform/platform.h"
#include "platform/process_wide.h"
#include "psconfig/bccmd.h"
#include "psconfig/key_reads.h"
#include "psconfig/ps_key_list.h"
#include "psconfig/psr_reader.h"

namespace quillon {

class TraceScope;

// Results of a run.
inline constexpr int kPsConfigDone = 0;
inline constexpr int kPsConfigNotCompleted = 1;  // a key refused or left out, or the file cannot be held
inline constexpr int kPsConfigPortFailed = 2;
inline constexpr int kPsConfigFileFailed = 3;
inline constexpr int kPsConfigNoKeys = 4;
inline constexpr int kPsConfigVerifyFailed = 5;  // a key read back differs, was refused or not answered
inline constexpr int kPsConfigReadFailed = 6;    // a read failed, or the gate kept the keys unwritten
// The module did not answer: no link at any rate tried, or a request left unanswered.
inline constexpr int kPsConfigNoAnswer = 7;

enum RunState : std::uint8_t {
  POLL_STATE = 0,
  SENT_STATE = 1,
  RECEIVED_STATE = 2,
  PEER_RESET_STATE = 3,
  SLEEP_STATE = 4,
  EXIT_STATE = 5,
};

// What a run reports as it goes, for progress displays. Called on the run's thread.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  virtual void FileRead(std::uint32_t /*keys*/, const PsrReport& /*report*/) {}
  // The address key is in the list; the file's own &0001 lines on `replacedLines` are not sent.
  virtual void AddressKeyPlaced(std::span<const std::uint32_t> /*replacedLines*/) {}
  virtual void FileFailed(platform::ErrorCode /*error*/) {}
  virtual void PortFailed(std::int32_t /*result*/, platform::ErrorCode /*error*/) {}
  virtual void PortOpened() {}
  // The port is set to `rate` and the link is tried there (the run's own rate, then each rate
  // of the search).
  virtual void LookingAt(std::uint32_t /*rate*/) {}
  virtual void LinkEstablished() {}
  virtual void RequestSent(std::uint32_t /*index*/, std::uint32_t /*count*/, const PsKeyItem& /*item*/) {}
  virtual void RequestCompleted(std::uint32_t /*index*/, std::uint16_t /*status*/) {}
  virtual void Stopped() {}
};

// What a programming run offers, whatever carries its messages: the BCSP engine, or the request
// layer over HCI (H4, the kernel's HCI socket).
class ProgrammingEngine {
 public:
  virtual ~ProgrammingEngine() = default;
  virtual int Run(std::wstring_view portName, std::uint32_t baudRate, std::wstring_view psrPath,
                  platform::Event* stopEvent, RunObserver* observer, const RunOptions& options) = 0;
  // The rate at which the module first answered; 0 when it never did.
  virtual std::uint32_t LinkRate() const = 0;
  // The build identifier the module answered in the last run; 0 when it did not.
  virtual std::uint16_t BuildId() const = 0;
  virtual std::span<const std::uint32_t> RatesTried() const = 0;
  virtual std::span<const KeyRead> Reads() const = 0;
};

class PSConfig final : public ProgrammingEngine {
 public:
  static constexpr std::size_t kBufferSize = 512;
  static constexpr std::uint32_t kResetWaitMs = 2000;
  // A read request not answered in this time is given up (the module dropped it, or its answer).
  static constexpr std::uint32_t kReadAnswerMs = 3000;
  // The longest wait of a pass in which the link sends nothing; 25 of them space re-sends.
  static constexpr std::uint32_t kPauseWaitMs = 1;
  // How long the link is tried at one rate. A module answers a SYNC at once, and is up within a
  // few tens of milliseconds of a power-up or a warm reset: a rate that has brought no link in
  // this time is not the module's.
  static constexpr std::uint32_t kLinkUpMs = 1500;
  // A request the module has acknowledged nothing of in this time, once the link is up: the
  // module has stopped answering, and the run ends instead of waiting for ever.
  static constexpr std::uint32_t kAnswerMs = 10000;

  PSConfig(const platform::Platform& platform, PsKeyList& list, BcspLink& link, SerialPort& port, Console& console);
  PSConfig(const PSConfig&) = delete;
  PSConfig& operator=(const PSConfig&) = delete;

  // Programs `psrPath` into the module on `portName` at `baudRate`. Returns 0 (done, or stopped),
  // 1 (the module answered a request with an error status, a key line was left out for having
  // too many values, or the file holds more keys than a run can carry), 2 (port), 3 (file:
  // missing, not a regular file, unreadable, or changed while it was read), 4 (no key lines).
  // With `options`, 5 (a read-back does not show what was written) and 6 (a read failed when
  // only reading, or the gate kept every key unwritten) too.
  // 7 when the module answered at none of the rates tried, or stopped answering.
  int Run(std::wstring_view portName, std::uint32_t baudRate, std::wstring_view psrPath, platform::Event* stopEvent,
          RunObserver* observer = nullptr, const RunOptions& options = {}) override;
  // Looks for the module at each of `rates` in turn and asks its build identifier; with
  // `warmReset`, then resets it (the run ends as a programming run does after its reset).
  // 0 (found: LinkRate() and BuildId() say where and what), 2 (port), 7 (found nowhere), or
  // 1 (the module refused the request). Stopped: 0 with LinkRate() 0.
  int Probe(std::wstring_view portName, std::span<const std::uint32_t> rates, platform::Event* stopEvent,
            bool warmReset, RunObserver* observer = nullptr);
  // The rate at which the last run's link came up; 0 when it never did.
  std::uint32_t LinkRate() const override { return linkRate_; }
  // The build identifier the module answered in the last run; 0 when it did not.
  std::uint16_t BuildId() const override { return buildId_; }
  // The rates the last run tried, in order.
  std::span<const std::uint32_t> RatesTried() const override { return ratesTried_; }
  // The reads of the last run, in the order they were sent.
  std::span<const KeyRead> Reads() const override { return reads_; }

  // The steps of the loop, for tests of single steps.
  void SendNextItem(BcspPacket* sendPacket);
  void HandleReceived(BcspPacket* receivePacket, std::uint8_t* buffer);
  void TraceHex(const std::uint8_t* bytes, std::size_t count);
  void ExitRun();

  RunState State() const { return state_; }
  std::uint16_t ExpectedVarId() const { return expectedVarId_; }
  bool ErrorStatusSeen() const { return errorStatusSeen_; }

 private:
  // Whatever way a run ends, the list is released and the observer forgotten.
  struct RunEnd {
    PSConfig& run;
    ~RunEnd() {
      run.list_.Release();
      run.observer_ = nullptr;
    }
  };

  int LoadList(std::wstring_view psrPath, platform::Event* stopEvent, RunObserver* observer, bool* stopped);
  void Begin(RunObserver* observer, const RunOptions& options);
  // Opens the port at the first of `rates` and runs the loop over the loaded list.
  int Drive(std::wstring_view portName, std::span<const std::uint32_t> rates, platform::Event* stopEvent,
            TraceScope& scope);
  // Closes the port and opens it at the next rate to try; false when none is left.
  bool TryNextRate(std::wstring_view portName, BcspPacket* receivePacket);
  void CompleteRequest(std::uint16_t status);
  bool ReadOutstanding() const { return readOutstanding_; }
  void CompleteRead(const BccmdMessage& message);
  void GiveUpRead();
  bool PassGate();
  int ReadResult() const;
  std::uint8_t WaitForLine(platform::Event* stopEvent);

  const platform::Platform& platform_;
  PsKeyList& list_;
  BcspLink& link_;
  SerialPort& port_;
  Console& console_;
  RunObserver* observer_ = nullptr;

  RunState state_ = POLL_STATE;
  std::uint16_t expectedVarId_ = 0;
  bool errorStatusSeen_ = false;
  bool keysLeftOut_ = false;
  RunOptions options_;
  std::vector<KeyRead> reads_;
  std::uint32_t nextRead_ = 0;  // the entry of reads_ that the next read request fills
  std::uint32_t firstWrite_ = 0;
  bool readOutstanding_ = false;
  bool gateRefused_ = false;
  std::vector<std::uint32_t> rates_;  // the rates to try, in order
  std::size_t nextRate_ = 0;
  std::uint32_t rateSince_ = 0;  // when the port was set to the rate being tried
  std::vector<std::uint32_t> ratesTried_;
  std::uint32_t linkRate_ = 0;
  std::uint16_t buildId_ = 0;
  bool noAnswer_ = false;
  bool awaitingAnswer_ = false;  // a request is out that the module is to answer
  std::uint32_t requestSentAt_ = 0;
  std::array<std::uint8_t, kBufferSize> sendBuffer_{};
  std::array<std::uint8_t, kBufferSize> receiveBuffer_{};
};

}  // namespace quillon
