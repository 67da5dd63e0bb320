// Arbitrary text as the program's command line: the option reader never fails, a text value
// never holds a blank or "/" and fits its buffer; and values that a shortcut can carry come back
// unchanged when the shortcut's command line is read again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/text.h"
#include "setup/command_line.h"
#include "setup/startup_shortcut.h"

namespace {

class NoHost final : public quillon::DialogHost {
 public:
  void PostUpdateControls() override {}
  void ShowTexts(const quillon::DialogTexts&) override {}
  void SetButtonText(std::wstring_view) override {}
  quillon::MessageBoxAnswer ShowMessageBox(std::wstring_view, std::wstring_view, quillon::MessageBoxButtons,
                                           quillon::MessageBoxIcon) override {
    return quillon::MessageBoxAnswer::kOk;
  }
};

std::int32_t Word(std::string_view bytes, std::size_t at) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i)
    value |= static_cast<std::uint32_t>(static_cast<std::uint8_t>(bytes[at + i])) << (8 * i);
  return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace quillon;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::wstring line = platform::Utf8ToWide(bytes);

  NoHost host;
  DialogRecord record{host};
  record.m_commandLine = line;
  ReadCommandLineOptions(record);
  for (const std::wstring& text : {record.ComPort(), record.PsrFile(), record.m_transportReg}) {
    if (text.size() >= kOptionTextChars) std::abort();
    if (text != L"???" && text != L"no psr file found" && !IsResumableText(text)) std::abort();
  }

  // The input's first three lines as the port, the PSR file and the transport key; two numbers
  // from its first bytes as the state and the rate.
  std::wstring fields[3];
  std::size_t field = 0;
  for (wchar_t c : line) {
    if (c == L'\n') {
      if (++field == 3) break;
      continue;
    }
    fields[field] += c;
  }
  ShortcutValues values{L"\\Program Files\\Quillon\\Quillon.exe",
                        Word(bytes, 0),
                        fields[0],
                        fields[1],
                        Word(bytes, 4),
                        fields[2]};
  std::string shortcut;
  if (!FormatShortcutText(values, &shortcut)) return 0;
  if (shortcut.size() >= kShortcutBytes) std::abort();
  if (!IsResumableText(values.port) || !IsResumableText(values.psrFile) || !IsResumableText(values.transportReg))
    return 0;
  const std::size_t quote = shortcut.find("\" ");
  DialogRecord resumed{host};
  resumed.m_commandLine = platform::Utf8ToWide(std::string_view(shortcut).substr(quote + 2));
  ReadCommandLineOptions(resumed);
  if (resumed.m_state != values.state || resumed.m_baudrate != values.baudrate || resumed.ComPort() != values.port ||
      resumed.PsrFile() != values.psrFile || resumed.m_transportReg != values.transportReg) {
    std::abort();
  }
  return 0;
}
