// The bytes a programming run puts on the line, and their order, whether the port gathers them
// into writes or writes each one as the link hands it over: on a scripted line that brings the
// link up, sends frames the link acknowledges and never answers the request (which is re-sent),
// with the run stopped at every read (so that frames are cut at every place) and with a line
// that refuses a frame from its middle on.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "psconfig/psconfig.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "trace/trace.h"

namespace quillon {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Line {
  Bytes taken;  // what the line took, in order
  std::uint64_t lost = 0;
  std::vector<std::string> writes;
  int reads = 0;
};

struct Trouble {
  int stopAtRead = 0;
  std::size_t refuseFrom = 0;
  std::size_t refuseTo = 0;
};

Bytes Frame(const BcspHeaderBytes& header, std::span<const std::uint8_t> payload) {
  return BcspWireFrame(header, payload);
}

Line RunOn(std::size_t gatherLimit, const Trouble& trouble) {
  testing::FakePlatform fake;
  testing::SerialScript& script = fake.serialScript;
  platform::ErrorCode error = platform::kSuccess;
  const auto stop = fake.kernel.CreateManualResetEvent(L"", false, &error);
  fake.files.Put(L"keys.psr", "&0001 = 00c0 dbdb\n");
  Bytes linkUp = Frame(kLinkHeader, kLinkMessages[kLinkSyncResp]);
  const Bytes confResp = Frame(kLinkHeader, kLinkMessages[kLinkConfResp]);
  linkUp.insert(linkUp.end(), confResp.begin(), confResp.end());
  script.arrivals[1] = linkUp;
  // Reliable frames of the module's own, each acknowledged; neither answers the request.
  script.arrivals[3] = Frame(BcspEncodeHeader(0, 0, true, true, kChannelHci, 2), Bytes{0x01, 0x02});
  script.arrivals[40] = Frame(BcspEncodeHeader(1, 0, true, true, kChannelHci, 3), Bytes{0xC0, 0xDB, 0x03});
  script.stopAtWait = 90;
  script.stop = stop.get();
  script.stopAtRead = trouble.stopAtRead;
  script.refuseFrom = trouble.refuseFrom;
  script.refuseTo = trouble.refuseTo;

  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  testing::RecordingConsole console;
  PsKeyList list;
  SerialPort port{fake.roles, gatherLimit};
  BcspLink link{port, fake.clock, console};
  PSConfig run{fake.roles, list, link, port, console};
  EXPECT_EQ(run.Run(L"COM1:", 115200, L"keys.psr", stop.get()), kPsConfigDone);
  Line line{script.written, port.BytesLost(), {}, script.readCalls};
  std::copy_if(script.calls.begin(), script.calls.end(), std::back_inserter(line.writes),
               [](const std::string& call) { return call.starts_with("write "); });
  return line;
}

constexpr std::size_t kEachByte = 1;
constexpr std::size_t kGathered = SerialPort::kOutputBufferSize;

TEST(GatheredWrites, TheLineCarriesTheSameBytesAsWithOneWriteAByte) {
  const Line alone = RunOn(kEachByte, {});
  const Line gathered = RunOn(kGathered, {});
  ASSERT_EQ(gathered.taken, alone.taken);
  EXPECT_EQ(gathered.reads, alone.reads);
  // Link messages and the request's sendings (acknowledging the module's frames): one write each.
  const auto frames = std::count(alone.taken.begin(), alone.taken.end(), std::uint8_t{0xC0}) / 2;
  EXPECT_GE(frames, 7);
  EXPECT_EQ(static_cast<long>(gathered.writes.size()), frames);
  EXPECT_EQ(alone.writes.size(), alone.taken.size());

  // Stopped at every read of the run: frames cut after each of their bytes go out as far as
  // they were handed over, and no further.
  for (int read = 1; read <= alone.reads; ++read) {
    const Line cutAlone = RunOn(kEachByte, {read});
    const Line cutGathered = RunOn(kGathered, {read});
    ASSERT_EQ(cutGathered.taken, cutAlone.taken) << "stopped at read " << read;
  }
}

// The line refuses the bytes of one frame from its middle to its end (a write that fails, or
// takes part and times out): the same bytes are lost, and reported lost, either way, and what
// follows goes out as before.
TEST(GatheredWrites, AFailedWriteLosesTheBytesItHeldAndNoOthers) {
  const Bytes wire = RunOn(kEachByte, {}).taken;
  std::vector<std::size_t> delimiters;
  for (std::size_t i = 0; i < wire.size(); ++i) {
    if (wire[i] == 0xC0) delimiters.push_back(i);
  }
  ASSERT_GE(delimiters.size(), 14u);
  ASSERT_EQ(delimiters.size() % 2, 0u);
  // The first frame (a SYNC), the longest (the request) and the last.
  std::size_t longest = 0;
  for (std::size_t k = 0; 2 * k < delimiters.size(); ++k) {
    if (delimiters[2 * k + 1] - delimiters[2 * k] > delimiters[2 * longest + 1] - delimiters[2 * longest]) longest = k;
  }
  for (const std::size_t frame : {std::size_t{0}, longest, delimiters.size() / 2 - 1}) {
    const std::size_t open = delimiters[2 * frame];
    const std::size_t close = delimiters[2 * frame + 1];
    for (const std::size_t from : {open, (open + close) / 2}) {
      const Trouble refused{0, from, close + 1};
      const Line alone = RunOn(kEachByte, refused);
      const Line gathered = RunOn(kGathered, refused);
      EXPECT_EQ(gathered.taken, alone.taken) << frame << " from " << from;
      EXPECT_EQ(gathered.lost, close + 1 - from) << frame << " from " << from;
      EXPECT_EQ(alone.lost, close + 1 - from) << frame << " from " << from;
    }
  }
}

}  // namespace
}  // namespace quillon
