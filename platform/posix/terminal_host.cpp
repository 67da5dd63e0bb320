#include "platform/posix/terminal_host.h"

#define NCURSES_WIDECHAR 1
#include <fcntl.h>
#include <ncursesw/curses.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/posix/curses_screen.h"
#include "platform/posix/device_root.h"
#include "platform/text.h"

extern char** environ;

namespace quillon::platform::posix {
namespace {

using terminal::Key;
using terminal::KeyCode;

constexpr ErrorCode kErrorClassAlreadyExists = 1410;
// The message a second start posts to the running program's queue.
constexpr std::uint32_t kActivateMessage = 0x0006;
constexpr int kKeyWaitMs = 50;
constexpr std::size_t kMaxPostedMessages = 10000;  // as a Windows message queue

std::size_t CopyTerminated(std::wstring_view text, std::span<wchar_t> out) {
  if (out.empty()) return 0;
  const std::size_t length = std::min(text.size(), out.size() - 1);
  text.copy(out.data(), length);
  out[length] = L'\0';
  return length;
}

// Inside tmux, selects the window and pane this program runs in.
void SelectTmuxPane() {
  const char* pane = std::getenv("TMUX_PANE");
  if (pane == nullptr || std::getenv("TMUX") == nullptr) return;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::string target(pane);
  char tmux[] = "tmux", selectWindow[] = "select-window", selectPane[] = "select-pane", option[] = "-t",
       separator[] = ";";
  char* arguments[] = {tmux,       selectWindow, option,        target.data(), separator,
                       selectPane, option,       target.data(), nullptr};
  pid_t child = 0;
  if (posix_spawnp(&child, "tmux", &actions, nullptr, arguments, environ) == 0) {
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
  }
  posix_spawn_file_actions_destroy(&actions);
}

// Ctrl-C, a hang-up and a request to end arrive as signals: while the screen is up they become the
// window's close request (as its close box), so that the program ends its own way and hands the
// terminal back. The flag is the one thing a signal handler may touch.
volatile std::sig_atomic_t closeSignalled = 0;
void NoteCloseSignal(int) { closeSignalled = 1; }
constexpr int kCloseSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Makes `group` the terminal's foreground process group. A program started in a process group of
// its own (as the device emulator starts its programs) would otherwise be stopped by the terminal
// as soon as it draws or reads a key.
void SetForegroundGroup(pid_t group) {
  sigset_t blocked, previous;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGTTOU);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous);
  (void)tcsetpgrp(STDIN_FILENO, group);
  pthread_sigmask(SIG_SETMASK, &previous, nullptr);
}

}  // namespace

class TerminalDialogHost::Window final : public DialogWindow {
 public:
  Window(TerminalDialogHost& host, int number, const DialogTemplate& dialogTemplate, DialogProcedure& owner)
      : host_(host), number_(number), dialog(dialogTemplate), procedure(owner) {}

  void Show() override { visible = true; }
  void SetIcon(int /*iconId*/) override {}
  void SetControlText(int id, std::wstring_view text) override { dialog.SetText(id, text); }
  std::size_t ControlText(int id, std::span<wchar_t> text) override { return CopyTerminated(dialog.Text(id), text); }
  void SetControlUnsigned(int id, std::uint32_t value) override { dialog.SetText(id, std::to_wstring(value)); }
  void AddListItem(int id, std::wstring_view text) override { dialog.AddItem(id, text); }
  bool SelectListItem(int id, std::wstring_view prefix) override { return dialog.SelectItem(id, prefix); }
  MessageBoxAnswer ShowMessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                                  MessageBoxIcon icon) override {
    return host_.RunMessageBox(terminal::TerminalMessageBox(text, caption, buttons, icon));
  }
  bool Post(std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) override {
    return alive.load() && host_.Post(number_, message, wParam, lParam);
  }
  void End(int value) override {
    ended = true;
    result = value;
  }
  void Destroy() override {
    alive.store(false);
    visible = false;
  }
  void PostQuit(int exitCode) override {
    host_.quit_ = true;
    host_.exitCode_ = exitCode;
  }

  int Number() const { return number_; }

 private:
  TerminalDialogHost& host_;
  int number_;

 public:
  terminal::TerminalDialog dialog;
  DialogProcedure& procedure;
  std::atomic<bool> alive{true};
  bool visible = false;
  bool modal = false;
  bool ended = false;
  int result = 0;
};

TerminalDialogHost::TerminalDialogHost(const DialogResources& resources, std::string objectPrefix,
                                       WindowMessages& messages)
    : resources_(resources), prefix_(std::move(objectPrefix)), messages_(messages) {}

TerminalDialogHost::~TerminalDialogHost() {
  StopScreen();
  activation_.reset();
  if (classLock_ >= 0) {
    unlink(classPath_.c_str());  // under the lock, so that no later start holds a lock on it
    close(classLock_);
  }
}

bool TerminalDialogHost::HasTerminal() { return isatty(STDIN_FILENO) == 1 && isatty(STDOUT_FILENO) == 1; }

std::size_t TerminalDialogHost::LoadResourceString(int id, std::span<wchar_t> text) {
  const StringResource* string = resources_.FindString(id);
  if (string == nullptr) return CopyTerminated({}, text);
  return CopyTerminated(string->text, text);
}

std::string TerminalDialogHost::ClassFile(std::wstring_view className) const {
  std::string name = WideToUtf8(className);
  std::replace(name.begin(), name.end(), '/', '_');
  return "/dev/shm/" + prefix_ + ".class." + name;
}

bool TerminalDialogHost::FindAndActivate(std::wstring_view className) {
  const int file = open(ClassFile(className).c_str(), O_RDONLY | O_CLOEXEC);
  if (file < 0) return false;
  // The running program holds the lock for its whole life; a lock we can take means nobody runs.
  if (flock(file, LOCK_SH | LOCK_NB) == 0) {
    close(file);
    return false;
  }
  char text[16] = {};
  const ssize_t got = pread(file, text, sizeof text - 1, 0);
  close(file);
  const unsigned long window = got > 0 ? std::strtoul(text, nullptr, 10) : 0;
  if (window != 0) messages_.Post(static_cast<std::uint32_t>(window), WindowMessage{kActivateMessage, 0, 0});
  return true;
}

ErrorCode TerminalDialogHost::RegisterWindowClass(const WindowClass& windowClass) {
  if (classLock_ >= 0) return kErrorClassAlreadyExists;
  const std::string path = ClassFile(windowClass.name);
  int file = -1;
  // The owner removes the file when it ends: a lock taken on a file that was removed meanwhile
  // stands for nothing, so take it again on the file that the name now gives.
  for (;;) {
    file = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) return ErrorFromErrno(errno);
    if (flock(file, LOCK_EX | LOCK_NB) != 0) {
      close(file);
      return kErrorClassAlreadyExists;
    }
    struct stat locked {
    }, named{};
    if (fstat(file, &locked) == 0 && stat(path.c_str(), &named) == 0 && locked.st_ino == named.st_ino &&
        locked.st_dev == named.st_dev) {
      break;
    }
    close(file);
  }
  classLock_ = file;
  classPath_ = path;
  ErrorCode error = kSuccess;
  activation_ = messages_.CreateQueue(&error);
  if (activation_ != nullptr) {
    const std::string window = std::to_string(activation_->WindowId());
    if (ftruncate(file, 0) != 0 ||
        pwrite(file, window.data(), window.size(), 0) != static_cast<ssize_t>(window.size())) {
      activation_.reset();  // the class stays ours; a second start then only finds it
    }
  }
  return kSuccess;
}

bool TerminalDialogHost::StartScreen() {
  if (screen_ != nullptr) return true;
  if (!HasTerminal()) return false;
  std::setlocale(LC_ALL, "");
  const pid_t foreground = tcgetpgrp(STDIN_FILENO);
  if (foreground > 0 && foreground != getpgrp() && getsid(0) == tcgetsid(STDIN_FILENO)) {
    SetForegroundGroup(getpgrp());
    previousForeground_ = foreground;
  }
  closeSignalled = 0;
  for (std::size_t i = 0; i < std::size(kCloseSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = NoteCloseSignal;
    sigemptyset(&action.sa_mask);
    sigaction(kCloseSignals[i], &action, &previousSignals_[i]);
  }
  std::fflush(stderr);
  char name[] = "/tmp/quillon-diagnostics-XXXXXX";
  diagnostics_ = mkostemp(name, O_CLOEXEC);
  if (diagnostics_ >= 0) {
    unlink(name);
    savedErrorOutput_ = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(diagnostics_, STDERR_FILENO);
    diagnosticsRead_ = 0;
  }
  // Unlike initscr, newterm returns when the terminal cannot be drawn on, so that the program
  // ends its own way.
  screen_ = newterm(nullptr, stdout, stdin);
  if (screen_ == nullptr) {
    StopScreen();
    std::fprintf(stderr, "the dialog cannot be drawn on this terminal\n");
    return false;
  }
  set_term(screen_);
  cbreak();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  set_escdelay(25);
  timeout(kKeyWaitMs);
  return true;
}

void TerminalDialogHost::StopScreen() {
  if (screen_ != nullptr) {
    endwin();
    delscreen(screen_);
  }
  screen_ = nullptr;
  for (std::size_t i = 0; i < std::size(kCloseSignals); ++i) sigaction(kCloseSignals[i], &previousSignals_[i], nullptr);
  if (diagnostics_ >= 0) RestoreErrorOutput();
  if (previousForeground_ > 0) SetForegroundGroup(previousForeground_);
  previousForeground_ = -1;
}

void TerminalDialogHost::RestoreErrorOutput() {
  std::fflush(stderr);
  if (savedErrorOutput_ >= 0) {
    dup2(savedErrorOutput_, STDERR_FILENO);
    close(savedErrorOutput_);
    savedErrorOutput_ = -1;
  }
  // Everything said while the screen was up, now where it belongs.
  char buffer[4096];
  ssize_t got;
  off_t at = 0;
  while ((got = pread(diagnostics_, buffer, sizeof buffer, at)) > 0) {
    if (write(STDERR_FILENO, buffer, static_cast<std::size_t>(got)) != got) break;
    at += got;
  }
  close(diagnostics_);
  diagnostics_ = -1;
}

void TerminalDialogHost::ReadDiagnostics() {
  if (diagnostics_ < 0) return;
  std::fflush(stderr);
  char buffer[1024];
  ssize_t got;
  std::string added;
  while ((got = pread(diagnostics_, buffer, sizeof buffer, diagnosticsRead_)) > 0) {
    added.append(buffer, static_cast<std::size_t>(got));
    diagnosticsRead_ += got;
  }
  if (added.empty()) return;
  while (!added.empty() && added.back() == '\n') added.pop_back();
  const std::size_t lineStart = added.rfind('\n');
  lastDiagnostic_ = lineStart == std::string::npos ? added : added.substr(lineStart + 1);
}

TerminalDialogHost::Window* TerminalDialogHost::Create(int templateId, DialogProcedure& procedure) {
  const DialogTemplate* dialogTemplate = resources_.FindDialog(templateId);
  if (dialogTemplate == nullptr || !StartScreen()) return nullptr;
  windows_.push_back(
      std::make_unique<Window>(*this, static_cast<int>(windows_.size()) + 1, *dialogTemplate, procedure));
  Window* window = windows_.back().get();
  procedure.OnInitDialog(*window);
  return window;
}

DialogWindow* TerminalDialogHost::CreateModeless(int templateId, DialogProcedure& procedure) {
  return Create(templateId, procedure);
}

int TerminalDialogHost::RunMessageLoop() {
  while (!quit_) Pump();
  quit_ = false;
  StopScreen();
  return exitCode_;
}

int TerminalDialogHost::RunModal(int templateId, DialogProcedure& procedure) {
  Window* window = Create(templateId, procedure);
  if (window == nullptr) return -1;
  window->modal = true;
  window->Show();
  while (!window->ended && window->alive.load()) Pump();
  window->Destroy();
  if (std::none_of(windows_.begin(), windows_.end(), [](const auto& w) { return w->visible; })) StopScreen();
  return window->result;
}

bool TerminalDialogHost::Post(int window, std::uint32_t message, std::uint32_t wParam, std::uint32_t lParam) {
  std::lock_guard<std::mutex> hold(postedLock_);
  if (posted_.size() >= kMaxPostedMessages) return false;
  posted_.push_back(PostedMessage{window, message, wParam, lParam});
  return true;
}

void TerminalDialogHost::Draw() {
  CursesCanvas canvas;
  erase();
  for (const auto& window : windows_) {
    if (window->visible) window->dialog.Draw(canvas);
  }
  for (const OpenBox* open : boxes_) open->box.Draw(canvas);
  ReadDiagnostics();
  if (!lastDiagnostic_.empty()) canvas.Put(LINES - 1, 0, Utf8ToWide(lastDiagnostic_), terminal::CellStyle::kNormal);
  canvas.Finish();
  refresh();
}

void TerminalDialogHost::Pump() {
  // What was posted comes before the next key, as a window's queue hands out posted messages
  // before input: a key typed while a dialog starts acts on what its start-up posted.
  DeliverPosted();
  Draw();
  const Key key = ReadKey();
  if (key.code != KeyCode::kNone) HandleKey(key);
  DeliverPosted();
  if (closeSignalled != 0) DeliverCloseSignal();
  WindowMessage message;
  while (activation_ != nullptr && activation_->Wait(0, &message)) {
    if (message.message == kActivateMessage) Activate();
  }
}

void TerminalDialogHost::DeliverCloseSignal() {
  // An open message box is answered as Esc answers it first; the window's turn comes after.
  if (!boxes_.empty()) {
    OpenBox& top = *boxes_.back();
    if (!top.answer) top.answer = top.box.HandleKey(terminal::Press(KeyCode::kEscape));
    return;
  }
  closeSignalled = 0;
  for (auto window = windows_.rbegin(); window != windows_.rend(); ++window) {
    if (!(*window)->visible) continue;
    // As the window's close box: the close request, whose default is the cancel command.
    if (!(*window)->procedure.OnClose(**window)) Command(**window, kCommandCancel);
    return;
  }
}

void TerminalDialogHost::HandleKey(const Key& key) {
  const CursesCanvas shown;
  const bool actsUnseen = terminal::ActsUnseen(key);
  if (!boxes_.empty()) {
    OpenBox& top = *boxes_.back();
    if (!top.answer && (actsUnseen || top.box.Fits(shown.Rows(), shown.Columns()))) top.answer = top.box.HandleKey(key);
    return;
  }
  // The keyboard belongs to the window shown last.
  for (auto window = windows_.rbegin(); window != windows_.rend(); ++window) {
    if (!(*window)->visible) continue;
    if ((*window)->ended) return;  // ended by a posted message: its loop is over, no more commands
    if (!actsUnseen && !(*window)->dialog.Fits(shown.Rows(), shown.Columns())) return;
    if (const std::optional<int> id = (*window)->dialog.HandleKey(key)) Command(**window, *id);
    return;
  }
}

void TerminalDialogHost::Command(Window& window, int id) {
  if (window.procedure.OnCommand(window, id)) return;
  // A modal dialog's default handling of OK and cancel ends it.
  if (window.modal && (id == kCommandOk || id == kCommandCancel)) window.End(id);
}

void TerminalDialogHost::DeliverPosted() {
  std::deque<PostedMessage> taken;
  {
    std::lock_guard<std::mutex> hold(postedLock_);
    taken.swap(posted_);
  }
  for (const PostedMessage& posted : taken) {
    Window& window = *windows_[static_cast<std::size_t>(posted.window - 1)];
    if (!window.alive.load()) continue;
    if (posted.message == kCloseMessage) {
      if (!window.procedure.OnClose(window)) Command(window, kCommandCancel);
    } else if (posted.message >= kFirstUserMessage) {
      window.procedure.OnMessage(window, posted.message, posted.wParam, posted.lParam);
    }
  }
}

void TerminalDialogHost::Activate() {
  beep();
  SelectTmuxPane();
  clearok(curscr, TRUE);  // the whole screen again, whatever was drawn over it meanwhile
}

MessageBoxAnswer TerminalDialogHost::RunMessageBox(terminal::TerminalMessageBox box) {
  if (!StartScreen()) return MessageBoxAnswer::kFailed;
  OpenBox open{std::move(box), std::nullopt};
  boxes_.push_back(&open);
  while (!open.answer) Pump();
  boxes_.pop_back();
  return *open.answer;
}

}  // namespace quillon::platform::posix
