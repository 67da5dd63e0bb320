// The BCCMD requests and responses of a programming run.
#include <algorithm>
#include <array>

#include "psconfig/psconfig.h"
#include "trace/trace.h"

namespace quillon {
namespace {

constexpr std::size_t kHexLineChars = 260;

std::uint16_t WordAt(const std::uint8_t* bytes, std::size_t offset) {
  return static_cast<std::uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}

// Appends "%02x" (with a blank after each when `spaced`) until the text reaches 260 characters.
std::size_t HexLine(const std::uint8_t* bytes, std::size_t count, bool spaced, std::span<wchar_t> out) {
  static constexpr wchar_t kDigits[] = L"0123456789abcdef";
  std::size_t used = 0;
  for (std::size_t i = 0; i < count && used < kHexLineChars && used + 3 < out.size(); ++i) {
    out[used++] = kDigits[bytes[i] >> 4];
    out[used++] = kDigits[bytes[i] & 0x0F];
    if (spaced) out[used++] = L' ';
  }
  out[used] = L'\0';
  return used;
}

}  // namespace

std::size_t EncodeBccmdRequest(const PsKeyItem& item, std::span<std::uint8_t> out) {
  const std::size_t values = std::min<std::size_t>(item.valueCount, PsKeyItem::kMaxValues);
  const std::size_t size = 2 * (kBccmdHeaderWords + values);
  if (out.size() < size) return 0;
  const std::uint16_t header[kBccmdHeaderWords] = {item.type,   item.length, item.sequence, item.varId,
                                                   item.status, item.psKey,  item.valueCount, item.stores};
  std::size_t at = 0;
  auto put = [&](std::uint16_t word) {
    out[at++] = static_cast<std::uint8_t>(word & 0xFF);
    out[at++] = static_cast<std::uint8_t>(word >> 8);
  };
  for (std::uint16_t word : header) put(word);
  for (std::size_t i = 0; i < values; ++i) put(item.values[i]);
  return size;
}

void PSConfig::TraceHex(const std::uint8_t* bytes, std::size_t count) {
  std::array<wchar_t, kHexLineChars + 4> line;
  const std::size_t length = HexLine(bytes, count, true, line);
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
  expectedVarId_ = WordAt(sendBuffer_.data(), 6);
  state_ = RECEIVED_STATE;
  link_.QueueSend(sendPacket);
  if (observer_ != nullptr) observer_->RequestSent(list_.position, list_.count, item);
  if (++list_.position == list_.count) list_.allSent = true;
  trace.Printf(KindInfo, kTraceCategory, L"BCCMD COMMAND SENT:");
  std::array<wchar_t, kHexLineChars + 4> line;
  const std::size_t length = HexLine(sendBuffer_.data(), size, false, line);
  trace.Printf(KindInfo, kTraceCategory, L"%s", std::wstring_view(line.data(), length));
}

void PSConfig::HandleReceived(BcspPacket* receivePacket, std::uint8_t* buffer) {
  Trace& trace = Trace::Process();
  const std::size_t length = std::min<std::size_t>(receivePacket->length, kBufferSize);
  if (receivePacket->channel == kChannelBccmd) {
    switch (buffer[0]) {
      case 1:
        trace.Printf(KindInfo, kTraceCategory, L"BCCMD COMMAND RECEIVED:");
        TraceHex(buffer, length);
        if (length >= 8 && WordAt(buffer, 6) == expectedVarId_) {
          trace.Printf(KindInfo, kTraceCategory, L"COMMAND COMPLETE");
          // A refusal completes its request like a success (the next one is still sent), but
          // the run does not end as a success.
          const std::uint16_t status = length >= 10 ? WordAt(buffer, 8) : 0;
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
        } else {
          trace.Printf(KindInfo, kTraceCategory, L"|_WARNING: COMMAND DOES NOT MATCH QUEUE");
        }
        break;
      case 5:
        trace.Printf(KindInfo, kTraceCategory, L"DISCONNECTION COMPLETE");
        TraceHex(buffer, length);
        break;
      case 15:
        console_.Write("COMMAND STATUS: ");
        TraceHex(buffer, length);
        break;
      case 16:
        trace.Printf(KindInfo, kTraceCategory, L"|_WARNING: HARDWARE ERROR: ");
        TraceHex(buffer, length);
        break;
      default:
        break;
    }
  } else if (receivePacket->channel == kChannelHci && buffer[0] == 0x0F) {
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
