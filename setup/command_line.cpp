#include "setup/command_line.h"

#include <limits>

#include "trace/trace_scope.h"

namespace quillon {
namespace {

bool IsWhiteSpace(wchar_t c) { return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r' || c == L'\v' || c == L'\f'; }

std::int32_t DecimalValue(std::wstring_view text) {
  std::size_t i = 0;
  while (i < text.size() && IsWhiteSpace(text[i])) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == L'+' || text[i] == L'-')) negative = text[i++] == L'-';
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
  for (; i < text.size() && text[i] >= L'0' && text[i] <= L'9'; ++i) {
    value = std::min<std::int64_t>(value * 10 + (text[i] - L'0'), kLimit);
  }
  if (negative) return static_cast<std::int32_t>(-value);
  return static_cast<std::int32_t>(std::min<std::int64_t>(value, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

int ExtractCommandLineInteger(std::wstring_view commandLine, std::wstring_view option, std::int32_t* member) {
  TraceScope scope(L"CQuillonDlg::ExtractCommandLineInteger");
  const std::size_t at = commandLine.find(option);
  if (option.empty() || at == std::wstring_view::npos) return 0;
  *member = DecimalValue(commandLine.substr(at + option.size()));
  return scope.Result();
}

int ExtractCommandLineString(std::wstring_view commandLine, std::wstring_view option, std::wstring* member) {
  TraceScope scope(L"CQuillonDlg::ExtractCommandLineString");
  const std::size_t at = commandLine.find(option);
  if (option.empty() || at == std::wstring_view::npos) return 0;
  std::wstring_view value = commandLine.substr(at + option.size());
  value = value.substr(0, value.find_first_of(L" /"));
  member->assign(value.substr(0, kOptionTextChars - 1));
  return scope.Result();
}

void ReadCommandLineOptions(DialogRecord& record) {
  const std::wstring_view line = record.m_commandLine;
  ExtractCommandLineInteger(line, kOptionState, &record.m_state);
  std::wstring port = record.ComPort();
  ExtractCommandLineString(line, kOptionPort, &port);
  record.SetComPort(port);
  std::wstring psr = record.PsrFile();
  ExtractCommandLineString(line, kOptionPsr, &psr);
  record.SetPsrFile(psr);
  ExtractCommandLineInteger(line, kOptionBaudrate, &record.m_baudrate);
  ExtractCommandLineString(line, kOptionTransportReg, &record.m_transportReg);
}

bool IsResumableText(std::wstring_view value) {
  return value.size() < kOptionTextChars && value.find_first_of(L" /") == std::wstring_view::npos;
}

}  // namespace quillon
