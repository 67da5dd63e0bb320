// Whole programming runs against the module simulator in this process, with a manual clock: time
// passes only when the run sleeps, so time-outs are exact and runs are fast.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "psconfig/psconfig.h"
#include "tests/fakes/fake_platform.h"
#include "tests/fakes/recording_console.h"
#include "tests/fakes/recording_echo.h"
#include "tools/module_simulator/in_process_serial.h"

namespace quillon {
namespace {

// A clock that sets the stop event once its time passes `stopAt` (0: never).
class StoppingClock final : public platform::Clock {
 public:
  explicit StoppingClock(testing::ManualClock& inner) : inner_(inner) {}
  std::uint32_t TickCount() override { return inner_.TickCount(); }
  void Sleep(std::uint32_t milliseconds) override {
    inner_.Sleep(milliseconds);
    if (stop != nullptr && stopAt != 0 && inner_.TickCount() >= stopAt) stop->Set();
  }
  platform::Event* stop = nullptr;
  std::uint32_t stopAt = 0;

 private:
  testing::ManualClock& inner_;
};

class Recorder final : public RunObserver {
 public:
  explicit Recorder(platform::Clock& clock) : clock_(clock) {}
  void RequestSent(std::uint32_t index, std::uint32_t count, const PsKeyItem& item) override {
    sent.push_back(index);
    if (item.varId == kVarIdWarmReset) warmResetAt = clock_.TickCount();
    if (index + 1 > count) beyondList = true;
  }
  void RequestCompleted(std::uint32_t index, std::uint16_t) override { completed.push_back(index); }
  std::vector<std::uint32_t> sent;
  std::vector<std::uint32_t> completed;
  std::uint32_t warmResetAt = 0;
  bool beyondList = false;

 private:
  platform::Clock& clock_;
};

std::string Keys(int count) {
  std::string text = "// generated\n";
  for (int key = 1; key <= count; ++key) {
    char line[32];
    std::snprintf(line, sizeof line, "&%04x = %04x %04x\n", key, key, 0xFFFF - key);
    text += line;
  }
  return text;
}

class RunTest : public ::testing::Test {
 protected:
  // A new module on the line; the program's side (port, link, run) stays.
  void ReplaceModule(const sim::SimulatorOptions& options) {
    devices.reset();
    module = std::make_unique<sim::ModuleSimulator>(options);
    devices = std::make_unique<sim::InProcessSerialDevices>(*module, fake.clock);
    roles.serial = devices.get();
  }
  void Start(const sim::SimulatorOptions& options) {
    ReplaceModule(options);
    roles.clock = &clock;
    port = std::make_unique<SerialPort>(roles);
    link = std::make_unique<BcspLink>(*port, clock, console);
    run = std::make_unique<PSConfig>(roles, list, *link, *port, console);
    platform::ErrorCode error = platform::kSuccess;
    stop = fake.kernel.CreateManualResetEvent(L"", false, &error);
    clock.stop = stop.get();
    trace.SetEcho(&echo);
  }
  int Run(const std::string& psr) {
    fake.files.Put(L"keys.psr", psr);
    return run->Run(L"COM1:", 115200, L"keys.psr", stop.get(), &recorder);
  }
  // The keys of the PS key requests the module took, in order.
  std::vector<std::uint16_t> KeysTaken() {
    std::vector<std::uint16_t> keys;
    for (const auto& request : module->Requests()) {
      if (request.varId == kVarIdPsKey) keys.push_back(request.psKey);
    }
    return keys;
  }
  std::vector<std::uint16_t> VarIdsTaken() {
    std::vector<std::uint16_t> varIds;
    for (const auto& request : module->Requests()) varIds.push_back(request.varId);
    return varIds;
  }

  testing::FakePlatform fake;
  StoppingClock clock{fake.clock};
  platform::Platform roles = fake.roles;
  Trace trace{fake.roles};
  platform::ProcessWide<Trace>::Scoped useTrace{trace};
  testing::RecordingEcho echo;
  testing::RecordingConsole console;
  PsKeyList list;
  std::unique_ptr<sim::ModuleSimulator> module;
  std::unique_ptr<sim::InProcessSerialDevices> devices;
  std::unique_ptr<SerialPort> port;
  std::unique_ptr<BcspLink> link;
  std::unique_ptr<PSConfig> run;
  std::unique_ptr<platform::Event> stop;
  Recorder recorder{clock};
};

TEST_F(RunTest, ThreeKeysAreFiveRequestsEndedByTheModulesRestart) {
  Start(sim::SimulatorOptions{});
  EXPECT_EQ(Run(Keys(3)), kPsConfigDone);
  EXPECT_EQ(recorder.sent, (std::vector<std::uint32_t>{0, 1, 2, 3, 4}));
  EXPECT_EQ(VarIdsTaken(),
            (std::vector<std::uint16_t>{kVarIdBuildId, kVarIdPsKey, kVarIdPsKey, kVarIdPsKey, kVarIdWarmReset}));
  EXPECT_EQ(echo.Count(L"COMMAND COMPLETE"), 4);
  EXPECT_TRUE(echo.Has(L"Link is now Established"));
  EXPECT_TRUE(echo.Has(L"Add a Warm reset PDU"));
  EXPECT_TRUE(echo.Has(L"BCSP PEER RESET RECEIVED"));
  EXPECT_EQ(echo.Lines().back(), L"EXITING");
  EXPECT_FALSE(port->IsOpen());
  EXPECT_EQ(list.Capacity(), 0u);  // released
  EXPECT_EQ(module->Store().Keys().size(), 3u);
  // The module's restart ends the run at once: its two seconds are not waited out.
  EXPECT_LT(fake.clock.TickCount() - recorder.warmResetAt, PSConfig::kResetWaitMs / 4);
}

TEST_F(RunTest, WithoutARestartTheRunEndsTwoSecondsAfterTheWarmReset) {
  Start(sim::SimulatorOptions{});
  // The module comes back at 921600 baud: the run cannot hear it and waits for its timer.
  EXPECT_EQ(Run("&01be = 0ebf\n&0001 = 1\n&0002 = 2\n"), kPsConfigDone);
  EXPECT_TRUE(echo.Has(L"Timeout waiting for the Reset response"));
  EXPECT_FALSE(echo.Has(L"BCSP PEER RESET RECEIVED"));
  const std::uint32_t waited = fake.clock.TickCount() - recorder.warmResetAt;
  EXPECT_GT(waited, PSConfig::kResetWaitMs);
  EXPECT_LT(waited, PSConfig::kResetWaitMs + 100);
  EXPECT_EQ(module->BaudRate(), 921600u);
}

TEST_F(RunTest, FileProblemsEndTheRunBeforeThePortIsTouched) {
  Start(sim::SimulatorOptions{});
  EXPECT_EQ(run->Run(L"COM1:", 115200, L"missing.psr", stop.get(), nullptr), kPsConfigFileFailed);
  EXPECT_TRUE(echo.Has(L"Unable to open missing.psr error:2"));
  EXPECT_EQ(Run("// only comments\n\n  # and this\n"), kPsConfigNoKeys);
  EXPECT_TRUE(echo.Has(L"The file keys.psr doesn't contain keys to be changed"));
  EXPECT_EQ(fake.files.OpenFiles(), 0);
  EXPECT_TRUE(module->Requests().empty());
  EXPECT_FALSE(devices->InUse());
}

TEST_F(RunTest, AFileThatChangesBetweenThePassesIsNotSent) {
  Start(sim::SimulatorOptions{});
  fake.files.Put(L"keys.psr", Keys(2));
  fake.files.At(L"keys.psr").afterRewind = Keys(3);
  EXPECT_EQ(run->Run(L"COM1:", 115200, L"keys.psr", stop.get(), nullptr), kPsConfigFileFailed);
  EXPECT_TRUE(echo.Has(L"The file keys.psr changed while it was read"));
  EXPECT_TRUE(module->Requests().empty());
}

TEST_F(RunTest, MoreKeysThanARunCanCarryFailBeforeThePortIsOpened) {
  Start(sim::SimulatorOptions{});
  list.SetLimit(5);
  EXPECT_EQ(Run(Keys(4)), kPsConfigNotCompleted);
  EXPECT_TRUE(echo.Has(L"Cannot hold the 4 keys of keys.psr"));
  EXPECT_FALSE(devices->InUse());
  EXPECT_TRUE(module->Requests().empty());
}

TEST(RunPort, APortThatCannotBeOpenedGivesTwoWithItsTraceLines) {
  testing::FakePlatform fake;
  Trace trace(fake.roles);
  platform::ProcessWide<Trace>::Scoped useTrace(trace);
  testing::RecordingEcho echo;
  trace.SetEcho(&echo);
  testing::RecordingConsole console;
  fake.serialScript.openError = platform::kErrorFileNotFound;
  fake.files.Put(L"keys.psr", "&0001 = 1\n");
  SerialPort port(fake.roles);
  BcspLink link(port, fake.clock, console);
  PsKeyList list;
  PSConfig run(fake.roles, list, link, port, console);
  EXPECT_EQ(run.Run(L"COM7:", 115200, L"keys.psr", nullptr), kPsConfigPortFailed);
  const std::vector<std::wstring> expected = {L"Add a Warm reset PDU", L"Cannot open com port COM7: LastError=2",
                                              L"Error :201 in PSConfig InitialiseWindows", L"Error :201 in PSConfig",
                                              L"Unable to open COM7: error:201"};
  EXPECT_EQ(echo.Lines(), expected);
  EXPECT_EQ(list.Capacity(), 0u);
}

TEST_F(RunTest, AStopDuringLinkEstablishmentEndsTheRunAtTheNextPass) {
  sim::SimulatorOptions deaf;
  deaf.toModule.byteLoss = 1.0;  // the module never hears the program
  Start(deaf);
  clock.stopAt = fake.clock.TickCount() + 300;
  EXPECT_EQ(Run(Keys(2)), kPsConfigDone);
  EXPECT_FALSE(echo.Has(L"Link is now Established"));
  const auto lines = echo.Lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[lines.size() - 2], L"EXIT_STATE");
  EXPECT_LE(fake.clock.TickCount(), clock.stopAt + 1);
}

TEST_F(RunTest, AModuleThatNeverAnswersKeepsTheRunGoingUntilStopped) {
  sim::SimulatorOptions silent;
  silent.neverAnswerBuildId = true;
  Start(silent);
  clock.stopAt = fake.clock.TickCount() + 10000;
  EXPECT_EQ(Run(Keys(2)), kPsConfigDone);
  EXPECT_GE(fake.clock.TickCount(), clock.stopAt);
  EXPECT_EQ(recorder.sent, std::vector<std::uint32_t>{0});
  EXPECT_FALSE(echo.Has(L"Timeout waiting for the Reset response"));
  EXPECT_EQ(module->Requests().size(), 1u);  // sent once: repeating is the link's business
}

TEST_F(RunTest, TheAllSentEventEndsTheRunWithoutTheWarmReset) {
  sim::SimulatorOptions options;
  options.commandStatusAfterKeys = 3;
  Start(options);
  EXPECT_EQ(Run(Keys(3)), kPsConfigDone);
  EXPECT_TRUE(echo.Has(L"...All the commands are sent"));
  EXPECT_EQ(VarIdsTaken(), (std::vector<std::uint16_t>{kVarIdBuildId, kVarIdPsKey, kVarIdPsKey, kVarIdPsKey}));
}

TEST_F(RunTest, ARefusedKeyIsReportedAndTheRunDoesNotSucceed) {
  sim::SimulatorOptions options;
  options.answerStatus = 2;
  Start(options);
  EXPECT_EQ(Run(Keys(2)), kPsConfigNotCompleted);
  EXPECT_TRUE(echo.Has(L"Key &0001 refused by the module, status 2"));
  EXPECT_TRUE(echo.Has(L"Request 0x2819 refused by the module, status 2"));
  EXPECT_EQ(recorder.sent.size(), 4u);  // everything is still sent, the reset included
}

TEST_F(RunTest, ARefusalIsForgottenByTheNextRun) {
  sim::SimulatorOptions refusing;
  refusing.answerStatus = 2;
  Start(refusing);
  EXPECT_EQ(Run(Keys(1)), kPsConfigNotCompleted);
  ReplaceModule(sim::SimulatorOptions{});
  EXPECT_EQ(Run(Keys(1)), kPsConfigDone);
  EXPECT_FALSE(run->ErrorStatusSeen());
}

TEST_F(RunTest, AKeyLineLeftOutIsNamedAndTheRunDoesNotSucceed) {
  Start(sim::SimulatorOptions{});
  std::string many = "&0009 =";
  for (int i = 0; i < 189; ++i) many += " 1";
  EXPECT_EQ(Run("&0001 = 1\n" + many + "\n&0002 = 2\n"), kPsConfigNotCompleted);
  EXPECT_TRUE(echo.Has(L"Key &0009 on line 2 left out: more than 188 values"));
  EXPECT_EQ(KeysTaken(), (std::vector<std::uint16_t>{1, 2}));  // the others are still written
  // A file whose only key line is left out sends nothing, and says why rather than "no keys".
  EXPECT_EQ(Run(many + "\n"), kPsConfigNotCompleted);
  EXPECT_FALSE(echo.Has(L"The file keys.psr doesn't contain keys to be changed"));
  EXPECT_EQ(KeysTaken().size(), 2u);
  // And the next run, without such a line, succeeds again.
  EXPECT_EQ(Run("&0003 = 3\n"), kPsConfigDone);
}

TEST_F(RunTest, AStopWhileTheFileIsReadEndsTheRunBeforeThePort) {
  Start(sim::SimulatorOptions{});
  stop->Set();
  EXPECT_EQ(Run(Keys(3)), kPsConfigDone);
  EXPECT_FALSE(devices->InUse());
  EXPECT_TRUE(module->Requests().empty());
  EXPECT_EQ(list.Capacity(), 0u);
}

TEST_F(RunTest, AnAnsweredWarmResetSendsNothingMore) {
  sim::SimulatorOptions options;
  options.answerWarmReset = true;
  Start(options);
  EXPECT_EQ(Run(Keys(2)), kPsConfigDone);
  EXPECT_EQ(recorder.sent.size(), 4u);
  EXPECT_EQ(recorder.completed.size(), 4u);
  EXPECT_FALSE(recorder.beyondList);
}

TEST_F(RunTest, FiveHundredKeysThroughNoiseAreStoredOnceInFileOrder) {
  sim::SimulatorOptions options;
  options.seed = 3;
  options.toModule = {0.02, 0.02};
  options.fromModule = {0.02, 0.02};
  Start(options);
  EXPECT_EQ(Run(Keys(500)), kPsConfigDone);
  const std::vector<std::uint16_t> keys = KeysTaken();
  ASSERT_EQ(keys.size(), 500u);
  for (std::size_t i = 0; i < keys.size(); ++i) ASSERT_EQ(keys[i], i + 1);
  EXPECT_EQ(module->Store().Keys().size(), 500u);
  EXPECT_EQ(*module->Store().Get(500), (std::vector<std::uint16_t>{500, 0xFFFF - 500}));
}

TEST_F(RunTest, AModuleThatRestartsMidwayStillGetsEveryKey) {
  sim::SimulatorOptions options;
  options.restartAfterRequests = 3;  // the second key
  Start(options);
  EXPECT_EQ(Run(Keys(4)), kPsConfigDone);
  const std::vector<std::uint16_t> keys = KeysTaken();
  EXPECT_EQ(keys, (std::vector<std::uint16_t>{1, 2, 2, 3, 4}));  // the lost one again
  EXPECT_EQ(module->Store().Keys().size(), 4u);
}

TEST_F(RunTest, ASecondRunStartsAfresh) {
  Start(sim::SimulatorOptions{});
  EXPECT_EQ(Run(Keys(3)), kPsConfigDone);
  recorder.sent.clear();
  EXPECT_EQ(Run(Keys(2)), kPsConfigDone);
  EXPECT_EQ(recorder.sent, (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(module->Requests().size(), 9u);
}

}  // namespace
}  // namespace quillon
