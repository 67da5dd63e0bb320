// The setup's three runs on one emulated handheld: the registry after each run, failures at each
// step, and power cuts at each change, after which the next start leaves a working stack.
#include <gtest/gtest.h>

#include "setup/command_line.h"
#include "setup/setup_outcome.h"
#include "setup/setup_results.h"
#include "tests/unit/setup_test_support.h"

namespace quillon {
namespace {

using testing::DwordValue;
using testing::kBackup;
using testing::kDone;
using testing::KeyExists;
using testing::kHci;
using testing::PutString;
using testing::StringValue;

constexpr wchar_t kPsrPath[] = L"\\Program Files\\Quillon\\radio.psr";
constexpr char kShortcutStart[] = "151#\"\\Program Files\\Quillon\\Quillon.exe\" ";
constexpr char kOptions[] =
    " /port:COM4: /psr:radio.psr /baudrate:115200 /TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";

// A handheld with the PSR file beside the program.
struct World : testing::SetupWorld {
  World() {
    memoryFiles.Put(kPsrPath, "&01be = 0ebf\n");
    module.afterReset = 921600;  // the module takes the file's rate at its reset
  }
};

// One start of the program: its host, record and setup.
struct ProgramRun {
  ProgramRun(testing::SetupWorld& world, std::wstring commandLine) {
    // A run that a shortcut starts follows a restart, which keeps only what was flushed.
    if (!commandLine.empty()) world.memoryRegistry.LoseUnflushedChanges();
    record.SetComPort(L"COM4:");  // what RetrieveBluetoothPort finds on this handheld
    record.SetPsrFile(L"radio.psr");
    setup = world.Start(record, std::move(commandLine));
    ReadCommandLineOptions(record);
  }
  testing::ScriptedHost host;
  DialogRecord record{host};
  std::unique_ptr<QuillonSetup> setup;
};

// The stack talks to its module on COM4: and every value of its transport key is there.
void ExpectWorkingStack(testing::SetupWorld& world, std::int64_t baud) {
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"COM4:");
  EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"COM4:");
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Driver"), L"bthuart.dll");
  EXPECT_EQ(DwordValue(world.registry, std::wstring(testing::kTransportKey) + L"\\Settings", L"flow"), 1);
  if (baud != 0) {
    EXPECT_EQ(DwordValue(world.registry, testing::kTransportKey, L"baud"), baud);
  }
  EXPECT_FALSE(KeyExists(world.registry, kBackup));
}

// Restarts the device until no run is left: each boot starts the shortcut's run; without one
// the user starts the program by hand, whose start-up restores what an interrupted setup left.
void FinishDeviceLife(testing::SetupWorld& world) {
  for (int boot = 0; boot < 5; ++boot) {
    if (const std::wstring commandLine = world.ShortcutCommand(); commandLine != L"<none>") {
      ProgramRun run(world, commandLine);
      run.setup->WorkingThread();
      continue;
    }
    world.memoryRegistry.LoseUnflushedChanges();  // the restart before the start by hand
    ProgramRun byHand(world, L"");
    byHand.setup->Recovery().RecoverInterruptedSetup();
    return;
  }
  FAIL() << "the device kept restarting";
}

class SetupRunsTest : public ::testing::Test {
 protected:
  World world;
};

TEST_F(SetupRunsTest, ThreeRunsAndTwoResets) {
  ProgramRun first(world, L"");
  ASSERT_EQ(first.setup->WorkingThread(), 0);
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"XXXCOM4:");
  EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"XXXCOM4:");
  EXPECT_EQ(StringValue(world.registry, kBackup, L"Name"), L"XXXCOM4:");
  EXPECT_EQ(world.Shortcut(), std::string(kShortcutStart) + "/state:1" + kOptions + std::string(1, '\0'));
  EXPECT_EQ(first.host.button, L"Reset");
  EXPECT_EQ(first.record.Status(), L"Please Reset your device to proceed.");
  first.setup->SoftResetDevice();
  EXPECT_EQ(world.system.restarts, 1);

  ProgramRun second(world, world.ShortcutCommand());
  ASSERT_EQ(second.record.m_state, StateStackInactive);
  ASSERT_EQ(second.setup->WorkingThread(), 0);
  ASSERT_EQ(world.runs.size(), 1u);
  EXPECT_EQ(world.runs[0], std::wstring(L"COM4:@115200 ") + kPsrPath);
  EXPECT_EQ(StringValue(world.registry, testing::kTransportKey, L"Name"), L"COM4:");
  EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"COM4:");
  EXPECT_EQ(DwordValue(world.registry, testing::kTransportKey, L"baud"), 921600);
  EXPECT_EQ(DwordValue(world.registry, L"Software\\Microsoft\\HCI", L"baud"), 921600);
  EXPECT_EQ(DwordValue(world.registry, kBackup, L"baud"), 921600);
  EXPECT_EQ(world.Shortcut(), std::string(kShortcutStart) + "/state:2" + kOptions + std::string(1, '\0'));
  EXPECT_TRUE(world.echo.Has(L"New Baudrate 921600 (before 115200) so no Reset during programmation"));

  ProgramRun third(world, world.ShortcutCommand());
  ASSERT_EQ(third.setup->WorkingThread(), 0);
  ExpectWorkingStack(world, 921600);
  EXPECT_EQ(world.Shortcut(), "<none>");  // the button and status: QuillonDialogStartUp's "/state:2" row
  EXPECT_EQ(third.record.m_state, StateInitial);
  EXPECT_TRUE(world.echo.Has(L"the thread has been finished-----"));
}

TEST_F(SetupRunsTest, DirectProgramming) {
  ProgramRun run(world, L"/port:COM7:");
  run.record.SetDirectProgramming(true);
  ASSERT_EQ(run.setup->WorkingThread(), 0);
  EXPECT_EQ(world.runs.at(0), std::wstring(L"COM7:@115200 ") + kPsrPath);
  EXPECT_EQ(world.Shortcut(), "<none>");  // the button and status: QuillonDialogPort's first row
  // The new rate goes only where it can: the HCI key (the port's transport is not marked).
  EXPECT_EQ(DwordValue(world.registry, L"Software\\Microsoft\\HCI", L"baud"), 921600);
  EXPECT_EQ(DwordValue(world.registry, testing::kTransportKey, L"baud"), 115200);

  world.programmingResult = 2;
  ProgramRun failing(world, L"/port:COM7:");
  failing.record.SetDirectProgramming(true);
  EXPECT_EQ(failing.setup->WorkingThread(), 113);
  EXPECT_EQ(failing.host.errorIcons, 1);  // the box, button and status: QuillonDialogPort's second row
  EXPECT_TRUE(world.echo.Has(L"Error unable to open or config the COM port COM7:during programming the radio module"));
}

TEST_F(SetupRunsTest, AProgramFolderThatCannotBeNamedProgramsNoOtherFile) {
  // A file of the same name where the program happens to run must not be taken for its own.
  world.memoryFiles.Put(L"radio.psr", "&01be = 0ebf\n");
  world.system.ownPath = L"\\" + std::wstring(300, L'q') + L"\\Quillon.exe";
  ProgramRun run(world, L"/port:COM7:");
  run.record.SetDirectProgramming(true);
  EXPECT_EQ(run.setup->WorkingThread(), 113);
  EXPECT_TRUE(world.runs.empty());
  EXPECT_EQ(run.host.button, L"Start");
  EXPECT_TRUE(world.echo.Has(L"Error unable to open the PSR file during programming the radio module"));
}

TEST_F(SetupRunsTest, FirstRunFailures) {
  struct Case {
    const char* what;
    std::function<void(testing::SetupWorld&, DialogRecord&)> arrange;
    int expected;
    const wchar_t* status;
  };
  const Case cases[] = {
      {"de-activation", [](testing::SetupWorld& w, DialogRecord&) { PutString(w.registry, kHci, L"Name", L"COM1:"); },
       108, L"Unable to Deactivate the Stack (108)."},
      {"shortcut not created", [](testing::SetupWorld& w, DialogRecord&) { w.files.failCreate = true; }, 109,
       L"Unable to create Shortcut in StartUp folder(109)."},
      {"shortcut not written", [](testing::SetupWorld& w, DialogRecord&) { w.files.failWrite = true; }, 110,
       L"Unable to create Shortcut in StartUp folder(110)."},
      {"own path unknown", [](testing::SetupWorld& w, DialogRecord&) { w.system.ownPath.clear(); }, 115,
       L"Unable to create Shortcut in StartUp folder(115)."},
      {"PSR name with a blank", [](testing::SetupWorld&, DialogRecord& r) { r.SetPsrFile(L"my file.psr"); }, 127,
       L"The PSR file name \"my file.psr\" cannot be carried over a reset (a blank, a \"/\" or too long)."},
      {"port with a slash",
       [](testing::SetupWorld& w, DialogRecord& r) {
         r.SetComPort(L"COM4/");
         PutString(w.registry, testing::kTransportKey, L"Name", L"COM4/");
       },
       127, L"The port name \"COM4/\" cannot be carried over a reset (a blank, a \"/\" or too long)."},
      {"transport key with a blank",
       [](testing::SetupWorld& w, DialogRecord&) {
         PutString(w.registry, testing::kTransportKey, L"Name", L"COM9:");
         PutString(w.registry, L"Software\\Microsoft\\Bluetooth\\Transports\\Built In", L"Name", L"COM4:");
       },
       127,
       L"The transport key \"Software\\Microsoft\\Bluetooth\\Transports\\Built In\" cannot be carried over a reset (a "
       L"blank, a \"/\" or too long)."},
      {"two transports on the port",
       [](testing::SetupWorld& w, DialogRecord&) {
         PutString(w.registry, L"Software\\Microsoft\\Bluetooth\\Transports\\Usb", L"Name", L"COM4:");
       },
       kTwoTransports,
       L"Two transport keys name the port COM4:: Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1 and "
       L"Software\\Microsoft\\Bluetooth\\Transports\\Usb. The setup changes nothing."},
      {"shortcut too long",
       [](testing::SetupWorld& w, DialogRecord&) { w.system.ownPath = L"\\" + std::wstring(150, L'q'); }, 127,
       L"The resume command would be longer than 259 bytes: the program's path, port, PSR file and transport key are "
       L"too long."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::SetupWorld w;
    ProgramRun run(w, L"");
    c.arrange(w, run.record);
    const std::wstring transportName = StringValue(w.registry, testing::kTransportKey, L"Name");
    EXPECT_EQ(run.setup->WorkingThread(), c.expected);
    EXPECT_EQ(run.host.button, L"Start");
    EXPECT_EQ(run.record.Status(), c.status);
    EXPECT_EQ(StringValue(w.registry, testing::kTransportKey, L"Name"), transportName);
    EXPECT_NE(StringValue(w.registry, kHci, L"Name").substr(0, 3), L"XXX");
    EXPECT_TRUE(w.runs.empty());
    // Nothing was interrupted, so the next start has nothing to restore.
    EXPECT_FALSE(KeyExists(w.registry, kBackup));
  }
}

// A second run that fails, or is stopped before the warm reset, keeps the rate the module still
// talks at, and the device's life goes on to a working stack.
// Whatever programming did, the stack gets the rate the module answers at after its reset.
TEST_F(SetupRunsTest, SecondRunProgrammingFailuresStillRestoreTheStack) {
  struct Case {
    int result;
    std::uint32_t moduleRate;  // where the module answers before the run; 0: nowhere
    const wchar_t* status;
    std::size_t boxes;
    std::int64_t baud;  // the stack's rate afterwards
  };
  const Case cases[] = {
      // A refused key still ends with the warm reset: the module applies the rate it took.
      {1, 115200, L"Error programming not terminated correctly during programming the radio module", 1, 921600},
      {2, 115200, L"Error unable to open or config the COM port COM4:during programming the radio module", 1, 115200},
      {3, 115200, L"Error unable to open the PSR file during programming the radio module", 1, 115200},
      {4, 115200, L"Error PSR file invalid during programming the radio module", 1, 115200},
      {0, 0, L"Error the module answered at no baud rate on COM4: during programming the radio module", 1, 115200},
      {9, 115200, L"Unknown Error 9 during programming the radio module", 1, 921600},
      // Stopped after the rate key: the setup resets the module and writes the rate it then has.
      {kProgrammingStoppedEarly, 115200,
       L"Programming stopped after 2 of 5 requests: the module holds part of the file and talks at 921600 baud.", 0,
       921600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    World w;
    ProgramRun first(w, L"");
    ASSERT_EQ(first.setup->WorkingThread(), 0);
    w.programmingResult = c.result;
    w.module.rate = c.moduleRate;
    ProgramRun second(w, w.ShortcutCommand());
    EXPECT_EQ(second.setup->WorkingThread(), 0);
    EXPECT_EQ(second.record.Status(), c.status);
    EXPECT_EQ(second.host.button, L"Reset");
    EXPECT_EQ(second.host.boxes.size(), c.boxes);
    EXPECT_EQ(StringValue(w.registry, testing::kTransportKey, L"Name"), L"COM4:");
    EXPECT_EQ(DwordValue(w.registry, testing::kTransportKey, L"baud"), c.baud);
    EXPECT_EQ(DwordValue(w.registry, L"Software\\Microsoft\\HCI", L"baud"), c.baud);
    EXPECT_NE(w.Shortcut().find("/state:2"), std::string::npos);
    ProgramRun third(w, w.ShortcutCommand());
    EXPECT_EQ(third.setup->WorkingThread(), kSetupNotFinished);  // never "done"
    EXPECT_EQ(third.host.button, L"Start");
    ExpectWorkingStack(w, c.baud);
  }
}

// "Done" only when every key went in and the stack's keys carry the rate the module answers at.
TEST_F(SetupRunsTest, TheLastRunSaysDoneOnlyOnEvidence) {
  struct Case {
    const char* what = nullptr;
    std::uint32_t before = 0, after = 0;  // the module's rate before the run and after its reset
    const wchar_t* lastStatus = nullptr;
    std::int64_t baud = 0;
    bool ignoresTheRunsReset = false;
  } const cases[] = {
      {"the module takes the file's rate", 115200, 921600, kDone, 921600},
      {"a warm reset sent but not carried out", 115200, 921600, kDone, 921600, true},
      {"a key acknowledged but not applied", 115200, 0,
       L"Quillon done, but the module talks at 115200 baud, not at the 921600 that the PSR file sets. Please suspend "
       L"and resume your device.",
       115200},
      {"the module left at the file's rate by an earlier run", 921600, 0, kDone, 921600},
      {"the module applies a rate of its own", 115200, 460800,
       L"Quillon done, but the module talks at 460800 baud, not at the 921600 that the PSR file sets. Please suspend "
       L"and resume your device.",
       460800},
      {"the module lost after its reset", 115200, 1 /* a rate no search tries */,
       L"The setup did not finish: the module did not answer after its "
       L"reset. Press Start for a new setup.",
       115200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    w.module.rate = c.before;
    w.module.afterReset = c.after;
    w.module.ignoresTheRunsReset = c.ignoresTheRunsReset;
    ProgramRun first(w, L"");
    ASSERT_EQ(first.setup->WorkingThread(), 0);
    ProgramRun second(w, w.ShortcutCommand());
    second.setup->WorkingThread();
    ProgramRun third(w, w.ShortcutCommand());
    third.setup->WorkingThread();
    EXPECT_EQ(third.record.Status(), c.lastStatus);
    ExpectWorkingStack(w, c.baud);
  }
  // Started by hand in a state with nothing behind it.
  World w;
  ProgramRun resumed(w, L"/state:1 /port:COM4: /psr:radio.psr /baudrate:115200");
  EXPECT_EQ(resumed.setup->WorkingThread(), kNoSetupToResume);
  EXPECT_TRUE(w.runs.empty());
  ProgramRun finished(w, L"/state:2 /port:COM4: /TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1");
  EXPECT_EQ(finished.setup->WorkingThread(), kSetupNotFinished);
  EXPECT_EQ(finished.host.button, L"Start");
}

// A registry that another program holds is no evidence that the setup is gone: the resumed runs
// change nothing and keep their shortcut, and the setup finishes once the registry is free.
TEST_F(SetupRunsTest, AResumedRunOnABusyRegistryChangesNothing) {
  world.memoryRegistry.failure = platform::kErrorBusy;
  ProgramRun first(world, L"");
  ASSERT_EQ(first.setup->WorkingThread(), 0);
  for (int run = 2; run <= 3; ++run) {
    SCOPED_TRACE(run);
    const std::wstring shortcut = world.ShortcutCommand();
    world.memoryRegistry.failEvery = true;
    ProgramRun resumed(world, shortcut);
    EXPECT_NE(resumed.setup->WorkingThread(), 0);
    world.memoryRegistry.failEvery = false;
    EXPECT_EQ(world.ShortcutCommand(), shortcut);
    ProgramRun again(world, shortcut);
    again.setup->WorkingThread();
  }
  EXPECT_EQ(world.ShortcutCommand(), L"<none>");
  ExpectWorkingStack(world, 921600);
}

// A power cut at any change of the second run resumes it at the next boot: it programs again
// only when the first attempt left no record, and the stack ends at the module's rate.
TEST_F(SetupRunsTest, ASecondRunCutShortIsResumedAndProgramsOnlyWhatIsNotRecorded) {
  for (std::uint32_t cut = 1;; ++cut) {
    SCOPED_TRACE(cut);
    World w;
    ProgramRun first(w, L"");
    ASSERT_EQ(first.setup->WorkingThread(), 0);
    const std::wstring resume = w.ShortcutCommand();
    {
      ProgramRun second(w, resume);
      w.power.cutAfter = w.power.changes + cut;
      second.setup->WorkingThread();
    }
    const bool cutShort = w.power.IsOff();
    w.power.cutAfter = 0;
    if (!cutShort) break;
    w.memoryRegistry.LoseUnflushedChanges();  // what the cut leaves
    SetupOutcome outcome;
    const bool recorded = SetupOutcomeRecord(w.registry).Read(&outcome) == platform::kSuccess;
    if (w.ShortcutCommand() == resume) {
      ProgramRun again(w, resume);
      ASSERT_EQ(again.setup->WorkingThread(), 0);
      EXPECT_EQ(w.runs.size(), recorded ? 1u : 2u);
    }
    FinishDeviceLife(w);
    ExpectWorkingStack(w, 921600);
    ASSERT_LT(cut, 100u);
  }
}

TEST_F(SetupRunsTest, LaterRunFailures) {
  ProgramRun first(world, L"");
  ASSERT_EQ(first.setup->WorkingThread(), 0);
  const std::wstring commandLine = world.ShortcutCommand();
  world.files.failWrite = true;
  ProgramRun second(world, commandLine);
  EXPECT_EQ(second.setup->WorkingThread(), 110);
  EXPECT_EQ(second.host.button, L"Start");
  EXPECT_EQ(second.record.Status(), L"Unable to create Shortcut in StartUp folder(110).");
  EXPECT_EQ(world.Shortcut(), "<none>");  // the old one would repeat this run at every boot

  world.files.failWrite = false;
  world.memoryRegistry.DeleteTree(kHci);
  world.memoryRegistry.FlushAll();
  ProgramRun third(world, L"/state:2 /port:COM4: /TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1");
  EXPECT_EQ(third.setup->WorkingThread(), 106);
  EXPECT_EQ(third.host.button, L"Start");
  EXPECT_EQ(third.record.Status(), L"Unable to give the Bluetooth stack its port back (106).");
  EXPECT_FALSE(KeyExists(world.registry, kBackup));
}

// The backup of the transport tree must be deletable again: a tree one character too deep for
// the deletion's path is refused before the stack is touched.
TEST_F(SetupRunsTest, ATransportTreeAtTheDeletionLimit) {
  struct Case {
    std::size_t backupPath;  // the longest path in the backup
    int first;
  } const cases[] = {{StackRegistry::kDeletePathChars - 1, 0}, {StackRegistry::kDeletePathChars, kValueNotResumable}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.backupPath);
    World w;
    const std::size_t below = c.backupPath - std::wstring_view(kBackup).size() - 2 - 250;
    testing::PutDword(w.registry,
                      std::wstring(testing::kTransportKey) + L"\\" + std::wstring(250, L'a') + L"\\" +
                          std::wstring(below, L'b'),
                      L"x", 1);
    ProgramRun first(w, L"");
    EXPECT_EQ(first.setup->WorkingThread(), c.first);
    if (c.first != 0) {
      EXPECT_EQ(first.record.Status(),
                L"The transport key \"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1\" holds keys too deep for "
                L"its backup to be deleted again.");
    }
    FinishDeviceLife(w);
    ExpectWorkingStack(w, c.first == 0 ? 921600 : 115200);
  }
}

TEST_F(SetupRunsTest, AResumedRunWithoutItsPsrFileGivesTheStackBackAndEndsTheSetup) {
  ProgramRun first(world, L"");
  ASSERT_EQ(first.setup->WorkingThread(), 0);
  ASSERT_EQ(world.memoryFiles.Delete(kPsrPath), platform::kSuccess);
  ProgramRun second(world, world.ShortcutCommand());
  EXPECT_EQ(second.setup->WorkingThread(), kPsrFileNotOpened);
  EXPECT_EQ(second.record.Status(),
            L"The setup stopped: the PSR file \"radio.psr\" is not beside Quillon. The stack has its port back; press "
            L"Start for a new setup.");
  EXPECT_TRUE(world.runs.empty());
  ExpectWorkingStack(world, 115200);
  EXPECT_EQ(world.Shortcut(), "<none>");
}

// The setup from the user's "Start" on, until it ends or the power goes.
void LiveUntilThePowerGoes(World& w) {
  ProgramRun first(w, L"");
  first.setup->WorkingThread();
  for (int boot = 0; boot < 3 && !w.power.IsOff(); ++boot) {
    if (w.ShortcutCommand() == L"<none>") return;
    ProgramRun run(w, w.ShortcutCommand());
    run.setup->WorkingThread();
  }
}

TEST(SetupInterrupted, AFailureAtAnyRegistryCallEndsInAWorkingStack) {
  std::uint32_t calls = 0;
  {
    World w;
    LiveUntilThePowerGoes(w);
    calls = w.power.calls;
  }
  ASSERT_GT(calls, 50u);
  for (std::uint32_t call = 1; call <= calls; ++call) {
    SCOPED_TRACE(call);
    World w;
    ProgramRun first(w, L"");
    w.power.failCall = w.power.calls + call;
    const int result = first.setup->WorkingThread();
    EXPECT_EQ(first.host.button, result == 0 ? L"Reset" : L"Start");
    if (result != 0) {
      EXPECT_NE(first.record.Status(), L"");
    }
    FinishDeviceLife(w);
    w.power.failCall = 0;
    FinishDeviceLife(w);
    ExpectWorkingStack(w, 0);
  }
}

// The outcome record is evidence only where it can be read: a run that cannot read it keeps it
// and its shortcut, and the next boot goes on. The stack's keys follow the rate it names.
TEST(SetupInterrupted, AnUnreadableOutcomeRecordIsKeptAndTheStackFollowsTheModule) {
  World w;
  ProgramRun first(w, L"");
  ASSERT_EQ(first.setup->WorkingThread(), 0);
  ProgramRun second(w, w.ShortcutCommand());
  ASSERT_EQ(second.setup->WorkingThread(), 0);
  const std::wstring third = w.ShortcutCommand();
  // A second run resumed while the record cannot be read programs nothing again.
  w.registry.unreadableKey = kOutcomePath;
  ProgramRun resumed(w, w.ShortcutCommand().replace(w.ShortcutCommand().find(L"/state:2"), 8, L"/state:1"));
  EXPECT_EQ(resumed.setup->WorkingThread(), kRegistryUnreadable);
  EXPECT_EQ(w.runs.size(), 1u);
  ProgramRun blind(w, third);
  EXPECT_EQ(blind.setup->WorkingThread(), kRegistryUnreadable);
  EXPECT_EQ(w.ShortcutCommand(), third);
  // The backup lost the rate the module was found at (a write of the second run that failed).
  w.registry.unreadableKey.clear();
  testing::PutDword(w.memoryRegistry, kBackup, L"baud", 115200);
  ProgramRun last(w, third);
  EXPECT_EQ(last.setup->WorkingThread(), 0);
  EXPECT_EQ(last.record.Status(), kDone);
  EXPECT_EQ(w.ShortcutCommand(), L"<none>");
  ExpectWorkingStack(w, 921600);
}

// A start by hand whose recovery cannot read the backup changes nothing.
TEST(SetupInterrupted, ARecoveryThatCannotReadTheBackupChangesNothing) {
  World w;
  ProgramRun first(w, L"");
  ASSERT_EQ(first.setup->WorkingThread(), 0);
  const std::wstring shortcut = w.ShortcutCommand();
  w.registry.unreadableKey = kBackup;
  ProgramRun byHand(w, L"");
  EXPECT_EQ(byHand.setup->Recovery().RecoverInterruptedSetup(), kRegistryUnreadable);
  w.registry.unreadableKey.clear();
  EXPECT_EQ(StringValue(w.registry, kHci, L"Name"), L"XXXCOM4:");
  EXPECT_EQ(w.ShortcutCommand(), shortcut);
  FinishDeviceLife(w);
  ExpectWorkingStack(w, 921600);
}

TEST(SetupInterrupted, APowerCutAfterAnyChangeEndsInAWorkingStackAtTheNextStart) {
  std::uint32_t changes = 0;
  {
    World w;
    LiveUntilThePowerGoes(w);
    ExpectWorkingStack(w, 921600);
    changes = w.power.changes;
  }
  ASSERT_GT(changes, 20u);
  for (std::uint32_t cut = 1; cut <= changes; ++cut) {
    SCOPED_TRACE(cut);
    World w;
    w.power.cutAfter = w.power.changes + cut;
    LiveUntilThePowerGoes(w);
    w.power.cutAfter = 0;
    FinishDeviceLife(w);
    ExpectWorkingStack(w, 0);
    // And the setup can be done again from there.
    LiveUntilThePowerGoes(w);
    ExpectWorkingStack(w, 921600);
    EXPECT_EQ(w.Shortcut(), "<none>");
  }
}

TEST(SetupInterrupted, TheFirstStartRestoresTheTransportKeyFromTheBackupThenDeletesIt) {
  testing::SetupWorld w;
  ProgramRun first(w, L"");
  ASSERT_EQ(first.setup->WorkingThread(), 0);
  PutString(w.registry, testing::kTransportKey, L"Driver", L"changed while the stack was off");
  ProgramRun byHand(w, L"");
  EXPECT_EQ(byHand.setup->Recovery().RecoverInterruptedSetup(), 0);
  ExpectWorkingStack(w, 115200);
  EXPECT_EQ(w.Shortcut(), "<none>");
  EXPECT_EQ(byHand.record.Status(), L"The Bluetooth stack of an interrupted setup has been restored.");
  // Nothing is left for a second start.
  ProgramRun again(w, L"");
  EXPECT_EQ(again.setup->Recovery().RecoverInterruptedSetup(), 0);
  EXPECT_EQ(again.host.posts, 0);
}

// A backup that belongs to no marked transport is an older setup's: never applied to the working
// stack, reported, and replaced by the next setup, which goes on as on a clean device.
TEST(SetupInterrupted, ABackupOfNoMarkedTransportIsNeverAppliedAndBlocksNothing) {
  struct Case {
    const char* what;
    const wchar_t* name;  // the backup's "Name"; null: none
  } const cases[] = {
      {"the working port's own name, unmarked", L"COM4:"},
      {"the port's marked name, the transport already unmarked", L"XXXCOM4:"},
      {"another port", L"XXXCOM7:"},
      {"no name", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World w;
    if (c.name != nullptr) PutString(w.registry, kBackup, L"Name", c.name);
    testing::PutDword(w.registry, kBackup, L"baud", 9600);
    PutString(w.registry, kBackup, L"Driver", L"old.dll");
    PutString(w.registry, kBackup, L"Stale", L"old");
    ProgramRun byHand(w, L"");
    EXPECT_EQ(byHand.setup->Recovery().RecoverInterruptedSetup(), 0);
    EXPECT_EQ(DwordValue(w.registry, testing::kTransportKey, L"baud"), 115200);
    EXPECT_EQ(StringValue(w.registry, testing::kTransportKey, L"Driver"), L"bthuart.dll");
    EXPECT_EQ(StringValue(w.registry, testing::kTransportKey, L"Name"), L"COM4:");
    EXPECT_EQ(StringValue(w.registry, kBackup, L"Driver"), L"old.dll");
    EXPECT_NE(byHand.record.Status().find(L"matches no switched-off transport: it was not applied"),
              std::wstring::npos);
    ProgramRun first(w, L"");
    ASSERT_EQ(first.setup->WorkingThread(), 0);
    EXPECT_EQ(StringValue(w.registry, kBackup, L"Driver"), L"bthuart.dll");
    EXPECT_EQ(StringValue(w.registry, kBackup, L"Stale"), L"<no value>");
    FinishDeviceLife(w);
    ExpectWorkingStack(w, 921600);
  }
}

TEST(SetupInterrupted, OnlyTheHciKeyMarked) {
  testing::SetupWorld w;
  PutString(w.registry, kHci, L"Name", L"XXXCOM4:");
  ProgramRun byHand(w, L"");
  EXPECT_EQ(byHand.setup->Recovery().RecoverInterruptedSetup(), 0);
  EXPECT_EQ(byHand.record.Status(), L"The Bluetooth stack of an interrupted setup has been restored.");
  ExpectWorkingStack(w, 115200);
}

// Exactly at the limits of the port's name, the program's own path and the PSR path, and one past.
TEST(SetupLimits, TextsAtTheirLimits) {
  struct Case {
    const char* what;
    std::size_t port, ownPath, psrPath;  // lengths
    bool programs;
  } const cases[] = {
      {"marked port name of 129", kMaxStringChars - 3, 40, 40, true},
      {"marked port name of 130", kMaxStringChars - 2, 40, 40, false},
      {"own path of 259", 5, QuillonSetup::kTextChars - 1, QuillonSetup::kTextChars - 1, true},
      {"own path of 260", 5, QuillonSetup::kTextChars, QuillonSetup::kTextChars - 1, false},
      {"PSR path of 259", 5, 40, QuillonSetup::kTextChars - 1, true},
      {"PSR path of 260", 5, 40, QuillonSetup::kTextChars, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::SetupWorld w;
    const std::wstring port = L"COM" + std::wstring(c.port - 4, L'7') + L":";
    const std::wstring folder = L"\\" + std::wstring(c.ownPath - 13, L'q') + L"\\";
    w.system.ownPath = folder + L"Quillon.exe";
    const std::wstring psr = std::wstring(c.psrPath - folder.size() - 4, L'r') + L".psr";
    w.memoryFiles.Put(folder + psr, "&01be = 0ebf\n");
    ProgramRun run(w, L"");
    run.record.SetComPort(port);
    run.record.SetPsrFile(psr);
    ASSERT_EQ(run.record.ComPort(), port);
    ASSERT_EQ(run.record.PsrFile(), psr);
    if (c.port != 5) {
      EXPECT_EQ(run.setup->ResumeProblem().empty(), c.programs);
      continue;
    }
    run.record.SetDirectProgramming(true);
    run.setup->WorkingThread();
    EXPECT_EQ(w.runs.size(), c.programs ? 1u : 0u);
  }
}

TEST(SetupInterrupted, ABackupThatCannotBeCopiedBackIsKept) {
  // Each call of the restore fails in turn, until it is the one that creates the transport key.
  for (std::uint32_t call = 1; call < 200; ++call) {
    testing::SetupWorld w;
    ProgramRun first(w, L"");
    ASSERT_EQ(first.setup->WorkingThread(), 0);
    ProgramRun byHand(w, L"");
    w.power.failCall = w.power.calls + call;
    if (byHand.setup->Recovery().RecoverInterruptedSetup() != 120) continue;
    EXPECT_TRUE(KeyExists(w.registry, kBackup));
    EXPECT_EQ(byHand.record.Status(), L"Unable to restore the Bluetooth stack of an interrupted setup (120).");
    EXPECT_EQ(StringValue(w.registry, kHci, L"Name"), L"COM4:");
    // The next start finishes the restore.
    w.power.failCall = 0;
    ProgramRun later(w, L"");
    EXPECT_EQ(later.setup->Recovery().RecoverInterruptedSetup(), 0);
    ExpectWorkingStack(w, 115200);
    return;
  }
  FAIL() << "no failed call made the copy back fail";
}

}  // namespace
}  // namespace quillon
