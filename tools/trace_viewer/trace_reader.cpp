#include "tools/trace_viewer/trace_reader.h"

#include <array>
#include <cwchar>

#include "platform/text.h"
#include "trace/trace_layout.h"

namespace quillon::tools {
namespace layout = trace_layout;

TraceReader::~TraceReader() { Detach(); }

platform::ErrorCode TraceReader::Attach(std::uint32_t window, bool notify) {
  platform::ErrorCode error = platform::kSuccess;
  memory_ = platform_.kernel->CreateSharedMemory(layout::kMemoryName, layout::kMemorySize, &error);
  if (!memory_) return error;
  if (memory_->Size() < layout::kMemorySize) return platform::kErrorInvalidParameter;
  mutex_ = platform_.kernel->CreateNamedMutex(layout::kMutexName, &error);
  if (!mutex_) return error;
  started_ = platform_.kernel->CreateManualResetEvent(layout::kStartedEventName, false, &error);
  if (!started_) return error;
  if (mutex_->Wait(5000) != platform::WaitResult::kObtained) return platform::kErrorTimeout;
  std::byte* view = memory_->Data();
  layout::StoreWord(view, layout::kViewerWindow, window);
  layout::StoreWord(view, layout::kNotifyOff, notify && window != 0 ? 0 : 1);
  layout::StoreWord(view, layout::kLostCount, 0);
  layout::StoreWord(view, layout::kFirstLostTick, 0);
  layout::StoreWord(view, layout::kAreaStart, layout::kHeaderSize);
  layout::StoreWord(view, layout::kReadPos, layout::kHeaderSize);
  layout::StoreWord(view, layout::kWritePos, layout::kHeaderSize);
  layout::StoreWord(view, layout::kHeaderSize + layout::kNext, layout::kNothingFollows);
  mutex_->Release();
  started_->Set();
  return platform::kSuccess;
}

void TraceReader::Detach() {
  if (started_) started_->Reset();
  started_.reset();
  mutex_.reset();
  memory_.reset();
}

std::size_t TraceReader::ReadAvailable(const std::function<void(const TraceEntry&)>& take) {
  if (!memory_ || !mutex_) return 0;
  std::vector<TraceEntry> entries;
  if (mutex_->Wait(1000) != platform::WaitResult::kObtained) return 0;
  std::byte* view = memory_->Data();
  const std::uint32_t areaStart = layout::LoadWord(view, layout::kAreaStart);
  const std::uint32_t areaEnd = areaStart + layout::kAreaSize;
  std::uint32_t position = layout::LoadWord(view, layout::kReadPos);
  if (areaStart != layout::kHeaderSize || position < areaStart || position + 4 > areaEnd) {
    mutex_->Release();
    return 0;  // not a header this reader set up
  }
  // Bounded: the area holds at most this many records and wrap markers.
  for (std::uint32_t step = 0; step < layout::kAreaSize / 4; ++step) {
    const std::uint32_t next = layout::LoadWord(view, position + layout::kNext);
    if (next == layout::kNothingFollows) break;
    if (next == layout::kWrapMarker) {
      position = areaStart;
      continue;
    }
    const bool sound = next % 4 == 0 && next > position && next - position >= layout::kText &&
                       next - position <= layout::PaddedSize(layout::kMaxRecordSize) && next + 4 <= areaEnd;
    if (!sound) {
      position = layout::LoadWord(view, layout::kWritePos);
      resynchronised_ = true;
      break;
    }
    const std::byte* record = view + position;
    TraceEntry entry;
    entry.tick = layout::LoadWord(record, layout::kTick);
    entry.threadId = layout::LoadWord(record, layout::kThreadId);
    entry.category = layout::LoadWord(record, layout::kCategory);
    entry.kind = layout::LoadWord(record, layout::kKind);
    // The text ends at its terminator, or after the most characters a record holds.
    const std::size_t maxUnits = std::min<std::size_t>(layout::kMaxRecordChars, (next - position - layout::kText) / 2);
    std::size_t units = 0;
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(record + layout::kText);
    while (units < maxUnits && (bytes[2 * units] != 0 || bytes[2 * units + 1] != 0)) ++units;
    entry.text = platform::Utf16leToWide(std::span<const std::uint8_t>(bytes, 2 * units));
    entries.push_back(std::move(entry));
    position = next;
  }
  layout::StoreWord(view, layout::kReadPos, position);
  mutex_->Release();
  for (const TraceEntry& entry : entries) take(entry);
  return entries.size();
}

LostRecords TraceReader::TakeLost() {
  if (!memory_ || !mutex_ || mutex_->Wait(1000) != platform::WaitResult::kObtained) return {};
  std::byte* view = memory_->Data();
  const LostRecords lost{layout::LoadWord(view, layout::kLostCount), layout::LoadWord(view, layout::kFirstLostTick)};
  layout::StoreWord(view, layout::kLostCount, 0);
  mutex_->Release();
  return lost;
}

std::vector<std::pair<std::uint32_t, std::wstring>> RegisteredThreadNames(platform::Registry& registry) {
  std::vector<std::pair<std::uint32_t, std::wstring>> names;
  std::unique_ptr<platform::RegistryKey> threads;
  if (registry.OpenKey(layout::kThreadNamesKey, platform::RegistryAccess::kRead, &threads) != platform::kSuccess) {
    return names;
  }
  std::array<wchar_t, 260> keyName{};
  std::size_t length = 0;
  for (std::uint32_t index = 0; threads->EnumKey(index, keyName, &length) == platform::kSuccess; ++index) {
    std::unique_ptr<platform::RegistryKey> thread;
    const std::wstring path = std::wstring(layout::kThreadNamesKey) + L"\\" + keyName.data();
    if (registry.OpenKey(path, platform::RegistryAccess::kRead, &thread) != platform::kSuccess) continue;
    std::array<std::uint8_t, 2048> data{};
    std::size_t dataLength = 0;
    std::uint32_t type = 0;
    if (thread->QueryValue(L"Name", &type, data, &dataLength) != platform::kSuccess) continue;
    std::wstring name = platform::Utf16leToWide(std::span<const std::uint8_t>(data.data(), dataLength));
    while (!name.empty() && name.back() == L'\0') name.pop_back();
    names.emplace_back(static_cast<std::uint32_t>(std::wcstoul(keyName.data(), nullptr, 16)), std::move(name));
  }
  return names;
}

}  // namespace quillon::tools
