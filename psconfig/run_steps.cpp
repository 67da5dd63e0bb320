// The BCCMD steps of a run: encode and queue the next request, examine a delivered packet.
#include <algorithm>
#include <array>

#include "psconfig/programming_run.h"
#include "trace/trace.h"

namespace quillon {
namespace {

constexpr std::size_t kHexLineChars = 260;

}  // namespace

void PSConfig::TraceHex(const std::uint8_t* bytes, std::size_t count) {
  std::array<wchar_t, kHexLineChars + 4> line{};
  const std::size_t length = FormatHexLine(std::span(bytes, count), true, kHexLineChars, line);
  Trace::Process().Printf(KindInfo, kTraceCategory, L"%s", std::wstring_view(line.data(), length));
}

void PSConfig::SendNextItem(BcspPacket* sendPacket) {
  Trace& trace = Trace::Process();
  trace.Printf(KindInfo, kTraceCategory, L"WRITING DATA UNIT");
  trace.Printf(KindInfo, kTraceCategory, L"------------------");
  const PsKeyItem& item = list_.Item(list_.position);
  const std::size_t size = EncodeBccmdRequest(item, sendBuffer_);
  sendPacket->channel = kChannelBccmd;
  sendPacket->length = static_cast<std::uint16_t>(size);
  sendPacket->reliable = 1;
  sendPacket->useCrc = 1;
  sendPacket->payload = sendBuffer_.data();
  expectedVarId_ = item.varId;
  readOutstanding_ = item.type == kBccmdGetRequest && item.varId == kVarIdPsKey;
  // The warm reset is not answered: the module restarts instead.
  awaitingAnswer_ = item.varId != kVarIdWarmReset;
  requestSentAt_ = platform_.clock->TickCount();
  state_ = RECEIVED_STATE;
  link_.QueueSend(sendPacket);
  if (observer_ != nullptr) observer_->RequestSent(list_.position, list_.count, item);
  if (++list_.position == list_.count) list_.allSent = true;
  trace.Printf(KindInfo, kTraceCategory, L"BCCMD COMMAND SENT:");
  std::array<wchar_t, kHexLineChars + 4> line{};
  const std::size_t length = FormatHexLine(std::span(sendBuffer_.data(), size), false, kHexLineChars, line);
  trace.Printf(KindInfo, kTraceCategory, L"%s", std::wstring_view(line.data(), length));
}

// A refusal completes its request like a success (the next one is still sent), but the run
// does not end as a success.
void PSConfig::CompleteRequest(std::uint16_t status) {
  Trace& trace = Trace::Process();
  awaitingAnswer_ = false;
  const std::uint32_t index = list_.position == 0 ? 0 : list_.position - 1;
  if (status != 0) {
    errorStatusSeen_ = true;
    const PsKeyItem& item = list_.Item(index);
    if (item.varId == kVarIdPsKey) {
      trace.Printf(KindImportant, kTraceCategory, L"Key &%04x refused by the module, status %d", item.psKey, status);
    } else {
      trace.Printf(KindImportant, kTraceCategory, L"Request 0x%04x refused by the module, status %d", item.varId,
                   status);
    }
  }
  if (observer_ != nullptr) observer_->RequestCompleted(index, status);
  state_ = SENT_STATE;
}

void PSConfig::HandleReceived(BcspPacket* receivePacket, std::uint8_t* buffer) {
  Trace& trace = Trace::Process();
  const std::size_t length = std::min<std::size_t>(receivePacket->length, kBufferSize);
  const BccmdMessage message = DecodeBccmdMessage(std::span<const std::uint8_t>(buffer, length));
  if (receivePacket->channel == kChannelBccmd) {
    switch (message.firstByte) {
      case kBccmdGetResponse:
        trace.Printf(KindInfo, kTraceCategory, L"BCCMD COMMAND RECEIVED:");
        TraceHex(buffer, length);
        if (message.hasVarId && message.varId == expectedVarId_ && readOutstanding_) {
          CompleteRead(message);
        } else if (message.hasVarId && message.varId == expectedVarId_) {
          trace.Printf(KindInfo, kTraceCategory, L"COMMAND COMPLETE");
          if (message.varId == kVarIdBuildId && message.status == 0) buildId_ = message.psKey;
          CompleteRequest(message.status);
        } else {
          trace.Printf(KindInfo, kTraceCategory, L"|_WARNING: COMMAND DOES NOT MATCH QUEUE");
        }
        break;
      case kHciDisconnectionComplete:
        trace.Printf(KindInfo, kTraceCategory, L"DISCONNECTION COMPLETE");
        TraceHex(buffer, length);
        break;
      case kHciCommandStatus:
        console_.Write("COMMAND STATUS: ");
        TraceHex(buffer, length);
        break;
      case kHciHardwareError:
        trace.Printf(KindInfo, kTraceCategory, L"|_WARNING: HARDWARE ERROR: ");
        TraceHex(buffer, length);
        break;
      default:
        break;
    }
  } else if (receivePacket->channel == kChannelHci && message.firstByte == kHciCommandStatus) {
    // The module's word that every request is in: it ends the run only while the warm reset is
    // the one item still unsent.
    if (list_.count > 0 && list_.position == list_.count - 1) {
      trace.Printf(KindInfo, kTraceCategory, L"...All the commands are sent");
      state_ = EXIT_STATE;
    }
  }
  receivePacket->length = kBufferSize;
  std::fill_n(buffer, kBufferSize, std::uint8_t{0});
  link_.ArmReceive(receivePacket);
}

}  // namespace quillon
