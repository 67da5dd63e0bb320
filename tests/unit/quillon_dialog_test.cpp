// The setup program's dialog against a scripted window: start-up, the button cycle over the three
// runs, the confirmations, the working thread's start and stop, and the edge cases of bad input.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "setup/setup_outcome.h"
#include "tests/fakes/fake_kernel_objects.h"
#include "tests/fakes/scripted_dialog_host.h"
#include "tests/unit/setup_test_support.h"
#include "ui/deferred_restart.h"
#include "ui/quillon_dialog.h"
#include "ui/quillon_resource_table.h"
#include "ui/quillon_resources.h"

namespace quillon::testing {
namespace {

using platform::MessageBoxAnswer;
using ui::QuillonDialog;

constexpr wchar_t kProgramFolder[] = L"\\Program Files\\Quillon\\";
using testing::kDone;
constexpr wchar_t kResetAsked[] = L"Please Reset your device to proceed.";

class FakeFolder final : public platform::FolderListing {
 public:
  platform::ErrorCode List(std::wstring_view pattern, std::vector<std::wstring>* out) override {
    patterns.emplace_back(pattern);
    *out = names;
    return names.empty() ? platform::kErrorFileNotFound : platform::kSuccess;
  }
  std::vector<std::wstring> names;
  std::vector<std::wstring> patterns;
};

// A programming run that holds until the test opens the gate, or until the stop event is set.
struct Gate {
  std::mutex lock;
  std::condition_variable changed;
  bool open = true;
  bool heedStop = true;
  int entered = 0;
  bool sawStop = false;
  // What the test thread reads while a run may still be going.
  bool SawStop() {
    std::lock_guard<std::mutex> hold(lock);
    return sawStop;
  }
  int Entered() {
    std::lock_guard<std::mutex> hold(lock);
    return entered;
  }
};

struct DialogWorld : SetupWorld {
  DialogWorld() {
    folders.names = {L"demo.psr"};
    memoryFiles.Put(std::wstring(kProgramFolder) + L"demo.psr", "&01be = 01d8\n");
  }
  ~DialogWorld() {
    Release();
    if (dialog) dialog->WaitForWorkingThreadEnd(5000);
  }

  ProgrammingRun Run() {
    return [this, programming = Programming()](std::wstring_view port, std::span<const std::uint32_t> rates,
                                               std::wstring_view path, platform::Event* stop) {
      std::unique_lock<std::mutex> hold(gate.lock);
      ++gate.entered;
      gate.changed.notify_all();
      for (;;) {
        // The event is looked at even when the run does not heed it: it must outlive the wait.
        const bool stopped = stop != nullptr && stop->Wait(0);
        gate.sawStop = gate.sawStop || stopped;
        if (gate.open) break;
        if (stopped && gate.heedStop) {
          programmingResult = kProgrammingStoppedEarly;  // as the engine ends a stopped run
          break;
        }
        gate.changed.wait_for(hold, std::chrono::milliseconds(1));
      }
      return programming(port, rates, path, stop);
    };
  }

  void Open(std::wstring commandLine = {}) {
    dialog = std::make_unique<QuillonDialog>(ui::DialogRoles{kernel, folders, system},
                                             SetupRoles{registry, files, system}, Run(), Probe());
    window = std::make_unique<ScriptedDialogWindow>(*ui::QuillonResources().FindDialog(QUILLON_DIALOG), *dialog);
    dialog->Record().m_commandLine = std::move(commandLine);
    dialog->OnInitDialog(*window);
    if (gate.open) Settle();
  }
  // Handles what is posted, as the message loop does, until no working thread runs.
  void Settle() {
    for (int i = 0; i < 10000 && dialog->WorkingThreadRunning(); ++i) {
      window->DeliverPosted();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    window->DeliverPosted();
  }
  void WaitUntilEntered(int runsEntered) {
    std::unique_lock<std::mutex> hold(gate.lock);
    gate.changed.wait_for(hold, std::chrono::seconds(10), [&] { return gate.entered >= runsEntered; });
  }
  void Release() {
    std::lock_guard<std::mutex> hold(gate.lock);
    gate.open = true;
    gate.changed.notify_all();
  }
  void Press() { window->Press(QUILLON_COMMAND_BUTTON); }
  std::wstring& Button() { return window->texts[QUILLON_COMMAND_BUTTON]; }
  std::wstring& Status() { return window->texts[QUILLON_STATUS_LINE]; }
  std::wstring& Port() { return window->texts[QUILLON_COM_PORT]; }
  std::wstring& Selected() { return window->texts[QUILLON_PSR_LIST]; }

  FakeFolder folders;
  FakeKernelObjects kernel;
  Gate gate;
  std::unique_ptr<QuillonDialog> dialog;
  std::unique_ptr<ScriptedDialogWindow> window;
};

// The names of a folder, given as one text with a blank between names.
std::vector<std::wstring> Names(std::wstring_view text) {
  std::vector<std::wstring> names;
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find(L' ', at), text.size());
    names.emplace_back(text.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

TEST(QuillonDialogStartUp, WhatTheWindowShowsForEachStart) {
  constexpr wchar_t kNoFile[] = L"There is no PSR file at the same location than Quillon";
  constexpr wchar_t kNoPort[] = L"Unable to retrieve the Bluetooth Serial port (101).";
  constexpr wchar_t kNothingToResume[] =
      L"There is no setup to resume: the stack's keys were not taken off the port. Press Start for a new setup.";
  constexpr wchar_t kPsrGone[] =
      L"The setup stopped: the PSR file \"demo.psr\" is not beside Quillon. The stack has its port back; press Start "
      L"for a new setup.";
  constexpr wchar_t kNotFinished[] =
      L"The setup did not finish: the programming run left no record. Press Start for a new setup.";
  struct Case {
    const char* what;
    std::vector<std::wstring> files;
    bool stackPort;
    std::wstring commandLine;
    std::wstring button, status, port, selected, psrFile;
    std::size_t items;
    std::size_t runs;
    void (*prepare)(SetupWorld&) = nullptr;  // what earlier runs left on the device
  } const cases[] = {
      {"stack found", Names(L"b.psr a.psr"), true, L"", L"Start", L"", L"COM4:", L"b.psr", L"b.psr", 2, 0},
      {"empty folder", Names(L""), true, L"", L"Close", kNoFile, L"COM4:", L"", L"no psr file found", 0, 0},
      {"eleven files",
       Names(L"f00.psr f01.psr f02.psr f03.psr f04.psr f05.psr f06.psr f07.psr f08.psr f09.psr f10.psr"), true, L"",
       L"Start", L"", L"COM4:", L"f00.psr", L"f00.psr", 10, 0},
      {"/psr: names a file not listed", Names(L"demo.psr"), true, L"/psr:other.psr", L"Start", L"", L"COM4:",
       L"demo.psr", L"other.psr", 1, 0},
      {"no stack port", Names(L"demo.psr"), false, L"", L"Start", kNoPort, L"???", L"demo.psr", L"demo.psr", 1, 0},
      {"no stack port, /port:", Names(L"demo.psr"), false, L"/port:COM7:", L"Start", kNoPort, L"COM7:", L"demo.psr",
       L"demo.psr", 1, 0},
      {"/state:3", Names(L"demo.psr"), true, L"/state:3", L"", L"", L"COM4:", L"demo.psr", L"demo.psr", 1, 0},
      {"/state:1 starts by itself", Names(L"demo.psr"), true, L"/state:1 /port:COM4: /psr:demo.psr /baudrate:115200",
       L"Reset", kResetAsked, L"COM4:", L"demo.psr", L"demo.psr", 1, 1,
       [](SetupWorld& w) { PutString(w.memoryRegistry, kBackup, L"Name", L"XXXCOM4:"); }},
      {"/state:1 without a PSR file", Names(L""), true,
       L"/state:1 /port:COM4: /psr:demo.psr /baudrate:115200 "
       L"/TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1",
       L"Start", kPsrGone, L"COM4:", L"", L"demo.psr", 0, 0,
       [](SetupWorld& w) {
         w.memoryFiles.Delete(std::wstring(kProgramFolder) + L"demo.psr");
         PutString(w.memoryRegistry, kBackup, L"Name", L"XXXCOM4:");
         PutString(w.memoryRegistry, kTransportKey, L"Name", L"XXXCOM4:");
       }},
      {"/state:1 with nothing to resume", Names(L"demo.psr"), true,
       L"/state:1 /port:COM4: /psr:demo.psr /baudrate:115200", L"Start", kNothingToResume, L"COM4:", L"demo.psr",
       L"demo.psr", 1, 0},
      // Formerly TheThreeRunsOfASetup, with the first two runs' ends in ClosingInTheMiddleOfProgramming.
      {"/state:2 finishes by itself", Names(L"demo.psr"), true,
       L"/state:2 /port:COM4: /psr:demo.psr /TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1",
       L"Close", kDone, L"COM4:", L"demo.psr", L"demo.psr", 1, 0,
       [](SetupWorld& w) {
         SetupOutcomeRecord(w.registry).Write({true, 115200, 0});
       }},
      {"/state:2 without a programming record", Names(L"demo.psr"), true,
       L"/state:2 /port:COM4: /psr:demo.psr /TransportReg:Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1",
       L"Start", kNotFinished, L"COM4:", L"demo.psr", L"demo.psr", 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DialogWorld world;
    world.folders.names = c.files;
    if (!c.stackPort) world.memoryRegistry.DeleteTree(kHci);
    if (c.prepare != nullptr) c.prepare(world);
    world.Open(c.commandLine);
    EXPECT_EQ(world.Button(), c.button);
    EXPECT_EQ(world.Status(), c.status);
    EXPECT_EQ(world.Port(), c.port);
    EXPECT_EQ(world.Selected(), c.selected);
    EXPECT_EQ(world.dialog->Record().PsrFile(), c.psrFile);
    EXPECT_EQ(world.window->lists[QUILLON_PSR_LIST].size(), c.items);
    EXPECT_EQ(world.runs.size(), c.runs);
    EXPECT_EQ(world.dialog->Record().DirectProgramming(), !c.stackPort);
    EXPECT_EQ(world.window->icon, QUILLON_ICON);
    EXPECT_TRUE(world.window->boxes.empty());
  }
}

// While one Quillon runs a setup, a second start by hand neither restores nor starts anything.
// Another Quillon, or another program holding the registry: the start changes nothing.
TEST(QuillonDialogStartUp, ASecondQuillonOrABusyRegistryChangesNothing) {
  for (const bool busy : {false, true}) {
    for (const wchar_t* commandLine : {L"", L"/state:1 /port:COM4: /psr:demo.psr /baudrate:115200"}) {
      SCOPED_TRACE(platform::WideToUtf8(commandLine) + (busy ? " busy registry" : " second Quillon"));
      DialogWorld world;
      PutString(world.memoryRegistry, kBackup, L"Name", L"XXXCOM4:");
      PutString(world.memoryRegistry, kHci, L"Name", L"XXXCOM4:");
      world.kernel.Mutex(ui::kInstanceMutexName).heldElsewhere = !busy;
      world.memoryRegistry.failure = platform::kErrorBusy;
      world.memoryRegistry.failEvery = busy;
      world.Open(commandLine);
      const std::wstring busyText = *commandLine == L'\0'
                                        ? L"The registry is busy: another program holds it. Nothing was changed; start "
                                          L"Quillon again once that program is done."
                                        : L"The registry is busy: another program holds it. Nothing was changed; "
                                          L"restart the device to resume the setup.";
      EXPECT_EQ(world.Status(),
                busy ? busyText : L"Another Quillon is running a setup on this device: this one changes nothing.");
      EXPECT_EQ(world.Button(), L"Close");
      EXPECT_TRUE(world.runs.empty());
      world.memoryRegistry.failEvery = false;
      EXPECT_EQ(StringValue(world.registry, kBackup, L"Name"), L"XXXCOM4:");
      EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"XXXCOM4:");
      // Once the other one has ended, a start restores as before.
      world.kernel.Mutex(ui::kInstanceMutexName).heldElsewhere = false;
      world.window.reset();
      world.dialog.reset();
      world.Open();
      EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"COM4:");
    }
  }
}

TEST(QuillonDialogStartUp, AStopEventThatCannotBeMadeEndsTheAutomaticStartWithTheInitBox) {
  DialogWorld world;
  world.kernel.eventFailures.FailOnCall(1);
  world.Open(L"/state:1 /port:COM4: /psr:demo.psr");
  EXPECT_EQ(world.window->boxes, (std::vector<std::wstring>{L"Error: Error 114 occured during init."}));
  EXPECT_EQ(world.Status(), L"Unable to create an event, please reset your device and try again.");
  EXPECT_TRUE(world.runs.empty());
}

TEST(QuillonDialogStartUp, TheEmptyFolderCloses) {
  DialogWorld world;
  world.folders.names.clear();
  world.Open();
  world.Press();
  world.Settle();
  EXPECT_EQ(world.window->endResult, platform::kCommandCancel);
  EXPECT_TRUE(world.runs.empty());
  // What was posted on the way out, and keys still pressed, find no window to act on.
  world.window->Press(platform::kCommandCancel);
  world.Press();
  world.Settle();
}

TEST(QuillonDialogPsrFiles, NamesAreListedWholeOrLeftOut) {
  DialogWorld world;
  const std::wstring longest(ui::kNameChars - 1, L'a');
  world.folders.names = {longest, std::wstring(ui::kNameChars, L'b'), L"c.psr"};
  world.Open();
  std::array<ui::NameSlot, 2> slots{};
  std::size_t count = slots.size();
  EXPECT_EQ(world.dialog->ListPsrFiles(slots, &count), 0);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(std::wstring(slots[0].data()), longest);
  EXPECT_EQ(std::wstring(slots[1].data()), L"c.psr");
  EXPECT_EQ(world.folders.patterns.back(), std::wstring(kProgramFolder) + L"*.psr");
}

TEST(QuillonDialogPort, AChangedPortIsConfirmedOnce) {
  struct Case {
    MessageBoxAnswer answer;
    std::wstring portShown;
    std::wstring button;
    std::size_t runs;
  } const cases[] = {
      {MessageBoxAnswer::kNo, L"COM4:", L"Start", 0},
      {MessageBoxAnswer::kYes, L"COM9:", L"Close", 1},
  };
  for (const Case& c : cases) {
    DialogWorld world;
    world.Open();
    world.Port() = L"COM9:";
    world.window->answers = {c.answer};
    world.Press();
    world.Settle();
    EXPECT_EQ(world.window->boxes, (std::vector<std::wstring>{L"Confirmation: Are you sure about using COM9: port?"}));
    EXPECT_EQ(world.Port(), c.portShown);
    EXPECT_EQ(world.Button(), c.button);
    ASSERT_EQ(world.runs.size(), c.runs);
    if (c.runs == 0) continue;
    EXPECT_EQ(world.runs[0], L"COM9:@115200 \\Program Files\\Quillon\\demo.psr");  // directly, the stack untouched
    EXPECT_EQ(StringValue(world.registry, kTransportKey, L"Name"), L"COM4:");
    EXPECT_EQ(world.Status(), kDone);
    world.Button() = L"Start";
    world.Port() = L"COM8:";
    world.Press();  // no second confirmation
    world.Settle();
    EXPECT_EQ(world.window->boxes.size(), 1u);
    EXPECT_EQ(world.runs.back(), L"COM8:@115200 \\Program Files\\Quillon\\demo.psr");
  }
}

// Without a stack port, a typed port is taken without a question, cut to its field's buffer.
TEST(QuillonDialogPort, WithoutAStackPortATypedPortIsProgrammedDirectly) {
  struct Case {
    std::wstring typed;
    int programmingResult;  // 2: what the engine answers for a port it cannot open
    std::wstring runPort;
    std::vector<std::wstring> boxes;
    std::wstring button;
  } const cases[] = {
      {L"COM5:", 0, L"COM5:", {}, L"Close"},
      {std::wstring(300, L'#'),
       2,
       std::wstring(ui::kNameChars - 1, L'#'),
       {L"Error: Unable to change the PS Keys"},
       L"Start"},
  };
  for (const Case& c : cases) {
    DialogWorld world;
    world.memoryRegistry.DeleteTree(kHci);
    world.programmingResult = c.programmingResult;
    world.Open();
    world.Port() = c.typed;
    world.Press();
    world.Settle();
    EXPECT_EQ(world.runs, std::vector<std::wstring>{c.runPort + L"@115200 \\Program Files\\Quillon\\demo.psr"});
    EXPECT_EQ(world.window->boxes, c.boxes);
    EXPECT_EQ(world.Button(), c.button);
    EXPECT_EQ(world.Status(), c.programmingResult == 0 ? kDone : L"");
  }
}

// A stopped run says what the stop left and offers what comes next: Start again when the stack
// was never touched, Reset once the stack has its port back in the second run.
TEST(QuillonDialogThread, StartWhileRunningStopRefusedAndStopConfirmed) {
  const std::wstring stopped =
      L"Programming stopped after 2 of 5 requests: the module holds part of the file and talks at 115200 baud.";
  for (const bool resumed : {false, true}) {
    SCOPED_TRACE(resumed ? "second run" : "direct programming");
    DialogWorld world;
    std::wstring resume;
    if (resumed) {
      world.Open();
      world.Press();
      world.Settle();
      resume = world.ShortcutCommand();
      world.dialog.reset();
    } else {
      world.memoryRegistry.DeleteTree(kHci);
    }
    world.gate.open = false;
    world.Open(resume);
    if (!resumed) world.Press();
    world.WaitUntilEntered(1);
    EXPECT_EQ(world.Button(), L"Stop");

    world.Button() = L"Start";  // as after a run that set "Start" and has not quite ended
    world.Press();
    EXPECT_EQ(world.Button(), L"Stop");
    world.window->boxes.clear();
    world.window->answers = {MessageBoxAnswer::kNo};
    world.Press();
    EXPECT_EQ(world.Button(), L"Stop");
    EXPECT_TRUE(world.dialog->WorkingThreadRunning());
    EXPECT_FALSE(world.gate.SawStop());

    world.window->answers = {MessageBoxAnswer::kYes};
    world.Press();
    EXPECT_EQ(world.window->boxes,
              (std::vector<std::wstring>(2, L"Please confirm: Are you sure to stop the PS Key programmation?")));
    EXPECT_TRUE(world.gate.SawStop());
    world.Settle();
    EXPECT_EQ(world.Button(), resumed ? L"Reset" : L"Start");
    EXPECT_EQ(world.Status(), stopped);
    EXPECT_EQ(world.gate.Entered(), 1);
  }
}

// A run that ends while the stop question is asked keeps its last word: Yes stops nothing.
TEST(QuillonDialogThread, AStopConfirmedAfterTheRunEndedChangesNothing) {
  DialogWorld world;
  world.memoryRegistry.DeleteTree(kHci);
  world.gate.open = false;
  world.Open();
  world.Press();
  world.WaitUntilEntered(1);
  world.Release();
  world.dialog->WaitForWorkingThreadEnd(5000);  // its last word is posted, not yet shown
  world.window->answers = {MessageBoxAnswer::kYes};
  world.Press();
  world.Settle();
  EXPECT_EQ(world.Button(), L"Close");
  EXPECT_EQ(world.Status(), kDone);
}

// A port typed while the second run programs changes nothing for that run.
TEST(QuillonDialogThread, APortTypedDuringARunIsGivenBack) {
  DialogWorld world;
  world.Open();
  world.Press();
  world.Settle();
  const std::wstring resume = world.ShortcutCommand();
  ASSERT_NE(resume.find(L"/state:1"), std::wstring::npos);
  world.window.reset();
  world.dialog.reset();
  world.gate.open = false;
  world.Open(resume);
  world.WaitUntilEntered(1);
  world.Port() = L"COM9:";
  world.window->answers = {MessageBoxAnswer::kNo};
  world.Press();
  EXPECT_EQ(world.window->boxes,
            (std::vector<std::wstring>{L"Please confirm: Are you sure to stop the PS Key programmation?"}));
  EXPECT_EQ(world.Port(), L"COM4:");
  world.Release();
  world.Settle();
  EXPECT_EQ(StringValue(world.registry, kTransportKey, L"Name"), L"COM4:");
  EXPECT_EQ(StringValue(world.registry, kHci, L"Name"), L"COM4:");
  EXPECT_NE(world.ShortcutCommand().find(L"/state:2 /port:COM4:"), std::wstring::npos);
}

TEST(QuillonDialogThread, AThreadThatOutlivesItsStopIsNeverJoinedByASecond) {
  DialogWorld world;
  world.memoryRegistry.DeleteTree(kHci);
  world.gate.open = false;
  world.gate.heedStop = false;
  world.Open();
  world.Press();
  world.WaitUntilEntered(1);
  world.dialog->StopWorkingThread(20);
  EXPECT_TRUE(world.dialog->WorkingThreadRunning());
  world.Button() = L"Start";
  world.Press();
  world.window->DeliverPosted();
  EXPECT_EQ(world.Status(), L"The previous working thread has not ended yet, please wait and try again.");
  EXPECT_EQ(world.Button(), L"Start");
  EXPECT_EQ(world.gate.Entered(), 1);

  world.Release();  // the old thread still reads its stop event, which the dialog has let go
  world.Settle();
  EXPECT_TRUE(world.gate.SawStop());
  world.Button() = L"Start";
  world.Press();
  world.WaitUntilEntered(2);
  world.Settle();
  EXPECT_EQ(world.gate.Entered(), 2);
}

TEST(QuillonDialogThread, ClosingInTheMiddleOfProgrammingFinishesTheRunFirst) {
  constexpr int kCloseBox = -1;  // the platform's close request
  for (const int command : {platform::kCommandCancel, platform::kCommandOk, kCloseBox}) {
    DialogWorld world;
    world.Open();
    world.Press();
    world.Settle();
    ASSERT_EQ(world.Button(), L"Reset");
    world.Press();
    EXPECT_EQ(world.system.restarts, 1);
    const std::wstring resume = world.ShortcutCommand();

    world.gate.open = false;
    world.Open(resume);
    world.WaitUntilEntered(1);
    if (command == kCloseBox) {
      world.window->Post(platform::kCloseMessage, 0, 0);
      world.window->DeliverPosted();
    } else {
      world.window->Press(command);
    }
    EXPECT_EQ(world.window->endResult, command == kCloseBox ? platform::kCommandCancel : command);
    EXPECT_FALSE(world.dialog->WorkingThreadRunning());
    EXPECT_TRUE(world.gate.SawStop());
    // The stack has its port back and the third run is ready: nothing is left half done.
    EXPECT_EQ(StringValue(world.registry, kTransportKey, L"Name"), L"COM4:");
    EXPECT_NE(world.ShortcutCommand().find(L"/state:2"), std::wstring::npos);
  }
}

TEST(QuillonDialogRestart, TheRestartWaitsForTheWindowToEnd) {
  FakeSystem platformSystem;
  ui::DeferredRestart restart(platformSystem);
  int closes = 0;
  restart.OnRequest([&] { ++closes; });
  EXPECT_EQ(restart.RequestRestart(), platform::kSuccess);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(platformSystem.restarts, 0);
  EXPECT_TRUE(restart.Requested());
  restart.RestartNow();
  EXPECT_EQ(platformSystem.restarts, 1);
}

}  // namespace
}  // namespace quillon::testing
