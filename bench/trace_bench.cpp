// The cost of one trace message: with a viewer attached (formatted, placed in the ring, the
// viewer notified) and with none. Reports the allocations per message too (target: none).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/posix/clock_posix.h"
#include "platform/posix/kernel_objects_posix.h"
#include "platform/posix/messages_posix.h"
#include "platform/posix/registry_file.h"
#include "tests/support/temp_device.h"
#include "tools/trace_viewer/trace_reader.h"
#include "trace/trace.h"

namespace {
std::atomic<long long> allocations{0};
}  // namespace

void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
  throw std::bad_alloc();
}
void operator delete(void* memory) noexcept { std::free(memory); }
void operator delete(void* memory, std::size_t) noexcept { std::free(memory); }

namespace quillon {
namespace {

struct BenchDevice {
  testing::TempDevice device;
  platform::posix::PosixClock clock;
  platform::posix::PosixKernelObjects kernel{device.Root().ObjectPrefix()};
  platform::posix::RegistryFile registry{device.Root()};
  platform::posix::PosixWindowMessages messages{device.Root().ObjectPrefix()};
  platform::Platform roles{&clock, &kernel, nullptr, nullptr, &registry, nullptr, nullptr, &messages};
};

// One message as the programming run writes them; counts the allocations it makes.
void WriteOne(Trace& trace, std::int64_t index, long long* counted) {
  const long long before = allocations.load(std::memory_order_relaxed);
  trace.Printf(KindInfo, kTraceCategory, L"Send key %d of %d: &%04x", static_cast<int>(index), 1000, 0x0191);
  *counted += allocations.load(std::memory_order_relaxed) - before;
}

void ReportAllocations(benchmark::State& state, long long counted, std::int64_t done) {
  state.counters["allocations/message"] = benchmark::Counter(static_cast<double>(counted) / static_cast<double>(done));
}

void Drain(tools::TraceReader& reader, platform::MessageQueue* queue) {
  reader.ReadAvailable([](const tools::TraceEntry&) {});
  platform::WindowMessage message;
  while (queue != nullptr && queue->Wait(0, &message)) {
  }
}

void TraceWithViewer(benchmark::State& state) {
  BenchDevice bench;
  Trace trace(bench.roles);
  trace.Initialise();
  platform::ErrorCode error = platform::kSuccess;
  auto queue = bench.messages.CreateQueue(&error);
  tools::TraceReader reader(bench.roles);
  if (!queue || reader.Attach(queue->WindowId(), true) != platform::kSuccess) {
    state.SkipWithError("cannot attach a viewer");
    return;
  }
  trace.Printf(KindInfo, kTraceCategory, L"warm-up %d", 0);  // opens the viewer's queue once
  Drain(reader, queue.get());
  long long counted = 0;
  std::int64_t done = 0;
  for (auto _ : state) {
    WriteOne(trace, done, &counted);
    if (++done % 8 == 0) {  // the viewer keeps up, as it does in use
      state.PauseTiming();
      Drain(reader, queue.get());
      state.ResumeTiming();
    }
  }
  ReportAllocations(state, counted, done);
}
BENCHMARK(TraceWithViewer);

void TraceWithoutViewer(benchmark::State& state) {
  BenchDevice bench;
  Trace trace(bench.roles);
  trace.Initialise();
  long long counted = 0;
  std::int64_t done = 0;
  for (auto _ : state) {
    WriteOne(trace, done++, &counted);
  }
  ReportAllocations(state, counted, done);
}
BENCHMARK(TraceWithoutViewer);

}  // namespace
}  // namespace quillon

BENCHMARK_MAIN();
