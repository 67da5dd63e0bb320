#include "trace/trace.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/text.h"
#include "tests/fakes/fake_platform.h"
#include "tools/trace_viewer/trace_reader.h"
#include "trace/trace_layout.h"
#include "trace/trace_scope.h"

namespace quillon {
namespace {

namespace layout = trace_layout;
using testing::FakePlatform;

constexpr std::uint32_t kViewerWindow = 0x4242;

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override { trace.Initialise(); }

  void AttachViewer(bool notify = true) { ASSERT_EQ(viewer.Attach(kViewerWindow, notify), platform::kSuccess); }

  std::vector<tools::TraceEntry> Read() {
    std::vector<tools::TraceEntry> entries;
    viewer.ReadAvailable([&](const tools::TraceEntry& entry) { entries.push_back(entry); });
    return entries;
  }
  // The text of the one record the viewer finds, or how many it found instead.
  std::wstring ReadOne() {
    const auto entries = Read();
    return entries.size() == 1 ? entries[0].text : L"<" + std::to_wstring(entries.size()) + L" records>";
  }

  std::byte* Memory() { return fake.kernel.Memory(layout::kMemoryName)->data(); }
  std::uint32_t Header(std::size_t field) { return layout::LoadWord(Memory(), field); }
  void SetHeader(std::size_t field, std::uint32_t value) { layout::StoreWord(Memory(), field, value); }

  std::wstring ThreadKey() {
    std::array<wchar_t, 80> path{};
    FormatTo(std::span<wchar_t>(path), L"%s\\%08x", layout::kThreadNamesKey, fake.kernel.CurrentThreadId());
    return path.data();
  }
  bool HasThreadKey() {
    std::unique_ptr<platform::RegistryKey> key;
    return fake.registry.OpenKey(ThreadKey(), platform::RegistryAccess::kRead, &key) == platform::kSuccess;
  }

  FakePlatform fake;
  Trace trace{fake.roles};
  tools::TraceReader viewer{fake.roles};
};

TEST_F(TraceTest, WithoutAViewerOnlyThreadNamesReachTheRegistry) {
  trace.Printf(KindInfo, kTraceCategory, L"ordinary %d", 1);
  trace.Printf(KindImportant, kTraceCategory, L"important");
  EXPECT_EQ(Header(layout::kWritePos), 0u);
  EXPECT_TRUE(fake.messages.Posted().empty());
  EXPECT_FALSE(HasThreadKey());

  trace.Printf(KindThreadName, kTraceCategory, L"WorkingThread");
  std::unique_ptr<platform::RegistryKey> key;
  ASSERT_EQ(fake.registry.OpenKey(ThreadKey(), platform::RegistryAccess::kRead, &key), platform::kSuccess);
  std::array<std::uint8_t, 64> data{};
  std::size_t length = 0;
  std::uint32_t type = 0;
  ASSERT_EQ(key->QueryValue(L"Name", &type, data, &length), platform::kSuccess);
  EXPECT_EQ(type, platform::kRegSz);
  const std::string expected = platform::WideToUtf16le(L"WorkingThread") + std::string(2, '\0');
  EXPECT_EQ(std::string(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length)), expected);

  trace.Printf(KindThreadEnd, kTraceCategory, L"WorkingThread");
  EXPECT_FALSE(HasThreadKey());
  EXPECT_TRUE(fake.messages.Posted().empty());
}

TEST_F(TraceTest, WithAViewerThreadNamesBecomeRecordsAndThreadEndsStillClearTheRegistry) {
  trace.Printf(KindThreadName, kTraceCategory, L"Worker");  // registered while no viewer runs
  ASSERT_TRUE(HasThreadKey());
  AttachViewer();
  trace.Printf(KindThreadName, kTraceCategory, L"Worker");
  trace.Printf(KindThreadEnd, kTraceCategory, L"Worker");
  EXPECT_FALSE(HasThreadKey());
  const auto entries = Read();  // their kinds and texts: ThreadScopesMarkStartAndEndAndReportErrors
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[1].category, kTraceCategory);
  EXPECT_EQ(entries[1].threadId, fake.kernel.CurrentThreadId());
  EXPECT_EQ(entries[1].tick, fake.clock.TickCount());
}

// A record's size S: 24 bytes and two per character, the text cut to 116 characters and ended by
// a zero when it has room; padded to a multiple of four. Its last two bytes (before the padding)
// are reserved: the writer leaves them as they were.
TEST_F(TraceTest, RecordSizesTextCutsAndTheReservedBytes) {
  AttachViewer();
  std::memset(Memory() + Header(layout::kWritePos), 0xA5, 4096);
  struct Case {
    std::size_t length;
    std::uint32_t size, padded;
    std::size_t kept;
    bool terminated;
  };
  const Case cases[] = {{1, 26, 28, 1, true},          {2, 28, 28, 2, true},        {114, 252, 252, 114, true},
                        {115, 254, 256, 115, true},    {116, 254, 256, 116, false}, {200, 254, 256, 116, false},
                        {100000, 254, 256, 116, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::wstring text;
    for (std::size_t i = 0; i < c.length; ++i) text.push_back(static_cast<wchar_t>(L'a' + i % 26));
    const std::uint32_t before = Header(layout::kWritePos);
    ASSERT_EQ(layout::RecordSize(c.length), c.size);
    EXPECT_EQ(layout::PaddedSize(c.size), c.padded);
    trace.Write(KindInfo, kTraceCategory, text);
    EXPECT_EQ(Header(layout::kWritePos) - before, c.padded);
    EXPECT_EQ(layout::LoadWord(Memory(), before + layout::kNext), before + c.padded);
    EXPECT_EQ(Memory()[before + c.size - 2], std::byte{0xA5});
    EXPECT_EQ(Memory()[before + c.size - 1], std::byte{0xA5});
    const std::byte* textBytes = Memory() + before + layout::kText;
    EXPECT_TRUE(!c.terminated || (textBytes[2 * c.kept] == std::byte{0} && textBytes[2 * c.kept + 1] == std::byte{0}));
    EXPECT_EQ(ReadOne(), text.substr(0, c.kept));
  }
}

// Sees every formatted text whole, before the record cuts it.
class LastText final : public TraceEcho {
 public:
  void Echo(TraceKind, std::wstring_view text) override { last = std::wstring(text); }
  std::wstring last;
};

TEST_F(TraceTest, FormattingIsCutToItsBuffers) {
  LastText echo;
  trace.SetEcho(&echo);
  platform::ProcessWide<Trace>::Scoped useThisTrace(trace);
  trace.Printf(KindInfo, kTraceCategory, L"%s", std::wstring(5000, L'x'));
  EXPECT_EQ(echo.last, std::wstring(Trace::kFormatBufferChars - 1, L'x'));
  const std::wstring longName(300, L'n');
  TraceScope scope(longName.c_str());
  scope.Store(7);
  scope.Report();
  const std::wstring full = L"Error :7 in " + longName;
  EXPECT_EQ(echo.last, full.substr(0, 259));  // the scope's 260-character line
  trace.SetEcho(nullptr);
}

// Each record is notified unless the viewer turned notifications off; an empty text writes and
// posts nothing (EmptyTextWritesAndPostsNothing).
TEST_F(TraceTest, NotificationsFollowNotifyOff) {
  AttachViewer(/*notify=*/true);
  trace.Printf(KindInfo, kTraceCategory, L"%s", L"");
  EXPECT_EQ(Header(layout::kWritePos), layout::kHeaderSize);
  EXPECT_TRUE(fake.messages.Posted().empty());
  trace.Printf(KindInfo, kTraceCategory, L"one");
  auto posted = fake.messages.Posted();
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0].first, kViewerWindow);
  EXPECT_EQ(posted[0].second.message, layout::kTraceDataMessage);
  EXPECT_EQ(posted[0].second.wParam, 0u);
  EXPECT_EQ(posted[0].second.lParam, 0u);

  SetHeader(layout::kNotifyOff, 1);
  trace.Printf(KindInfo, kTraceCategory, L"two");
  EXPECT_EQ(fake.messages.Posted().size(), 1u);
  EXPECT_EQ(Read().size(), 2u);  // placed all the same
}

TEST_F(TraceTest, ARecordThatDoesNotFitBeforeTheEndWrapsToTheStart) {
  AttachViewer();
  const std::uint32_t areaEnd = layout::kHeaderSize + layout::kAreaSize;
  const std::uint32_t oldWrite = areaEnd - 100;
  SetHeader(layout::kReadPos, oldWrite);
  SetHeader(layout::kWritePos, oldWrite);
  layout::StoreWord(Memory(), oldWrite, 0);
  trace.Write(KindInfo, kTraceCategory, std::wstring(60, L'w'));  // S = 144, R = 144
  EXPECT_EQ(layout::LoadWord(Memory(), oldWrite), layout::kWrapMarker);
  EXPECT_EQ(Header(layout::kWritePos), layout::kHeaderSize + 144);
  EXPECT_EQ(ReadOne(), std::wstring(60, L'w'));
  EXPECT_EQ(Header(layout::kReadPos), layout::kHeaderSize + 144);
}

TEST_F(TraceTest, AFreeStretchExactlyAsLongAsTheRecordCountsItLost) {
  AttachViewer();
  const std::uint32_t write = layout::kHeaderSize;
  SetHeader(layout::kReadPos, write + 28);  // R of a one-character text
  fake.clock.Set(5555);
  trace.Write(KindInfo, kTraceCategory, L"x");
  EXPECT_EQ(Header(layout::kWritePos), write);
  EXPECT_EQ(Header(layout::kLostCount), 1u);
  EXPECT_EQ(Header(layout::kFirstLostTick), 5555u);
  fake.clock.Set(6000);
  trace.Write(KindInfo, kTraceCategory, L"y");
  EXPECT_EQ(Header(layout::kLostCount), 2u);
  EXPECT_EQ(Header(layout::kFirstLostTick), 5555u);
  EXPECT_EQ(fake.messages.Posted().size(), 2u);  // lost records are notified too
}

TEST_F(TraceTest, AFullRingLosesRecordsUntilTheViewerReads) {
  AttachViewer(false);
  const std::wstring text(115, L'r');  // 256 bytes a record
  int placed = 0;
  while (Header(layout::kLostCount) == 0 && placed < 10000) {
    trace.Write(KindInfo, kTraceCategory, text);
    ++placed;
  }
  EXPECT_EQ(placed - 1, static_cast<int>(layout::kAreaSize / 256));
  EXPECT_EQ(Read().size(), static_cast<std::size_t>(placed - 1));
  EXPECT_EQ(viewer.TakeLost().count, 1u);
  trace.Write(KindInfo, kTraceCategory, L"after");
  EXPECT_EQ(ReadOne(), L"after");
}

TEST_F(TraceTest, ABusyMutexDropsTheRecordUncountedButStillNotifies) {
  AttachViewer();
  auto& mutex = fake.kernel.Mutex(layout::kMutexName);
  {
    std::lock_guard<std::mutex> hold(mutex.lock);
    mutex.heldElsewhere = true;
  }
  trace.Printf(KindInfo, kTraceCategory, L"dropped");
  {
    std::lock_guard<std::mutex> hold(mutex.lock);
    mutex.heldElsewhere = false;
  }
  mutex.released.notify_all();
  EXPECT_EQ(Header(layout::kWritePos), layout::kHeaderSize);
  EXPECT_EQ(Header(layout::kLostCount), 0u);
  EXPECT_EQ(fake.messages.Posted().size(), 1u);
}

TEST_F(TraceTest, TheViewerSkipsADamagedChainToTheWritersPosition) {
  AttachViewer(false);
  trace.Printf(KindInfo, kTraceCategory, L"damaged");
  layout::StoreWord(Memory(), layout::kHeaderSize + layout::kNext, 3);  // a next that points backwards
  EXPECT_TRUE(Read().empty());
  EXPECT_TRUE(viewer.TakeResynchronised());
  EXPECT_FALSE(viewer.TakeResynchronised());
  trace.Printf(KindInfo, kTraceCategory, L"after");
  EXPECT_EQ(ReadOne(), L"after");
}

TEST_F(TraceTest, ADamagedHeaderMakesTheWriterCountLossesNeverWriteOutside) {
  AttachViewer();
  SetHeader(layout::kWritePos, layout::kMemorySize - 2);
  trace.Write(KindInfo, kTraceCategory, L"nowhere to go");
  EXPECT_EQ(Header(layout::kLostCount), 1u);
  EXPECT_EQ(Header(layout::kWritePos), layout::kMemorySize - 2);
}

TEST_F(TraceTest, TheFirstCreatorClearsOldThreadNamesLaterOnesKeepThem) {
  FakePlatform other;
  std::unique_ptr<platform::RegistryKey> key;
  ASSERT_EQ(other.registry.CreateKey(std::wstring(layout::kThreadNamesKey) + L"\\0000abcd", &key), platform::kSuccess);
  Trace first(other.roles);
  first.Initialise();
  EXPECT_TRUE(first.FirstCreator());
  EXPECT_EQ(other.registry.OpenKey(layout::kRegistryKey, platform::RegistryAccess::kRead, &key),
            platform::kErrorFileNotFound);

  ASSERT_EQ(other.registry.CreateKey(std::wstring(layout::kThreadNamesKey) + L"\\0000abcd", &key), platform::kSuccess);
  Trace second(other.roles);
  second.Initialise();
  EXPECT_FALSE(second.FirstCreator());
  EXPECT_EQ(other.registry.OpenKey(layout::kThreadNamesKey, platform::RegistryAccess::kRead, &key), platform::kSuccess);
}

TEST(TraceFailures, WithoutSharedMemoryOrMutexNothingIsRecordedNotEvenThreadNames) {
  for (int failing = 0; failing < 2; ++failing) {
    FakePlatform fake;
    (failing == 0 ? fake.kernel.memoryFailures : fake.kernel.mutexFailures).FailOnCall(1);
    Trace trace(fake.roles);
    trace.Initialise();
    trace.Printf(KindThreadName, kTraceCategory, L"Nameless");
    std::unique_ptr<platform::RegistryKey> key;
    EXPECT_EQ(fake.registry.OpenKey(layout::kThreadNamesKey, platform::RegistryAccess::kRead, &key),
              platform::kErrorFileNotFound);
  }
}

TEST(TraceFailures, WithoutTheStartedEventTheRingIsLeftAlone) {
  FakePlatform fake;
  fake.kernel.eventFailures.FailOnCall(1);
  Trace trace(fake.roles);
  trace.Initialise();
  trace.Printf(KindInfo, kTraceCategory, L"no one set the header up");
  trace.Printf(KindThreadName, kTraceCategory, L"Named");
  EXPECT_EQ(layout::LoadWord(fake.kernel.Memory(layout::kMemoryName)->data(), layout::kWritePos), 0u);
  std::unique_ptr<platform::RegistryKey> key;
  EXPECT_EQ(fake.registry.OpenKey(layout::kThreadNamesKey, platform::RegistryAccess::kRead, &key), platform::kSuccess);
}

TEST_F(TraceTest, ThreadScopesMarkStartAndEndAndReportErrors) {
  platform::ProcessWide<Trace>::Scoped useThisTrace(trace);
  AttachViewer();
  {
    ThreadTraceScope scope(L"CQuillonDlg::WorkingThread", L"Working%dThread");
    TraceScope quiet(L"Quiet::Operation");
    quiet.Report();  // result 0: nothing
    TraceScope failing(L"PSConfig InitialiseWindows");
    failing.Store(201);
    failing.Report();
  }
  {
    auto owned = std::make_unique<wchar_t[]>(6);
    std::wcscpy(owned.get(), L"Owned");
    ThreadTraceScope scope(L"Owner::Run", std::move(owned));
  }
  const auto entries = Read();
  struct Expected {
    std::uint32_t kind;
    const wchar_t* text;
  };
  const Expected expected[] = {
      {6, L"Working%dThread"},
      {4, L"the thread has been created"},
      {4, L"Error :201 in PSConfig InitialiseWindows"},
      {4, L"the thread has been finished-----"},
      {7, L"Working%dThread"},
      {6, L"Owned"},
      {4, L"the thread has been created"},
      {4, L"the thread has been finished-----"},
      {7, L"Owned"},
  };
  ASSERT_EQ(entries.size(), std::size(expected));
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(entries[i].kind, expected[i].kind) << i;
    EXPECT_EQ(entries[i].text, expected[i].text) << i;
  }
}

TEST_F(TraceTest, ThreadsWriteConcurrentlyWithoutLosingOrder) {
  AttachViewer(false);
  constexpr int kThreads = 4;
  constexpr int kEach = 300;
  std::vector<std::thread> writers;
  writers.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    writers.emplace_back([this, t] {
      for (int i = 0; i < kEach; ++i) trace.Printf(KindInfo, kTraceCategory, L"%d %d", t, i);
    });
  }
  std::vector<tools::TraceEntry> entries;
  auto drain = [&] { viewer.ReadAvailable([&](const tools::TraceEntry& e) { entries.push_back(e); }); };
  for (auto& writer : writers) {
    drain();
    writer.join();
  }
  drain();
  ASSERT_EQ(entries.size(), static_cast<std::size_t>(kThreads * kEach));
  int next[kThreads] = {};
  for (const auto& entry : entries) {
    int t = -1, i = -1;
    ASSERT_EQ(std::swscanf(entry.text.c_str(), L"%d %d", &t, &i), 2);
    ASSERT_GE(t, 0);
    ASSERT_LT(t, kThreads);
    EXPECT_EQ(i, next[t]++);
  }
}

// The process's trace before any program installs one: no platform behind it, so it opens
// nothing and writes nowhere, yet its echo still sees every message.
TEST(ProcessTrace, WithNoneInstalledWritesNowhereButToItsEcho) {
  Trace& fallback = Trace::Process();
  LastText echo;
  fallback.SetEcho(&echo);
  fallback.Initialise();
  {
    ThreadTraceScope scope(L"Probe::Run", L"Probe");
    fallback.Printf(KindInfo, kTraceCategory, L"seen %d", 1);
    EXPECT_EQ(echo.last, L"seen 1");
    fallback.Write(KindThreadName, kTraceCategory, L"Probe");
  }
  fallback.SetEcho(nullptr);
  fallback.Shutdown();
}

TEST(ProcessTrace, AnInstalledTraceServesUntilItsScopeEnds) {
  FakePlatform outerPlatform, innerPlatform;
  Trace outer(outerPlatform.roles), inner(innerPlatform.roles);
  Trace* const fallback = &Trace::Process();
  {
    platform::ProcessWide<Trace>::Scoped useOuter(outer);
    EXPECT_EQ(&Trace::Process(), &outer);
    {
      platform::ProcessWide<Trace>::Scoped useInner(inner);
      EXPECT_EQ(&Trace::Process(), &inner);
    }
    EXPECT_EQ(&Trace::Process(), &outer);
  }
  EXPECT_EQ(&Trace::Process(), fallback);
}

}  // namespace
}  // namespace quillon
