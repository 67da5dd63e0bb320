#include "setup/dialog_record.h"

#include "trace/trace_scope.h"

namespace quillon {

std::wstring_view ButtonString(int id) {
  switch (id) {
    case kStringStart:
      return L"Start";
    case kStringStop:
      return L"Stop";
    case kStringReset:
      return L"Reset";
    case kStringClose:
      return L"Close";
    default:
      return {};
  }
}

void DialogRecord::SetStatus(const wchar_t* text) {
  SetStatus(text != nullptr ? std::wstring_view(text) : std::wstring_view());
}

void DialogRecord::SetStatus(std::wstring_view text) {
  {
    std::lock_guard<std::mutex> hold(lock_);
    m_status.assign(text);
  }
  host_.PostUpdateControls();
}

int DialogRecord::ChangeButtonTo(int stringId) {
  TraceScope scope(L"CQuillonDlg::ChangeButtonTo");
  host_.SetButtonText(ButtonString(stringId));
  return scope.Result();
}

MessageBoxAnswer DialogRecord::MessageBox(std::wstring_view text, std::wstring_view caption, MessageBoxButtons buttons,
                                          MessageBoxIcon icon) {
  return host_.ShowMessageBox(text, caption, buttons, icon);
}

void DialogRecord::Show() { host_.ShowTexts(Texts()); }

DialogTexts DialogRecord::Texts() const {
  std::lock_guard<std::mutex> hold(lock_);
  return DialogTexts{m_status, m_comPort, m_psrFile};
}

std::wstring DialogRecord::Status() const {
  std::lock_guard<std::mutex> hold(lock_);
  return m_status;
}

std::wstring DialogRecord::ComPort() const {
  std::lock_guard<std::mutex> hold(lock_);
  return m_comPort;
}

std::wstring DialogRecord::PsrFile() const {
  std::lock_guard<std::mutex> hold(lock_);
  return m_psrFile;
}

bool DialogRecord::DirectProgramming() const {
  std::lock_guard<std::mutex> hold(lock_);
  return m_directProgramming;
}

void DialogRecord::SetComPort(std::wstring_view port) {
  std::lock_guard<std::mutex> hold(lock_);
  m_comPort.assign(port);
}

void DialogRecord::SetPsrFile(std::wstring_view file) {
  std::lock_guard<std::mutex> hold(lock_);
  m_psrFile.assign(file);
}

void DialogRecord::SetDirectProgramming(bool direct) {
  std::lock_guard<std::mutex> hold(lock_);
  m_directProgramming = direct;
}

}  // namespace quillon
