// The programming run: the polled state machine around the link and the BCCMD steps.
#include "psconfig/programming_run.h"

#include <algorithm>

#include "platform/platform.h"
#include "psconfig/address_key.h"
#include "psconfig/list_loading.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {
PSConfig::PSConfig(const platform::Platform& platform, PsKeyList& list, BcspLink& link, SerialPort& port,
                   Console& console)
    : platform_(platform), list_(list), link_(link), port_(port), console_(console) {}

int PSConfig::LoadList(std::wstring_view psrPath, platform::Event* stopEvent, RunObserver* observer, bool* stopped) {
  return LoadProgrammingList(platform_, list_, psrPath, stopEvent, observer, stopped, &keysLeftOut_);
}

void PSConfig::Begin(RunObserver* observer, const RunOptions& options) {
  observer_ = observer;
  sendBuffer_.fill(0);
  receiveBuffer_.fill(0);
  errorStatusSeen_ = false;
  keysLeftOut_ = false;
  expectedVarId_ = 0;
  options_ = options;
  reads_.clear();
  nextRead_ = 0;
  readOutstanding_ = false;
  gateRefused_ = false;
  ratesTried_.clear();
  linkRate_ = 0;
  buildId_ = 0;
  noAnswer_ = false;
  awaitingAnswer_ = false;
}

int PSConfig::Run(std::wstring_view portName, std::uint32_t baudRate, std::wstring_view psrPath,
                  platform::Event* stopEvent, RunObserver* observer, const RunOptions& options) {
  TraceScope scope(L"PSConfig");
  Trace& trace = Trace::Process();
  const RunEnd runEnd{*this};
  Begin(observer, options);

  bool stopped = false;
  if (const int loaded = LoadList(psrPath, stopEvent, observer, &stopped); loaded != kPsConfigDone || stopped) {
    return loaded;
  }
  if (options_.addressKey != nullptr) {
    std::vector<std::uint32_t> replaced;
    if (!PlaceAddressKey(list_, *options_.addressKey, &replaced)) {
      trace.Printf(KindImportant, kTraceCategory, L"Cannot hold the address key with the keys of %s", psrPath);
      return kPsConfigNotCompleted;
    }
    if (observer_ != nullptr) observer_->AddressKeyPlaced(replaced);
  }
  if (!ArrangeReads(list_, options_, &reads_, &firstWrite_)) {
    trace.Printf(KindImportant, kTraceCategory, L"Cannot hold the reads of the %u keys of %s", list_.count - 2,
                 psrPath);
    return kPsConfigNotCompleted;
  }
  // The reader has added the warm reset after the keys.
  trace.Printf(KindInfo, kTraceCategory, L"Add a Warm reset PDU");
  std::vector<std::uint32_t> rates{baudRate};
  rates.insert(rates.end(), options_.searchRates.begin(), options_.searchRates.end());
  return Drive(portName, rates, stopEvent, scope);
}

int PSConfig::Probe(std::wstring_view portName, std::span<const std::uint32_t> rates, platform::Event* stopEvent,
                    bool warmReset, RunObserver* observer) {
  TraceScope scope(L"PSConfig Probe");
  const RunEnd runEnd{*this};
  RunOptions options;
  // Without the reset the run ends once the build identifier is in, as a run that only reads.
  options.writeKeys = warmReset;
  Begin(observer, options);
  if (!list_.Allocate(warmReset ? 2 : 1)) return kPsConfigNotCompleted;
  list_.count = 1;
  list_.AddBuildIdRequest();
  if (warmReset) {
    ++list_.count;
    list_.AddWarmReset();
  }
  firstWrite_ = list_.count;
  return Drive(portName, rates, stopEvent, scope);
}

bool PSConfig::TryNextRate(std::wstring_view portName, BcspPacket* receivePacket) {
  Trace& trace = Trace::Process();
  while (nextRate_ < rates_.size()) {
    const std::uint32_t rate = rates_[nextRate_++];
    port_.Close();
    if (port_.InitialiseWindows(portName, rate) != 0) {
      trace.Printf(KindImportant, kTraceCategory, L"The port %s refuses %u baud", portName, rate);
      continue;
    }
    trace.Printf(KindImportant, kTraceCategory, L"Looking for the module at %u baud", rate);
    ratesTried_.push_back(rate);
    rateSince_ = platform_.clock->TickCount();
    link_.Initialise();
    link_.ArmReceive(receivePacket);
    if (observer_ != nullptr) observer_->LookingAt(rate);
    return true;
  }
  return false;
}

int PSConfig::Drive(std::wstring_view portName, std::span<const std::uint32_t> rates, platform::Event* stopEvent,
                    TraceScope& scope) {
  Trace& trace = Trace::Process();
  list_.position = 0;
  list_.allSent = false;
  bool stopped = false;
  rates_.clear();
  for (std::uint32_t rate : rates) {
    if (std::find(rates_.begin(), rates_.end(), rate) == rates_.end()) rates_.push_back(rate);
  }
  nextRate_ = 1;
  const std::uint32_t baudRate = rates_.empty() ? 0 : rates_.front();

  scope.Store(port_.InitialiseWindows(portName, baudRate));
  scope.Report();
  if (scope.Result() != 0) {
    trace.Printf(KindInfo, kTraceCategory, L"Unable to open %s error:%d", portName, scope.Result());
    if (observer_ != nullptr) observer_->PortFailed(scope.Result(), port_.LastError());
    return kPsConfigPortFailed;
  }
  ratesTried_.push_back(baudRate);
  rateSince_ = platform_.clock->TickCount();

  if (observer_ != nullptr) observer_->PortOpened();
  if (observer_ != nullptr) observer_->LookingAt(baudRate);
  BcspPacket receivePacket{kChannelBccmd, 1, 1, kBufferSize, receiveBuffer_.data()};
  BcspPacket sendPacket{};
  sendPacket.payload = sendBuffer_.data();
  link_.Initialise();
  link_.ArmReceive(&receivePacket);

  state_ = POLL_STATE;
  bool linkEstablished = false;
  bool resendAfterReset = false;
  std::uint32_t resetTimerStart = 0;
  std::uint8_t lastActivity = 0;
  std::uint8_t waitActivity = 0;  // what a paused pass took from the line, for the next poll
  std::uint8_t lastPause = 0;
  std::uint32_t now = 0;  // the clock, read once a poll
  for (;;) {
    if (stopEvent != nullptr && stopEvent->Wait(0)) {
      if (!stopped && observer_ != nullptr) observer_->Stopped();
      stopped = true;
      state_ = EXIT_STATE;
    }
    switch (state_) {
      case POLL_STATE:
        trace.Printf(KindInfo, kTraceCategory, L"POLL_STATE");
        now = platform_.clock->TickCount();
        if (!linkEstablished && now - rateSince_ >= kLinkUpMs) {
          trace.Printf(KindImportant, kTraceCategory, L"No link with the module in %u ms", kLinkUpMs);
          if (!TryNextRate(portName, &receivePacket)) {
            noAnswer_ = true;
            state_ = EXIT_STATE;
          }
          break;
        }
        if (awaitingAnswer_ && now - requestSentAt_ > kAnswerMs) {
          trace.Printf(KindImportant, kTraceCategory, L"The module has not answered a request in %u ms", kAnswerMs);
          noAnswer_ = true;
          state_ = EXIT_STATE;
          break;
        }
        if (readOutstanding_ && now - requestSentAt_ > kReadAnswerMs) {
          GiveUpRead();
          break;
        }
        if (list_.allSent) {
          if (resetTimerStart == 0) {
            resetTimerStart = now;
            if (resetTimerStart == 0) resetTimerStart = 1;  // 0 means "not started"
          } else if (now - resetTimerStart > kResetWaitMs) {
            trace.Printf(KindInfo, kTraceCategory, L"Timeout waiting for the Reset response");
            state_ = EXIT_STATE;
          }
        }
        if (waitActivity != 0) {
          // The paused pass took a frame that did something: it is handled before the link
          // sends again, as a poll's own activity would be.
          lastActivity = waitActivity;
          waitActivity = 0;
        } else {
          lastPause = link_.Poll(&lastActivity);
        }
        if (lastActivity != 0) {
          state_ = RECEIVED_STATE;
        } else if (lastPause != 0) {
          state_ = SLEEP_STATE;
        }
        break;
      case SENT_STATE:
        trace.Printf(KindInfo, kTraceCategory, L"SENT_STATE");
        if (!PassGate() || (list_.position >= list_.count && !options_.writeKeys)) {
          state_ = EXIT_STATE;  // stopped, or the last read is in
        } else if (list_.position < list_.count) {
          SendNextItem(&sendPacket);
        } else {
          state_ = POLL_STATE;  // the warm reset was answered: nothing is left to send
        }
        break;
      case RECEIVED_STATE:
        trace.Printf(KindInfo, kTraceCategory, L"RECEIVED_STATE");
        state_ = POLL_STATE;
        if ((lastActivity & PeerReset) != 0) {
          state_ = PEER_RESET_STATE;
          break;
        }
        if ((lastActivity & RxDone) != 0) HandleReceived(&receivePacket, receiveBuffer_.data());
        if ((lastActivity & TxDone) != 0) {
          if (!linkEstablished) {
            trace.Printf(KindInfo, kTraceCategory, L"Link is now Established");
            linkRate_ = ratesTried_.empty() ? 0 : ratesTried_.back();
            if (observer_ != nullptr) observer_->LinkEstablished();
            state_ = SENT_STATE;
          } else if (resendAfterReset) {
            // The module restarted while a request was out; it may never have seen it.
            link_.QueueSend(&sendPacket);
          }
          linkEstablished = true;
          resendAfterReset = false;
        }
        break;
      case PEER_RESET_STATE:
        trace.Printf(KindInfo, kTraceCategory, L"PEER_RESET_STATE");
        if (list_.allSent) {
          // A restart after the warm reset was sent proves that it was taken.
          trace.Printf(KindInfo, kTraceCategory, L"BCSP PEER RESET RECEIVED");
          state_ = EXIT_STATE;
        } else {
          resendAfterReset = linkEstablished;
          state_ = SLEEP_STATE;
        }
        break;
      case SLEEP_STATE:
        trace.Printf(KindInfo, kTraceCategory, L"SLEEP_STATE");
        state_ = POLL_STATE;
        // Only repeats need the pause's time: a frame the module has not had yet goes as soon as
        // the pause's polls have run.
        if (lastPause != 0 && !link_.NewFrameNext()) waitActivity = WaitForLine(stopEvent);
        break;
      case EXIT_STATE:
        trace.Printf(KindInfo, kTraceCategory, L"EXIT_STATE");
        ExitRun();
        if (noAnswer_) return kPsConfigNoAnswer;
        if (errorStatusSeen_ || keysLeftOut_) return kPsConfigNotCompleted;
        return stopped ? kPsConfigDone : ReadResult();
    }
  }
}

// One paused pass: kPauseWaitMs on the line, taking what arrives as it comes. It ends early
// when a frame has done something (a delivery, an acknowledgement, a dropped pause), on the stop
// request, or when the line stops bringing bytes; bytes that merely trickle in do not shorten
// it, so that a frame on its way does not hurry the pause that spaces re-sends. Returns the
// activity of what was taken. A device that cannot wait gets the plain sleep.
std::uint8_t PSConfig::WaitForLine(platform::Event* stopEvent) {
  const std::uint32_t start = platform_.clock->TickCount();
  for (;;) {
    switch (port_.WaitForInput(stopEvent, kPauseWaitMs)) {
      case platform::InputWait::kUnsupported:
        platform_.clock->Sleep(kPauseWaitMs);
        return 0;
      case platform::InputWait::kStopped:
      case platform::InputWait::kTimedOut:
        return 0;
      case platform::InputWait::kInput:
        break;
    }
    std::uint8_t activity = 0;
    const bool taken = link_.TakeInput(&activity);
    if (activity != 0 || !taken || link_.PauseCounter() == 0) return activity;
    if (platform_.clock->TickCount() - start >= kPauseWaitMs) return 0;
  }
}

void PSConfig::ExitRun() {
  list_.Release();
  port_.Close();
  Trace::Process().Printf(KindInfo, kTraceCategory, L"EXITING");
}

}  // namespace quillon
