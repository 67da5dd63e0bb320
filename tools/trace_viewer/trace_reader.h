// The reader side of the trace: sets up the shared memory's header, signals that a viewer runs,
// and takes the records the writers leave, in order.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace quillon::tools {

struct TraceEntry {
  std::uint32_t tick = 0;
  std::uint32_t threadId = 0;
  std::uint32_t category = 0;
  std::uint32_t kind = 0;
  std::wstring text;
};

struct LostRecords {
  std::uint32_t count = 0;
  std::uint32_t firstTick = 0;
};

class TraceReader {
 public:
  explicit TraceReader(const platform::Platform& platform) : platform_(platform) {}
  ~TraceReader();
  TraceReader(const TraceReader&) = delete;
  TraceReader& operator=(const TraceReader&) = delete;

  // Opens the trace's objects, empties the ring, names `window` as the one to notify (0: none)
  // and signals the started event. kSuccess or the failing step's error.
  platform::ErrorCode Attach(std::uint32_t window, bool notify);
  // Resets the started event; the writers then leave the ring alone.
  void Detach();

  // Hands every complete record to `take`, oldest first, and advances the read position. Returns
  // the number of records read. A damaged chain is skipped up to the writers' position.
  std::size_t ReadAvailable(const std::function<void(const TraceEntry&)>& take);
  // The records lost since the last call, and clears the count.
  LostRecords TakeLost();
  // Whether a damaged chain was skipped since the last call; clears the mark.
  bool TakeResynchronised() { return std::exchange(resynchronised_, false); }

 private:
  const platform::Platform& platform_;
  std::unique_ptr<platform::SharedMemory> memory_;
  std::unique_ptr<platform::NamedMutex> mutex_;
  std::unique_ptr<platform::Event> started_;
  bool resynchronised_ = false;
};

// The thread names registered while no viewer ran: (thread identifier, name) pairs.
std::vector<std::pair<std::uint32_t, std::wstring>> RegisteredThreadNames(platform::Registry& registry);

}  // namespace quillon::tools
