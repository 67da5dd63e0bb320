#include "setup/startup_shortcut.h"

#include <array>
#include <span>

#include "platform/text.h"
#include "setup/command_line.h"
#include "setup/setup_results.h"
#include "trace/format.h"
#include "trace/trace_scope.h"

namespace quillon {
namespace {

// An option and its value as 8-bit text; false when either does not fit its 260-byte buffer.
bool ConvertCommandLineStringOptionToCharString(std::wstring_view option, std::wstring_view value, std::string* out) {
  const std::string name = platform::WideToUtf8(option);
  const std::string text = platform::WideToUtf8(value);
  if (name.size() >= kShortcutBytes || text.size() >= kShortcutBytes) return false;
  *out = name + text;
  return true;
}

bool ConvertCommandLineIntegerOptionToCharString(std::wstring_view option, std::int32_t value, std::string* out) {
  std::array<wchar_t, 16> digits{};
  const std::size_t length = FormatTo(std::span<wchar_t>(digits), L"%d", value);
  return ConvertCommandLineStringOptionToCharString(option, std::wstring_view(digits.data(), length), out);
}

}  // namespace

bool FormatShortcutText(const ShortcutValues& values, std::string* text) {
  const std::string program = platform::WideToUtf8(values.programPath);
  std::string state;
  std::string port;
  std::string psr;
  std::string transport;
  std::string baud;
  if (program.size() >= kShortcutBytes ||
      !ConvertCommandLineIntegerOptionToCharString(kOptionState, values.state, &state) ||
      !ConvertCommandLineStringOptionToCharString(kOptionPort, values.port, &port) ||
      !ConvertCommandLineStringOptionToCharString(kOptionPsr, values.psrFile, &psr) ||
      !ConvertCommandLineStringOptionToCharString(kOptionTransportReg, values.transportReg, &transport) ||
      !ConvertCommandLineIntegerOptionToCharString(kOptionBaudrate, values.baudrate, &baud)) {
    return false;
  }
  const std::size_t count = program.size() + state.size() + port.size() + psr.size() + baud.size() + transport.size() +
                            5;
  std::string result = std::to_string(count);
  result += "#\"" + program + "\" " + state + " " + port + " " + psr + " " + baud + " " + transport;
  // The whole text and its zero byte must fit the 260-byte buffer: a cut text would resume with
  // options missing.
  if (result.size() >= kShortcutBytes) return false;
  *text = std::move(result);
  return true;
}

ShortcutValues StartupShortcut::ValuesFor(std::int32_t state) {
  return ShortcutValues{system_.OwnPath(),     state, record_.ComPort(), record_.PsrFile(), record_.m_baudrate,
                        record_.m_transportReg};
}

int StartupShortcut::CreateShortcutInStartupFolder(std::int32_t state) {
  TraceScope scope(L"CQuillonDlg::CreateShortcutInStartupFolder");
  const ShortcutValues values = ValuesFor(state);
  std::string text;
  const int formed = values.programPath.empty()           ? kOwnPathUnknown
                     : !FormatShortcutText(values, &text) ? kShortcutNotWritten
                                                          : 0;
  // The text is written beside the start-up folder and renamed into it: an older shortcut is
  // replaced in one step, so that a power cut leaves the old one or the new one, never an empty
  // or half-written file (which would resume nothing, and lose the setup).
  platform::ErrorCode error = platform::kSuccess;
  std::unique_ptr<platform::File> file = files_.Open(kShortcutDraftPath, platform::FileMode::kWriteTruncate, &error);
  if (!file) {
    scope.Store(kShortcutNotCreated);
    scope.Report();
    return scope.Result();
  }
  if (formed != 0) {
    file.reset();
    files_.Delete(kShortcutDraftPath);
    scope.Store(formed);
    scope.Report();
    return scope.Result();
  }
  text.push_back('\0');
  const bool written = file->Write(std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(text.data()),
                                                                 text.size())) == platform::kSuccess;
  file.reset();
  if (!written || files_.Rename(kShortcutDraftPath, kShortcutPath) != platform::kSuccess) {
    files_.Delete(kShortcutDraftPath);
    scope.Store(kShortcutNotWritten);
    scope.Report();
  }
  return scope.Result();
}

int StartupShortcut::DeleteStartupShortcut() {
  TraceScope scope(L"CQuillonDlg::DeleteStartupShortcut");
  files_.Delete(kShortcutPath);
  return scope.Result();
}

}  // namespace quillon
