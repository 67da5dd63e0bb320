#include "trace/trace.h"

#include "platform/text.h"
#include "trace/trace_layout.h"

namespace quillon {
namespace layout = trace_layout;

namespace {

// "SOFTWARE\Norvale\LoupeTrace\ThreadNames\%08x" without allocating.
struct ThreadKeyPath {
  explicit ThreadKeyPath(std::uint32_t threadId) {
    length = FormatTo(std::span<wchar_t>(text), L"%s\\%08x", layout::kThreadNamesKey, threadId);
  }
  std::wstring_view View() const { return {text.data(), length}; }
  std::array<wchar_t, 64> text{};
  std::size_t length = 0;
};

const platform::Platform kNoPlatform{};

std::size_t Utf16Units(std::wstring_view text) {
  if constexpr (sizeof(wchar_t) == 2) {
    return text.size();
  } else {
    std::size_t units = 0;
    for (wchar_t c : text) {
      // NOLINTNEXTLINE(bugprone-signed-char-misuse): a wchar_t holds a code point, not a char
      const std::uint32_t codePoint = static_cast<std::uint32_t>(c);
      units += codePoint >= 0x10000 ? 2 : 1;
    }
    return units;
  }
}

}  // namespace

Trace::Trace() : Trace(kNoPlatform) {}

Trace::Trace(const platform::Platform& platform) : platform_(platform) {}

Trace::~Trace() { Shutdown(); }

void Trace::Initialise() {
  if (memory_ || platform_.kernel == nullptr) return;
  platform::ErrorCode error = platform::kSuccess;
  memory_ = platform_.kernel->CreateSharedMemory(layout::kMemoryName, layout::kMemorySize, &error);
  if (memory_) {
    if (memory_->AlreadyExisted()) firstCreator_ = false;
    if (view_ == nullptr && memory_->Size() >= layout::kMemorySize) view_ = memory_->Data();
    if (!mutex_) mutex_ = platform_.kernel->CreateNamedMutex(layout::kMutexName, &error);
    if (!startedEvent_)
      startedEvent_ = platform_.kernel->CreateManualResetEvent(layout::kStartedEventName, false, &error);
  }
  if (firstCreator_) (void)platform_.registry->DeleteTree(layout::kRegistryKey);
}

void Trace::Shutdown() {
  startedEvent_.reset();
  view_ = nullptr;
  memory_.reset();
  mutex_.reset();
}

// The calling thread's identifier is asked for only by the steps that use it: on Linux each
// asking is a system call, and a line without a viewer uses it only to name or forget a thread.
// The started event is tested on every line, by a test that may see the viewer's set a moment
// late (Event::TestOften; under Wine asking the system is a trip to its server, once a line).
// The viewer only sets and resets the event, from its own process: nothing orders its set
// before a line tested in that moment, which it could not tell from a line tested just before
// the set. A reset is seen at once, and a line goes into the ring only when the system has just
// said that the event is set.
void Trace::Write(TraceKind kind, std::uint32_t category, std::wstring_view text) {
  if (platform_.kernel == nullptr) return;
  if (kind == KindThreadEnd) ForgetThreadName(platform_.kernel->CurrentThreadId());
  // Without the started event nobody can say whether a viewer has set up the header, so the
  // ring is left alone, as when no viewer runs.
  if (!startedEvent_ || !startedEvent_->TestOften()) {
    if (kind == KindThreadName) RegisterThreadName(platform_.kernel->CurrentThreadId(), text);
    return;
  }
  if (!CanWrite()) return;
  if (mutex_->Wait(kMutexWaitMs) == platform::WaitResult::kObtained) {
    PlaceRecord(kind, category, text);
    mutex_->Release();
  }
  if (layout::LoadWord(view_, layout::kNotifyOff) == 0) {
    platform_.messages->Post(layout::LoadWord(view_, layout::kViewerWindow),
                             platform::WindowMessage{layout::kTraceDataMessage, 0, 0});
  }
}

void Trace::PlaceRecord(TraceKind kind, std::uint32_t category, std::wstring_view text) {
  const std::uint32_t size = layout::RecordSize(Utf16Units(text));
  const std::uint32_t padded = layout::PaddedSize(size);
  const std::uint32_t writePos = layout::LoadWord(view_, layout::kWritePos);
  const layout::Placement room = layout::FindRoom(layout::LoadWord(view_, layout::kAreaStart),
                                                  layout::LoadWord(view_, layout::kReadPos), writePos, padded,
                                                  static_cast<std::uint32_t>(memory_->Size()));
  if (!room.fits) {
    const std::uint32_t lost = layout::LoadWord(view_, layout::kLostCount) + 1;
    layout::StoreWord(view_, layout::kLostCount, lost);
    if (lost == 1) layout::StoreWord(view_, layout::kFirstLostTick, platform_.clock->TickCount());
    return;
  }
  if (room.wraps) layout::StoreWord(view_, writePos + layout::kNext, layout::kWrapMarker);
  std::byte* record = view_ + room.at;
  layout::StoreWord(record, layout::kTick, platform_.clock->TickCount());
  layout::StoreWord(record, layout::kThreadId, platform_.kernel->CurrentThreadId());
  layout::StoreWord(record, layout::kKind, kind);
  layout::StoreWord(record, layout::kCategory, category);
  // S - 22 bytes of text: the whole text and its terminator, or the first 116 characters.
  std::array<std::uint8_t, layout::kMaxRecordSize - 22> bytes{};
  const std::size_t textBytes = size - 22;
  platform::WideToUtf16leInto(text, std::span<std::uint8_t>(bytes.data(), textBytes));
  std::memcpy(record + layout::kText, bytes.data(), textBytes);
  const std::uint32_t next = room.at + padded;
  layout::StoreWord(record, layout::kNext, next);
  layout::StoreWord(view_, next + layout::kNext, layout::kNothingFollows);
  layout::StoreWord(view_, layout::kWritePos, next);
}

void Trace::RegisterThreadName(std::uint32_t threadId, std::wstring_view name) {
  std::unique_ptr<platform::RegistryKey> key;
  if (platform_.registry->CreateKey(ThreadKeyPath(threadId).View(), &key) != platform::kSuccess) return;
  std::array<std::uint8_t, 2 * kFormatBufferChars + 2> data{};
  // The name with its terminating zero; the buffer's zeros provide it.
  const std::size_t length = platform::WideToUtf16leInto(name, std::span<std::uint8_t>(data.data(), data.size() - 2));
  (void)key->SetValue(L"Name", platform::kRegSz, std::span<const std::uint8_t>(data.data(), length + 2));
}

void Trace::ForgetThreadName(std::uint32_t threadId) {
  (void)platform_.registry->DeleteTree(ThreadKeyPath(threadId).View());
}

}  // namespace quillon
