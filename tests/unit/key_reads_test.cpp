// Runs that read keys (verify, backup, read only) against the module simulator in this process,
// with a manual clock: time passes only when the run sleeps.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "psconfig/psr_writer.h"
#include "tests/unit/simulated_run.h"

namespace quillon {
namespace {

using testing::Keys;

// A file that refuses every write, as a full disk does.
class FullDiskFiles final : public platform::Files {
 public:
  explicit FullDiskFiles(platform::Files& inner) : inner_(inner) {}
  std::unique_ptr<platform::File> Open(std::wstring_view path, platform::FileMode mode,
                                       platform::ErrorCode* error) override {
    if (mode == platform::FileMode::kReadExisting) return inner_.Open(path, mode, error);
    *error = platform::kSuccess;
    return std::make_unique<FullFile>();
  }
  platform::ErrorCode Delete(std::wstring_view) override { return platform::kSuccess; }
  platform::ErrorCode Rename(std::wstring_view, std::wstring_view) override {
    ++renames;
    return platform::kSuccess;
  }
  int renames = 0;

 private:
  class FullFile final : public platform::File {
   public:
    platform::ErrorCode ReadByte(std::uint8_t*, std::uint32_t* got) override {
      *got = 0;
      return platform::kSuccess;
    }
    platform::ErrorCode SetPosition(std::uint64_t) override { return platform::kSuccess; }
    platform::ErrorCode Write(std::span<const std::uint8_t>) override { return 112; /* disk full */ }
  };
  platform::Files& inner_;
};

class ReadRunTest : public ::testing::Test, public testing::SimulatedRun {
 protected:
  int Run(const std::string& psr, const RunOptions& options) {
    fake.files.Put(L"keys.psr", psr);
    return run->Run(L"COM1:", 115200, L"keys.psr", nullptr, nullptr, options);
  }
  std::vector<KeyRead> Failed() {
    std::vector<KeyRead> failed;
    for (const KeyRead& read : run->Reads()) {
      if (read.phase == ReadPhase::kAfterWriting && !read.Verified()) failed.push_back(read);
    }
    return failed;
  }
  std::size_t WritesTaken() {
    std::size_t writes = 0;
    for (const auto& request : module->Requests())
      writes += request.varId == kVarIdPsKey && request.type == kBccmdSetRequest;
    return writes;
  }
};

constexpr RunOptions kVerify{.readBackAfterWriting = true};
constexpr RunOptions kReadOnly{.readBeforeWriting = true, .writeKeys = false};

TEST_F(ReadRunTest, VerifyReadsEveryKeyBetweenTheLastWriteAndTheWarmReset) {
  Start(sim::SimulatorOptions{});
  EXPECT_EQ(Run(Keys(3), kVerify), kPsConfigDone);
  std::vector<std::uint16_t> types;
  for (const auto& request : module->Requests()) types.push_back(request.type);
  EXPECT_EQ(types, (std::vector<std::uint16_t>{0, 2, 2, 2, 0, 0, 0, 2}));
  EXPECT_EQ(module->Requests().back().varId, kVarIdWarmReset);
  ASSERT_EQ(run->Reads().size(), 3u);
  EXPECT_EQ(run->Reads()[2].line, 4u);
  EXPECT_EQ(run->Reads()[2].values, (std::vector<std::uint16_t>{3, 0xFFFC}));
}

// One fault of the module at key 2: the run fails its verification with that key named, and
// the warm reset is still sent. A value the module kept is read and shown beside the one sent.
TEST_F(ReadRunTest, AFaultOfOneKeyFailsVerificationForThatKeyAlone) {
  struct Case {
    const char* what;
    void (*fault)(sim::SimulatorOptions*);
    ReadOutcome outcome;
    std::vector<std::uint16_t> kept;
  };
  const Case cases[] = {
      {"stores another value", [](sim::SimulatorOptions* o) { o->keepOldValueOf = 2; }, ReadOutcome::kRefused, {}},
      // Formerly AnotherValueStoredIsReadAndShown.
      {"keeps the value it held",
       [](sim::SimulatorOptions* o) { o->keepOldValueOf = 2; },
       ReadOutcome::kRead,
       {0x1234, 0x5678}},
      {"refuses the read", [](sim::SimulatorOptions* o) { o->refuseReadOf = 2; }, ReadOutcome::kRefused, {}},
      {"drops the answer", [](sim::SimulatorOptions* o) { o->dropReadAnswerOf = 2; }, ReadOutcome::kNoAnswer, {}},
      {"answers for another key", [](sim::SimulatorOptions* o) { o->answerReadOf = 2; }, ReadOutcome::kOtherKey, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimulatorOptions options;
    c.fault(&options);
    Start(options);
    if (!c.kept.empty()) module->Store().Set(2, c.kept);
    EXPECT_EQ(Run(Keys(3), kVerify), kPsConfigVerifyFailed);
    const std::vector<KeyRead> failed = Failed();
    ASSERT_EQ(failed.size(), 1u);
    EXPECT_EQ(failed[0].key, 2);
    EXPECT_EQ(failed[0].line, 3u);
    EXPECT_EQ(failed[0].outcome, c.outcome);
    if (!c.kept.empty()) {
      EXPECT_EQ(failed[0].values, c.kept);
      EXPECT_EQ(failed[0].sent, (std::vector<std::uint16_t>{2, 0xFFFD}));
    }
    EXPECT_EQ(module->Requests().back().varId, kVarIdWarmReset);
  }
}

TEST_F(ReadRunTest, VerifyPassesThroughOnePercentNoiseOnTwentySeeds) {
  for (std::uint64_t seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    sim::SimulatorOptions options;
    options.seed = seed;
    options.toModule = {0.005, 0.005};
    options.fromModule = {0.005, 0.005};
    Start(options);
    ASSERT_EQ(Run(Keys(20), kVerify), kPsConfigDone);
  }
}

TEST_F(ReadRunTest, BackupAndRestoreGiveBackTheValuesThatTheSecondFileChanged) {
  Start(sim::SimulatorOptions{});
  ASSERT_EQ(Run(Keys(5), {}), kPsConfigDone);
  const auto afterA = module->Store().Keys();
  BackupGate gate(fake.files, L"backup.psr");
  const RunOptions backup{.readBeforeWriting = true, .gate = &gate};
  // B changes keys 1 to 7: 6 and 7 the module does not hold, so they are comments.
  ASSERT_EQ(Run(Keys(7, 0x100), backup), kPsConfigDone);
  EXPECT_EQ(gate.KeysSaved(), 5u);
  EXPECT_EQ(gate.KeysNotHeld(), 2u);
  EXPECT_NE(module->Store().Keys(), afterA);
  const std::string saved = fake.files.At(L"backup.psr").content;
  EXPECT_NE(saved.find("// &0006 not read: the module answered status 3"), std::string::npos);
  ASSERT_EQ(Run(saved, {}), kPsConfigDone);
  for (const auto& [key, values] : afterA) EXPECT_EQ(*module->Store().Get(key), values);
}

TEST_F(ReadRunTest, NoKeyIsWrittenWhenTheBackupFails) {
  struct Case {
    const char* what;
    bool fullDisk;
    void (*fault)(sim::SimulatorOptions*);
  };
  const Case cases[] = {
      {"the module does not answer a read", false, [](sim::SimulatorOptions* o) { o->dropReadAnswerOf = 3; }},
      {"the disk is full", true, [](sim::SimulatorOptions*) {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim::SimulatorOptions options;
    c.fault(&options);
    Start(options);
    module->Store().Set(3, {1, 2});
    FullDiskFiles full(fake.files);
    BackupGate gate(c.fullDisk ? static_cast<platform::Files&>(full) : fake.files, L"backup.psr");
    const RunOptions backup{.readBeforeWriting = true, .gate = &gate};
    EXPECT_EQ(Run(Keys(4), backup), kPsConfigReadFailed);
    EXPECT_EQ(WritesTaken(), 0u);
    EXPECT_EQ(module->Requests().back().varId, kVarIdPsKey);  // no warm reset either
    EXPECT_FALSE(gate.Failure().empty());
    EXPECT_EQ(full.renames, 0);
  }
}

TEST_F(ReadRunTest, ReadOnlyPrintsTheStoresValuesOfAHundredKeys) {
  Start(sim::SimulatorOptions{});
  ASSERT_EQ(Run(Keys(100, 7), {}), kPsConfigDone);
  const std::size_t requestsBefore = module->Requests().size();
  ASSERT_EQ(Run(Keys(100), kReadOnly), kPsConfigDone);
  EXPECT_EQ(module->Requests().size(), requestsBefore + 101);  // the build identifier and the reads
  EXPECT_EQ(FormatReadsAsPsr(run->Reads(), "PS store of the simulated module"), module->Store().ToPsr());
}

TEST_F(ReadRunTest, ReadOnlyOfAKeyNotHeldOrOfAnotherLengthFails) {
  Start(sim::SimulatorOptions{});
  module->Store().Set(1, {1, 2, 3});
  EXPECT_EQ(Run(Keys(2), kReadOnly), kPsConfigReadFailed);
  ASSERT_EQ(run->Reads().size(), 2u);
  EXPECT_EQ(run->Reads()[0].status, sim::kStatusWrongLength);
  EXPECT_EQ(run->Reads()[1].status, sim::kStatusNoValue);
}

TEST(SaveWhole, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  testing::FakePlatform fake;
  fake.files.Put(L"b.psr", "old");
  FullDiskFiles full(fake.files);
  EXPECT_NE(platform::SaveWhole(full, L"b.psr", "new"), platform::kSuccess);
  EXPECT_EQ(full.renames, 0);
  EXPECT_EQ(fake.files.At(L"b.psr").content, "old");
}

}  // namespace
}  // namespace quillon
