// The diagnostic trace: short wide-text messages handed to an external trace viewer through
// a ring of records in shared memory (see trace_layout.h).
//
// Writers never wait for the viewer: a message that finds no room is counted lost, one that
// cannot get the mutex within 300 ms is dropped. With no viewer running only thread names are
// kept, in the registry, so that a viewer started later can still name the threads.
//
// Thread-safe: any thread may write; the named mutex serialises writers, also across processes.
// Initialise and Shutdown are called once each, before and after all writing.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>

#include "platform/platform.h"
#include "platform/process_wide.h"
#include "trace/format.h"
#include "trace/trace_kind.h"

namespace quillon {

// Receives every message of this process as it is written, whether or not a viewer runs, for
// programs that show their own trace (such as psconfig --trace). Called on the writing thread.
class TraceEcho {
 public:
  virtual ~TraceEcho() = default;
  virtual void Echo(TraceKind kind, std::wstring_view text) = 0;
};

class Trace {
 public:
  static constexpr std::size_t kFormatBufferChars = 1024;
  static constexpr std::uint32_t kMutexWaitMs = 300;

  // A trace on no platform: it writes nowhere but to its echo. The process's trace until a
  // program installs its own.
  Trace();
  // Writes through `platform`'s kernel objects, registry, clock and window messages, which
  // outlive it; nothing is opened before Initialise.
  explicit Trace(const platform::Platform& platform);
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  // The process's trace: the one that the program's main (or a test) installed with
  // ProcessWide<Trace>::Scoped, else one that writes nowhere.
  static Trace& Process() { return platform::ProcessWide<Trace>::Get(); }

  void Initialise();
  void Shutdown();

  template <typename... Args>
  void Printf(TraceKind kind, std::uint32_t category, WideFormat<Args...> format, const Args&... args) {
    TraceEcho* echo = echo_.load();
    if (!CanWrite() && echo == nullptr) return;
    // Not cleared: a trace line goes out on every pass of a run, and FormatTo writes every
    // character it counts in its length.
    std::array<wchar_t, kFormatBufferChars> text;  // NOLINT(cppcoreguidelines-pro-type-member-init)
    const std::size_t length = FormatTo(std::span<wchar_t>(text), format, args...);
    if (length == 0) return;
    if (echo != nullptr) echo->Echo(kind, std::wstring_view(text.data(), length));
    if (CanWrite()) Write(kind, category, std::wstring_view(text.data(), length));
  }

  void Write(TraceKind kind, std::uint32_t category, std::wstring_view text);

  // Whether this program created the shared memory (and so cleared the old thread names).
  bool FirstCreator() const { return firstCreator_; }

  // Set before the threads that write start, cleared after they end.
  void SetEcho(TraceEcho* echo) { echo_.store(echo); }

 private:
  bool CanWrite() const { return view_ != nullptr && mutex_ != nullptr; }
  void RegisterThreadName(std::uint32_t threadId, std::wstring_view name);
  void ForgetThreadName(std::uint32_t threadId);
  void PlaceRecord(TraceKind kind, std::uint32_t category, std::wstring_view text);

  const platform::Platform& platform_;
  std::unique_ptr<platform::Event> startedEvent_;
  std::unique_ptr<platform::SharedMemory> memory_;
  std::unique_ptr<platform::NamedMutex> mutex_;
  std::byte* view_ = nullptr;
  bool firstCreator_ = true;
  std::atomic<TraceEcho*> echo_{nullptr};
};

}  // namespace quillon
