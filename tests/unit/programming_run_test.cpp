// Whole programming runs against the module simulator in this process, with a manual clock: time
// passes only when the run sleeps, so time-outs are exact and runs are fast.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "psconfig/uart_rate.h"
#include "tests/unit/simulated_run.h"

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

using testing::Keys;

// A run whose clock can set its stop event, observed request by request.
struct StoppableRun : testing::SimulatedRun {
  StoppableRun() {
    roles.clock = &clock;
    platform::ErrorCode error = platform::kSuccess;
    stop = fake.kernel.CreateManualResetEvent(L"", false, &error);
    clock.stop = stop.get();
  }
  int Run(const std::string& psr) {
    fake.files.Put(L"keys.psr", psr);
    return run->Run(L"COM1:", 115200, L"keys.psr", stop.get(), &recorder);
  }

  StoppingClock clock{fake.clock};
  std::unique_ptr<platform::Event> stop;
  Recorder recorder{clock};
};

class RunTest : public ::testing::Test, public StoppableRun {
 protected:
  using StoppableRun::Run;
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

// Whatever ends the run while the file is read leaves the port unopened, the file closed and the
// list released. The rows name the old tests.
TEST(RunBeforeThePort, WhatTheFileOrAStopEndsBeforeThePortIsTouched) {
  struct Case {
    const char* name;
    const wchar_t* file;
    std::string content, afterRewind;
    std::uint32_t limit;  // 0: the list's own
    bool stopped;
    int result;
    const wchar_t* says;
  };
  const Case cases[] = {
      {"FileProblems: missing", L"missing.psr", "", "", 0, false, kPsConfigFileFailed,
       L"Unable to open missing.psr error:2"},
      {"FileProblems: no keys", L"keys.psr", "// only comments\n\n  # and this\n", "", 0, false, kPsConfigNoKeys,
       L"The file keys.psr doesn't contain keys to be changed"},
      {"AFileThatChangesBetweenThePassesIsNotSent", L"keys.psr", Keys(2), Keys(3), 0, false, kPsConfigFileFailed,
       L"The file keys.psr changed while it was read"},
      {"MoreKeysThanARunCanCarryFailBeforeThePortIsOpened", L"keys.psr", Keys(4), "", 5, false, kPsConfigNotCompleted,
       L"Cannot hold the 4 keys of keys.psr"},
      {"AStopWhileTheFileIsReadEndsTheRunBeforeThePort", L"keys.psr", Keys(3), "", 0, true, kPsConfigDone, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StoppableRun r;
    r.Start(sim::SimulatorOptions{});
    r.fake.files.Put(L"keys.psr", c.content);
    r.fake.files.At(L"keys.psr").afterRewind = c.afterRewind;
    if (c.limit != 0) r.list.SetLimit(c.limit);
    if (c.stopped) r.stop->Set();
    EXPECT_EQ(r.run->Run(L"COM1:", 115200, c.file, r.stop.get(), nullptr), c.result);
    EXPECT_TRUE(*c.says == 0 || r.echo.Has(c.says));
    EXPECT_EQ(r.fake.files.OpenFiles(), 0);
    EXPECT_TRUE(r.module->Requests().empty());
    EXPECT_FALSE(r.devices->InUse());
    EXPECT_EQ(r.list.Capacity(), 0u);
  }
}

TEST(RunPort, APortThatCannotBeOpenedGivesTwoWithItsTraceLines) {
  testing::SimulatedRun r;
  r.fake.serialScript.openError = platform::kErrorFileNotFound;
  r.fake.files.Put(L"keys.psr", "&0001 = 1\n");
  r.Connect();
  EXPECT_EQ(r.run->Run(L"COM7:", 115200, L"keys.psr", nullptr), kPsConfigPortFailed);
  const std::vector<std::wstring> expected = {L"Add a Warm reset PDU", L"Cannot open com port COM7: LastError=2",
                                              L"Error :201 in PSConfig InitialiseWindows", L"Error :201 in PSConfig",
                                              L"Unable to open COM7: error:201"};
  EXPECT_EQ(r.echo.Lines(), expected);
  EXPECT_EQ(r.list.Capacity(), 0u);
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

TEST_F(RunTest, AModuleThatStopsAnsweringEndsTheRunAfterTheAnswerBound) {
  sim::SimulatorOptions silent;
  silent.neverAnswerBuildId = true;
  Start(silent);
  EXPECT_EQ(Run(Keys(2)), kPsConfigNoAnswer);
  EXPECT_GT(fake.clock.TickCount(), PSConfig::kAnswerMs);
  EXPECT_LT(fake.clock.TickCount(), PSConfig::kAnswerMs + PSConfig::kLinkUpMs);
  EXPECT_EQ(recorder.sent, std::vector<std::uint32_t>{0});
  EXPECT_EQ(module->Requests().size(), 1u);  // sent once: repeating is the link's business
}

// The run starts at the rate the module should talk at, then looks at each rate of the search.
TEST_F(RunTest, TheSearchFindsTheModuleAtEachRateOfTheTable) {
  const std::vector<std::uint32_t> order = UartRateSearchOrder({921600});
  RunOptions search;
  search.searchRates = order;
  for (const UartRateValue& entry : kUartRates) {
    SCOPED_TRACE(entry.rate);
    sim::SimulatorOptions options;
    options.baudRate = entry.rate;
    Start(options);
    fake.files.Put(L"keys.psr", Keys(2));
    EXPECT_EQ(run->Run(L"COM1:", 115200, L"keys.psr", stop.get(), &recorder, search), kPsConfigDone);
    EXPECT_EQ(run->LinkRate(), entry.rate);
    EXPECT_EQ(KeysTaken(), (std::vector<std::uint16_t>{1, 2}));
    EXPECT_EQ(run->RatesTried().back(), entry.rate);
  }
}

TEST_F(RunTest, AModuleAtNoRateFailsTheRunWithinTheSearchBound) {
  sim::SimulatorOptions options;
  options.baudRate = 9600;  // a rate no search tries
  Start(options);
  RunOptions search;
  const std::vector<std::uint32_t> order = UartRateSearchOrder({921600});
  search.searchRates = order;
  fake.files.Put(L"keys.psr", Keys(2));
  const std::uint32_t start = fake.clock.TickCount();
  EXPECT_EQ(run->Run(L"COM1:", 57600, L"keys.psr", stop.get(), &recorder, search), kPsConfigNoAnswer);
  std::vector<std::uint32_t> tried{57600};
  tried.insert(tried.end(), order.begin(), order.end());
  tried.erase(std::find(tried.begin() + 1, tried.end(), 57600u));
  EXPECT_EQ(std::vector<std::uint32_t>(run->RatesTried().begin(), run->RatesTried().end()), tried);
  EXPECT_EQ(run->LinkRate(), 0u);
  EXPECT_LE(fake.clock.TickCount() - start, tried.size() * (PSConfig::kLinkUpMs + SerialPort::kModemLineSettleMs + 10));
  EXPECT_TRUE(module->Requests().empty());
}

// After a file that moves the module to 921600, the probe finds it there and asks its build
// identifier; a module stopped before its reset is reset by the probe and then found at its new rate.
TEST_F(RunTest, TheProbeFindsTheRateTheModuleTookAtItsReset) {
  const std::vector<std::uint32_t> order = UartRateSearchOrder({921600});
  for (const bool stoppedBeforeTheReset : {false, true}) {
    SCOPED_TRACE(stoppedBeforeTheReset);
    Start(sim::SimulatorOptions{});
    if (stoppedBeforeTheReset) {
      module->Store().Set(0x01be, {0x0ebf});  // taken, not yet applied
      EXPECT_EQ(run->Probe(L"COM1:", std::vector<std::uint32_t>{115200}, stop.get(), true), kPsConfigDone);
      EXPECT_EQ(run->LinkRate(), 115200u);
    } else {
      EXPECT_EQ(Run("&01be = 0ebf\n"), kPsConfigDone);
    }
    EXPECT_EQ(run->Probe(L"COM1:", order, stop.get(), false), kPsConfigDone);
    EXPECT_EQ(run->LinkRate(), 921600u);
    EXPECT_EQ(run->BuildId(), 0x1F27);
  }
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

// A second run on the same program's side: nothing of the first (a refusal, the positions) is
// left. Formerly also ARefusalIsForgottenByTheNextRun.
TEST_F(RunTest, ASecondRunStartsAfresh) {
  sim::SimulatorOptions refusing;
  refusing.answerStatus = 2;
  Start(refusing);
  EXPECT_EQ(Run(Keys(1)), kPsConfigNotCompleted);
  ReplaceModule(sim::SimulatorOptions{});
  recorder.sent.clear();
  EXPECT_EQ(Run(Keys(2)), kPsConfigDone);
  EXPECT_FALSE(run->ErrorStatusSeen());
  EXPECT_EQ(recorder.sent, (std::vector<std::uint32_t>{0, 1, 2, 3}));
  EXPECT_EQ(module->Requests().size(), 4u);
}

}  // namespace
}  // namespace quillon
