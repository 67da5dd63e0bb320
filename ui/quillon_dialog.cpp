#include "ui/quillon_dialog.h"

#include <algorithm>
#include <vector>

#include "platform/text.h"
#include "setup/command_line.h"
#include "trace/format.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"
#include "ui/quillon_resources.h"

namespace quillon::ui {
namespace {

constexpr wchar_t kPsrPattern[] = L"*.psr";

platform::MessageBoxButtons ToPlatform(MessageBoxButtons buttons) {
  return buttons == MessageBoxButtons::kYesNo ? platform::MessageBoxButtons::kYesNo : platform::MessageBoxButtons::kOk;
}

platform::MessageBoxIcon ToPlatform(MessageBoxIcon icon) {
  switch (icon) {
    case MessageBoxIcon::kError:
      return platform::MessageBoxIcon::kError;
    case MessageBoxIcon::kQuestion:
      return platform::MessageBoxIcon::kQuestion;
    default:
      return platform::MessageBoxIcon::kNone;
  }
}

// A box that cannot be shown counts as its safe answer: No to a question, OK to a notice.
MessageBoxAnswer SafeAnswer(MessageBoxButtons buttons) {
  return buttons == MessageBoxButtons::kYesNo ? MessageBoxAnswer::kNo : MessageBoxAnswer::kOk;
}

MessageBoxAnswer FromPlatform(platform::MessageBoxAnswer answer, MessageBoxButtons buttons) {
  switch (answer) {
    case platform::MessageBoxAnswer::kOk:
      return MessageBoxAnswer::kOk;
    case platform::MessageBoxAnswer::kYes:
      return MessageBoxAnswer::kYes;
    case platform::MessageBoxAnswer::kNo:
      return MessageBoxAnswer::kNo;
    default:
      return SafeAnswer(buttons);
  }
}

std::wstring ControlText(platform::DialogWindow& window, int id) {
  NameSlot text{};
  const std::size_t length = window.ControlText(id, text);
  return std::wstring(text.data(), std::min(length, text.size() - 1));
}

}  // namespace

QuillonDialog::QuillonDialog(const DialogRoles& roles, const SetupRoles& setupRoles, ProgrammingRun programming,
                             ModuleProbe probe)
    : roles_(roles),
      record_(*this),
      setup_(setupRoles, record_, std::move(programming), std::move(probe)),
      m_icon(QUILLON_ICON) {}

bool QuillonDialog::InstanceLock::Take(platform::KernelObjects& kernel) {
  if (mutex_) return true;
  platform::ErrorCode error = platform::kSuccess;
  std::unique_ptr<platform::NamedMutex> mutex = kernel.CreateNamedMutex(kInstanceMutexName, &error);
  // A lock that cannot be had proves nothing: the start is refused as if another one ran.
  if (!mutex || mutex->Wait(0) != platform::WaitResult::kObtained) return false;
  mutex_ = std::move(mutex);
  return true;
}

QuillonDialog::~QuillonDialog() {
  // The owner waits for the thread before it lets the dialog go (WaitForWorkingThreadEnd); a
  // thread still running here is left to end on its own, its boxes answered at once.
  RefuseMessageBoxes(true);
}

void QuillonDialog::TraceInfo(std::wstring_view text) {
  Trace::Process().Printf(KindInfo, kTraceCategory, L"%s", text);
}

// --- The window's messages ---------------------------------------------------------------------

void QuillonDialog::OnInitDialog(platform::DialogWindow& window) {
  dialogThread_ = std::this_thread::get_id();
  {
    std::lock_guard<std::mutex> hold(windowLock_);
    window_ = &window;
  }
  RefuseMessageBoxes(false);
  InitDialog();
}

bool QuillonDialog::OnCommand(platform::DialogWindow& /*window*/, int id) {
  if (window_ == nullptr) return true;  // the dialog has ended; what still comes in is dropped
  switch (id) {
    case QUILLON_COMMAND_BUTTON:
      OnBnClickedStartStop();
      return true;
    // OK and cancel (the caption's buttons, Enter, Esc, the close box) wait for the working
    // thread as the close request does: the dialog never ends under a running setup.
    case platform::kCommandOk:
      EndDialog(platform::kCommandOk, true);
      return true;
    case platform::kCommandCancel:
      EndDialog(platform::kCommandCancel, false);
      return true;
    default:
      return false;
  }
}

bool QuillonDialog::OnClose(platform::DialogWindow& /*window*/) {
  OnClose();
  return true;
}

bool QuillonDialog::OnMessage(platform::DialogWindow& /*window*/, std::uint32_t message, std::uint32_t /*wParam*/,
                              std::uint32_t /*lParam*/) {
  if (window_ == nullptr) return true;
  switch (message) {
    case WM_UPDATE_CONTROLS:
      OnUpdateControls();
      return true;
    case WM_CHANGE_BUTTON:
      ApplyButtonText();
      return true;
    case WM_SHOW_MESSAGE_BOX:
      AnswerBoxRequest();
      return true;
    case WM_CLOSE_REQUEST:
      OnClose();
      return true;
    default:
      return false;
  }
}

// --- The dialog's operations -------------------------------------------------------------------

bool QuillonDialog::InitDialog() {
  TraceScope scope(L"CQuillonDlg::OnInitDialog");
  platform::DialogWindow& window = *window_;
  ShowNow(record_.Texts());
  window.SetIcon(m_icon);

  // A start that must not touch the device says why, offers Close and changes nothing.
  const auto changeNothing = [&](const wchar_t* why, const wchar_t* status) {
    Trace::Process().Printf(KindImportant, kTraceCategory, L"%s", why);
    record_.ChangeButtonTo(kStringClose);
    record_.SetStatus(status);
    PostUpdateControls();
    return true;
  };
  // One Quillon per device: a second one would take the first one's setup for an interrupted
  // one and undo it under it, or start a setup of its own on the same keys and module.
  if (!instance_.Take(roles_.kernel)) {
    return changeNothing(L"Another Quillon runs: this one changes nothing",
                         L"Another Quillon is running a setup on this device: this one changes nothing.");
  }

  // A registry that another program holds answers nothing that the start-up could act on (the
  // recovery then acts on nothing), and a resumed run would take the missing answers for a setup
  // that is gone: the port's look-up, which every start makes, says so.
  std::int32_t state = StateInitial;
  ExtractCommandLineInteger(record_.m_commandLine, kOptionState, &state);
  // A resumed run is started again by the next boot; a start by hand would end its setup.
  const wchar_t* const busy = state == StateInitial ? L"The registry is busy: another program holds it. Nothing was "
                                                      L"changed; start Quillon again once that program is done."
                                                    : L"The registry is busy: another program holds it. Nothing was "
                                                      L"changed; restart the device to resume the setup.";
  // A first start by hand gives the device its stack back after a setup that was cut short, so
  // that the port is looked up where the stack really has it.
  if (state == StateInitial) setup_.Recovery().RecoverInterruptedSetup();

  std::wstring port;
  std::wstring driverKey;
  scope.Store(setup_.Stack().RetrieveBluetoothPort(&port, &driverKey));
  scope.Report();
  if (scope.Result() == kRegistryUnreadable)
    return changeNothing(L"The registry is busy: this Quillon changes nothing", busy);
  if (scope.Result() != 0) {
    std::array<wchar_t, kNameChars> text{};
    FormatTo(std::span<wchar_t>(text), L"Unable to retrieve the Bluetooth Serial port (%d).", scope.Result());
    record_.SetStatus(text.data());
    record_.SetDirectProgramming(true);
  } else {
    record_.SetComPort(std::wstring_view(port).substr(0, kNameChars - 1));
  }
  scope.Store(0);  // a failed look-up never stops the start-up

  ExtractCommandLineInteger(record_.m_commandLine, kOptionState, &record_.m_state);
  int buttonString = 0;
  bool startBySelf = false;
  switch (record_.m_state) {
    case StateInitial:
      TraceInfo(L"StateInitial");
      buttonString = kStringStart;
      break;
    case StateStackInactive:
      TraceInfo(L"StateStackInactive");
      buttonString = kStringStop;
      startBySelf = true;
      break;
    case StateSetupCompleted:
      TraceInfo(L"StateSetupCompleted");
      buttonString = kStringStart;
      startBySelf = true;
      break;
    default:
      break;  // no text: the button does nothing
  }
  record_.ChangeButtonTo(buttonString);

  if (scope.Result() == 0) {
    std::array<NameSlot, kPsrSlots> names{};
    std::size_t count = names.size();
    scope.Store(ListPsrFiles(names, &count));
    scope.Report();
    if (count > 0) {
      for (std::size_t i = 0; i < count; ++i) window.AddListItem(QUILLON_PSR_LIST, names[i].data());
      window.SelectListItem(QUILLON_PSR_LIST, names[0].data());
      record_.SetPsrFile(names[0].data());
    } else if (!startBySelf) {
      record_.ChangeButtonTo(kStringClose);
      record_.SetStatus(L"There is no PSR file at the same location than Quillon");
    } else {
      // A resumed run still starts: it gives the stack its port back and says why it stopped.
      Trace::Process().Printf(KindImportant, kTraceCategory, L"No PSR file beside the program for the resumed run");
    }
    std::wstring text = record_.ComPort();
    ExtractCommandLineString(record_.m_commandLine, kOptionPort, &text);
    record_.SetComPort(text);
    if (scope.Result() == 0) {
      text = record_.PsrFile();
      ExtractCommandLineString(record_.m_commandLine, kOptionPsr, &text);
      record_.SetPsrFile(text);
    }
  }
  SelectPsrFile(record_.PsrFile());  // also after an error

  if (scope.Result() == 0) {
    ExtractCommandLineInteger(record_.m_commandLine, kOptionBaudrate, &record_.m_baudrate);
    if (scope.Result() == 0)
      ExtractCommandLineString(record_.m_commandLine, kOptionTransportReg, &record_.m_transportReg);
  }
  Trace& trace = Trace::Process();
  trace.Printf(KindInfo, kTraceCategory, L"comport:%s", record_.ComPort());
  trace.Printf(KindInfo, kTraceCategory, L"PSR:%s", record_.PsrFile());
  trace.Printf(KindInfo, kTraceCategory, L"baudrate:%d", record_.m_baudrate);
  trace.Printf(KindInfo, kTraceCategory, L"MS Transport Key:%s", record_.m_transportReg);

  if (startBySelf) {
    scope.Store(StartWorkingThread());
    scope.Report();
  } else {
    PostUpdateControls();
  }
  if (scope.Result() != 0) {
    std::array<wchar_t, kNameChars> text{};
    FormatTo(std::span<wchar_t>(text), L"Error %d occured during init.", scope.Result());
    record_.MessageBox(text.data(), L"Error", MessageBoxButtons::kOk, MessageBoxIcon::kError);
    return false;
  }
  return true;
}

int QuillonDialog::ListPsrFiles(std::span<NameSlot> slots, std::size_t* count) {
  const std::size_t room = std::min(*count, slots.size());
  *count = 0;
  std::wstring folder = roles_.system.OwnPath();
  const std::size_t last = folder.find_last_of(L"\\/");
  if (last != std::wstring::npos) folder.resize(last + 1);
  std::vector<std::wstring> names;
  if (roles_.folders.List(folder + kPsrPattern, &names) != platform::kSuccess) return 0;
  for (const std::wstring& name : names) {
    if (*count == room) break;  // further matches are ignored
    // A name its slot cannot hold whole would name another file: it is left out, not cut.
    if (name.empty() || name.size() >= kNameChars) {
      Trace::Process().Printf(KindImportant, kTraceCategory, L"PSR file name longer than %d characters left out",
                              static_cast<int>(kNameChars - 1));
      continue;
    }
    NameSlot& slot = slots[*count];
    slot.fill(L'\0');
    std::copy(name.begin(), name.end(), slot.begin());
    ++*count;
  }
  return 0;
}

void QuillonDialog::OnBnClickedStartStop() {
  TraceScope scope(L"CQuillonDlg::OnBnClickedStartStop");
  platform::DialogWindow& window = *window_;
  const std::wstring previousPort = record_.ComPort();
  const std::wstring previousPsr = record_.PsrFile();
  TakeTexts();
  if (WorkingThreadRunning()) {
    // The run reads the port and the file as it goes: what was typed meanwhile is given back,
    // or the run would go on with another port than the stack it took off.
    record_.SetComPort(previousPort);
    record_.SetPsrFile(previousPsr);
    record_.Show();
  }
  const std::wstring port = record_.ComPort();
  if (!record_.DirectProgramming() && port != previousPort) {
    std::array<wchar_t, kNameChars + 64> text{};
    FormatTo(std::span<wchar_t>(text), L"Are you sure about using %s port?", port);
    if (record_.MessageBox(text.data(), L"Confirmation", MessageBoxButtons::kYesNo, MessageBoxIcon::kQuestion) !=
        MessageBoxAnswer::kYes) {
      record_.SetComPort(previousPort);
      record_.Show();
      return;
    }
    record_.SetDirectProgramming(true);
  }

  const std::wstring button = ControlText(window, QUILLON_COMMAND_BUTTON);
  int newText = 0;
  if (button == ButtonString(kStringStart)) {
    scope.Store(StartWorkingThread());
    scope.Report();
    newText = scope.Result() == 0 ? kStringStop : kStringStart;
  } else if (button == ButtonString(kStringStop)) {
    // A run that ended while the question was asked has said what it did and set the button for
    // what comes next: there is nothing left to stop, and nothing to cover.
    if (record_.MessageBox(L"Are you sure to stop the PS Key programmation?", L"Please confirm",
                           MessageBoxButtons::kYesNo, MessageBoxIcon::kNone) == MessageBoxAnswer::kYes &&
        WorkingThreadRunning()) {
      const wchar_t* const waiting = L"Please Wait for working thread termination";
      record_.SetStatus(waiting);
      StopWorkingThread(kStopWaitMs);
      // The thread's last word says what the stop left (its button, for what makes sense next,
      // reaches the window after this one): it is not covered.
      if (WorkingThreadRunning()) {
        record_.SetStatus(L"The working thread has not ended yet: what the stop left will show here.");
      } else if (record_.Status() == waiting) {
        record_.SetStatus(L"Working thread terminated");
      }
      newText = kStringStart;
    }
  } else if (button == ButtonString(kStringReset)) {
    setup_.SoftResetDevice();
  } else if (button == ButtonString(kStringClose)) {
    PostToDialog(WM_CLOSE_REQUEST);
  }
  if (newText != 0) record_.ChangeButtonTo(newText);
}

int QuillonDialog::StartWorkingThread() {
  TraceScope scope(L"CQuillonDlg::StartWorkingThread");
  if (m_workingThread != nullptr && !m_workingThread->Running()) StopWorkingThread(kStopWaitMs);
  if (lingering_ != nullptr && !lingering_->Running()) lingering_.reset();

  if (m_stopEvent == nullptr) {
    platform::ErrorCode error = platform::kSuccess;
    std::unique_ptr<platform::Event> event = roles_.kernel.CreateManualResetEvent(L"", false, &error);
    if (event == nullptr) {
      scope.Store(kStopEventNotCreated);
      scope.Report();
      record_.SetStatus(L"Unable to create an event, please reset your device and try again.");
    } else {
      m_stopEvent = std::move(event);
    }
  }
  if (scope.Result() == 0) {
    if (m_workingThread != nullptr) return 0;  // still running: no second thread
    if (lingering_ != nullptr) {
      // The stopped thread may still change the stack's keys and its shortcut: a second run
      // beside it would work on the same keys.
      scope.Store(kThreadStillRunning);
      scope.Report();
      record_.SetStatus(L"The previous working thread has not ended yet, please wait and try again.");
    } else {
      // The record names the event for the whole life of the thread; no other thread runs now.
      record_.m_stopEvent = m_stopEvent.get();
      RefuseMessageBoxes(false);
      std::shared_ptr<platform::Event> stop = m_stopEvent;
      m_workingThread = platform::Thread::Start([this, stop] {
        WorkingThread(&setup_);
        (void)stop;  // held until the thread ends
      });
      if (m_workingThread == nullptr) {
        scope.Store(kThreadNotCreated);
        scope.Report();
        record_.SetStatus(L"Unable to create the working thread, please reset your device and try again.");
      }
    }
  }
  if (scope.Result() != 0) m_stopEvent.reset();
  return scope.Result();
}

int QuillonDialog::StopWorkingThread(std::uint32_t timeoutMs) {
  if (m_workingThread != nullptr) {
    if (m_stopEvent != nullptr) m_stopEvent->Set();
    RefuseMessageBoxes(true);
    if (!m_workingThread->Wait(timeoutMs)) {
      Trace::Process().Printf(KindImportant, kTraceCategory, L"The working thread has not ended within %d ms",
                              static_cast<int>(timeoutMs));
      lingering_ = std::move(m_workingThread);
    }
    m_workingThread.reset();
  }
  m_stopEvent.reset();  // a thread still running keeps its own share of the event
  return 0;
}

int QuillonDialog::OnUpdateControls() {
  ShowNow(record_.Texts());
  return 0;
}

void QuillonDialog::OnClose() { EndDialog(platform::kCommandCancel, false); }

void QuillonDialog::EndDialog(int result, bool takeTexts) {
  if (window_ == nullptr) return;
  record_.SetStatus(L"Wait for the working thread termination");
  StopWorkingThread(kStopWaitMs);
  if (takeTexts) TakeTexts();
  platform::DialogWindow* window = nullptr;
  {
    std::lock_guard<std::mutex> hold(windowLock_);
    std::swap(window, window_);
  }
  RefuseMessageBoxes(true);
  window->End(result);
}

bool QuillonDialog::WaitForWorkingThreadEnd(std::uint32_t timeoutMs) {
  RefuseMessageBoxes(true);
  if (m_workingThread != nullptr && !m_workingThread->Wait(timeoutMs)) return false;
  if (lingering_ != nullptr && !lingering_->Wait(timeoutMs)) return false;
  return true;
}

bool QuillonDialog::WorkingThreadRunning() {
  return (m_workingThread != nullptr && m_workingThread->Running()) || (lingering_ != nullptr && lingering_->Running());
}

// --- The record's reporting --------------------------------------------------------------------

bool QuillonDialog::PostToDialog(std::uint32_t message) {
  std::lock_guard<std::mutex> hold(windowLock_);
  return window_ != nullptr && window_->Post(message, 0, 0);
}

void QuillonDialog::PostUpdateControls() { PostToDialog(WM_UPDATE_CONTROLS); }

void QuillonDialog::ShowTexts(const DialogTexts& texts) {
  if (OnDialogThread() && window_ != nullptr) {
    ShowNow(texts);
  } else {
    PostUpdateControls();  // the dialog's thread shows the record's texts
  }
}

void QuillonDialog::ShowNow(const DialogTexts& texts) {
  window_->SetControlText(QUILLON_STATUS_LINE, texts.status);
  window_->SetControlText(QUILLON_COM_PORT, texts.comPort);
  SelectPsrFile(texts.psrFile);
}

void QuillonDialog::SelectPsrFile(std::wstring_view name) {
  // A name that is not one of the list's items leaves the selection as it is; the selected item
  // itself is not searched again (the search would move on to another item that it begins).
  if (name.empty() || platform::EqualsIgnoringCase(ControlText(*window_, QUILLON_PSR_LIST), name)) return;
  window_->SelectListItem(QUILLON_PSR_LIST, name);
}

void QuillonDialog::TakeTexts() {
  platform::DialogWindow& window = *window_;
  record_.SetComPort(ControlText(window, QUILLON_COM_PORT));
  record_.SetPsrFile(ControlText(window, QUILLON_PSR_LIST));
}

void QuillonDialog::SetButtonText(std::wstring_view text) {
  // The dialog's own changes are made at once; the working thread's reach the button after them,
  // so that a run that ends while the dialog starts or stops it has the last word.
  if (OnDialogThread() && window_ != nullptr) {
    window_->SetControlText(QUILLON_COMMAND_BUTTON, text);
    return;
  }
  {
    std::lock_guard<std::mutex> hold(buttonLock_);
    pendingButton_ = std::wstring(text);
  }
  PostToDialog(WM_CHANGE_BUTTON);
}

void QuillonDialog::ApplyButtonText() {
  std::optional<std::wstring> text;
  {
    std::lock_guard<std::mutex> hold(buttonLock_);
    text.swap(pendingButton_);
  }
  if (text && window_ != nullptr) window_->SetControlText(QUILLON_COMMAND_BUTTON, *text);
}

MessageBoxAnswer QuillonDialog::ShowMessageBox(std::wstring_view text, std::wstring_view caption,
                                               MessageBoxButtons buttons, MessageBoxIcon icon) {
  if (OnDialogThread()) {
    if (window_ == nullptr) return SafeAnswer(buttons);
    return FromPlatform(window_->ShowMessageBox(text, caption, ToPlatform(buttons), ToPlatform(icon)), buttons);
  }
  auto request = std::make_shared<BoxRequest>(BoxRequest{std::wstring(text), std::wstring(caption), buttons, icon, {}});
  {
    std::lock_guard<std::mutex> hold(boxLock_);
    if (refuseBoxes_) return SafeAnswer(buttons);
    boxRequests_.push_back(request);
  }
  const bool posted = PostToDialog(WM_SHOW_MESSAGE_BOX);
  std::unique_lock<std::mutex> hold(boxLock_);
  if (posted) boxAnswered_.wait(hold, [&] { return request->answer.has_value() || refuseBoxes_; });
  if (request->answer) return *request->answer;
  boxRequests_.erase(std::remove(boxRequests_.begin(), boxRequests_.end(), request), boxRequests_.end());
  return SafeAnswer(buttons);
}

void QuillonDialog::AnswerBoxRequest() {
  std::shared_ptr<BoxRequest> request;
  {
    std::lock_guard<std::mutex> hold(boxLock_);
    if (boxRequests_.empty()) return;
    request = boxRequests_.front();
    boxRequests_.pop_front();
  }
  const MessageBoxAnswer answer = window_ == nullptr
                                      ? SafeAnswer(request->buttons)
                                      : FromPlatform(window_->ShowMessageBox(request->text, request->caption,
                                                                             ToPlatform(request->buttons),
                                                                             ToPlatform(request->icon)),
                                                     request->buttons);
  {
    std::lock_guard<std::mutex> hold(boxLock_);
    request->answer = answer;
  }
  boxAnswered_.notify_all();
}

void QuillonDialog::RefuseMessageBoxes(bool refuse) {
  {
    std::lock_guard<std::mutex> hold(boxLock_);
    refuseBoxes_ = refuse;
  }
  if (refuse) boxAnswered_.notify_all();
}

}  // namespace quillon::ui
