#include "psconfig/message_run.h"

#include <algorithm>
#include <array>

#include "psconfig/address_key.h"
#include "psconfig/bccmd.h"
#include "psconfig/list_loading.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {

MessageRun::Answer MessageRun::Exchange(const PsKeyItem& item, platform::Event* stop, BccmdMessage* answer,
                                        std::vector<std::uint8_t>* bytes) {
  Trace& trace = Trace::Process();
  std::array<std::uint8_t, kLongestBccmdMessage> request{};
  const std::size_t size = EncodeBccmdRequest(item, request);
  const auto commands = BccmdCommands(std::span(request.data(), size));
  for (std::uint32_t attempt = 1; attempt <= kTries; ++attempt) {
    if (attempt > 1) {
      trace.Printf(KindImportant, kTraceCategory, L"No answer in %u ms: request %u sent again", kAnswerMs,
                   static_cast<std::uint32_t>(item.sequence));
    }
    for (const auto& command : commands) {
      if (const platform::ErrorCode error = port_.SendCommand(command); error != platform::kSuccess) {
        sendError_ = error;
        return Answer::kSendFailed;
      }
    }
    // The warm reset restarts the module instead of being answered.
    if (item.varId == kVarIdWarmReset) return Answer::kAnswered;
    const std::uint32_t sentAt = platform_.clock->TickCount();
    for (;;) {
      const std::uint32_t waited = platform_.clock->TickCount() - sentAt;
      if (waited >= kAnswerMs) break;
      std::vector<std::uint8_t> event;
      switch (port_.NextEvent(&event, stop, kAnswerMs - waited)) {
        case platform::InputWait::kStopped:
          return Answer::kStopped;
        case platform::InputWait::kInput:
          break;
        default:
          continue;
      }
      if (!assembler_.Take(event, bytes)) continue;
      *answer = DecodeBccmdMessage(*bytes);
      // An answer to an earlier sending of this request carries its sequence number too, and is
      // as good; an answer to any other request is not this one's.
      if (answer->firstByte != kBccmdGetResponse || answer->sequence != item.sequence || !answer->hasVarId ||
          answer->varId != item.varId) {
        ++otherSequence_;
        trace.Printf(KindInfo, kTraceCategory, L"|_WARNING: COMMAND DOES NOT MATCH QUEUE");
        continue;
      }
      return Answer::kAnswered;
    }
  }
  return Answer::kNone;
}

int MessageRun::Run(std::wstring_view portName, std::uint32_t baudRate, std::wstring_view psrPath,
                    platform::Event* stopEvent, RunObserver* observer, const RunOptions& options) {
  TraceScope scope(L"PSConfig HCI");
  Trace& trace = Trace::Process();
  struct Release {
    PsKeyList& list;
    ~Release() { list.Release(); }
  } release{list_};
  assembler_ = BccmdEventAssembler{};
  otherSequence_ = 0;
  linkRate_ = 0;
  buildId_ = 0;
  ratesTried_.clear();
  reads_.clear();
  sendError_ = platform::kSuccess;

  bool stopped = false, keysLeftOut = false;
  if (const int loaded = LoadProgrammingList(platform_, list_, psrPath, stopEvent, observer, &stopped, &keysLeftOut);
      loaded != kPsConfigDone || stopped) {
    return loaded;
  }
  if (options.addressKey != nullptr) {
    std::vector<std::uint32_t> replaced;
    if (!PlaceAddressKey(list_, *options.addressKey, &replaced)) return kPsConfigNotCompleted;
    if (observer != nullptr) observer->AddressKeyPlaced(replaced);
  }
  std::uint32_t firstWrite = 0;
  if (!ArrangeReads(list_, options, &reads_, &firstWrite)) return kPsConfigNotCompleted;
  if (const platform::ErrorCode error = port_.Open(portName, baudRate); error != platform::kSuccess) {
    trace.Printf(KindImportant, kTraceCategory, L"Unable to open %s error:%d", portName, error);
    if (observer != nullptr) observer->PortFailed(kPsConfigPortFailed, error);
    return kPsConfigPortFailed;
  }
  if (observer != nullptr) {
    observer->PortOpened();
    observer->LookingAt(baudRate);
  }
  ratesTried_.push_back(baudRate);

  bool errorStatus = false;
  std::size_t nextRead = 0;
  for (std::uint32_t index = 0; index < list_.count; ++index) {
    if (stopEvent != nullptr && stopEvent->Wait(0)) {
      if (observer != nullptr) observer->Stopped();
      return kPsConfigDone;
    }
    const PsKeyItem& item = list_.Item(index);
    if (index == firstWrite && options.readBeforeWriting && options.gate != nullptr &&
        !options.gate->ReadsDone(std::span<const KeyRead>(reads_.data(), nextRead))) {
      trace.Printf(KindImportant, kTraceCategory, L"No key written: the reads before writing were not kept");
      return kPsConfigReadFailed;
    }
    const bool isRead = item.type == kBccmdGetRequest && item.varId == kVarIdPsKey;
    if (observer != nullptr) observer->RequestSent(index, list_.count, item);
    BccmdMessage answer;
    std::vector<std::uint8_t> bytes;
    switch (Exchange(item, stopEvent, &answer, &bytes)) {
      case Answer::kStopped:
        if (observer != nullptr) observer->Stopped();
        return kPsConfigDone;
      case Answer::kSendFailed:
        trace.Printf(KindImportant, kTraceCategory, L"The request cannot be sent, error:%d", sendError_);
        if (observer != nullptr) observer->PortFailed(kPsConfigPortFailed, sendError_);
        return kPsConfigPortFailed;
      case Answer::kNone:
        if (isRead && nextRead < reads_.size()) {
          trace.Printf(KindImportant, kTraceCategory, L"Key &%04x read: no answer", item.psKey);
          reads_[nextRead++].outcome = ReadOutcome::kNoAnswer;
          continue;
        }
        trace.Printf(KindImportant, kTraceCategory, L"The module has not answered request %u, sent %u times",
                     static_cast<std::uint32_t>(item.sequence), kTries);
        return kPsConfigNoAnswer;
      case Answer::kAnswered:
        break;
    }
    if (item.varId == kVarIdWarmReset) break;  // sent: the run ends there
    if (linkRate_ == 0) {
      linkRate_ = baudRate;
      if (observer != nullptr) observer->LinkEstablished();
    }
    if (isRead) {
      if (nextRead >= reads_.size()) continue;
      KeyRead& read = reads_[nextRead++];
      read.status = answer.status;
      read.answeredKey = answer.psKey;
      if (answer.psKey != item.psKey) {
        read.outcome = ReadOutcome::kOtherKey;
      } else if (answer.status != 0) {
        read.outcome = ReadOutcome::kRefused;
      } else {
        read.outcome = ReadOutcome::kRead;
        const std::size_t words = std::min<std::size_t>(answer.values.size() / 2, item.valueCount);
        read.values.resize(words);
        for (std::size_t i = 0; i < words; ++i) {
          read.values[i] = static_cast<std::uint16_t>(answer.values[2 * i] | answer.values[2 * i + 1] << 8);
        }
      }
      continue;
    }
    if (item.varId == kVarIdBuildId && answer.status == 0) buildId_ = answer.psKey;
    if (answer.status != 0) {
      errorStatus = true;
      trace.Printf(KindImportant, kTraceCategory, L"Request 0x%04x (key &%04x) refused by the module, status %d",
                   item.varId, item.psKey, answer.status);
    }
    if (observer != nullptr) observer->RequestCompleted(index, answer.status);
  }
  const HciEventCounts& counts = assembler_.Counts();
  trace.Printf(KindInfo, kTraceCategory,
               L"Left out: %u other events, %u other channels, %u out of order, %u bad lengths, "
               L"%u other requests' answers, %u other packets",
               counts.otherEvents, counts.otherChannel, counts.outOfOrder, counts.badLength + counts.tooLong,
               otherSequence_, port_.PacketsIgnored());
  if (errorStatus || keysLeftOut) return kPsConfigNotCompleted;
  for (const KeyRead& read : reads_) {
    if (read.phase == ReadPhase::kAfterWriting && !read.Verified()) return kPsConfigVerifyFailed;
    if (!options.writeKeys && read.outcome != ReadOutcome::kRead) return kPsConfigReadFailed;
  }
  return kPsConfigDone;
}

}  // namespace quillon
