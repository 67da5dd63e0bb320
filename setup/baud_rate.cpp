#include "setup/baud_rate.h"

#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "platform/text.h"
#include "psconfig/file_rate.h"
#include "psconfig/psr_reader.h"
#include "setup/registry_values.h"
#include "setup/setup_results.h"
#include "trace/trace.h"
#include "trace/trace_scope.h"

namespace quillon {
namespace {

Trace& T() { return Trace::Process(); }

// Writes "baud" into one key and flushes it, tracing it as `what` ("Baudrate" for a transport key,
// "Backup Baudrate" for the others); what went wrong, or kSuccess.
platform::ErrorCode WriteBaud(platform::Registry& registry, std::wstring_view path, std::int32_t newBaud,
                              std::wstring_view what) {
  std::unique_ptr<platform::RegistryKey> key;
  const platform::ErrorCode opened = registry.OpenKey(path, platform::RegistryAccess::kAll, &key);
  if (opened != platform::kSuccess) return opened;
  platform::ErrorCode error = WriteDword(*key, L"baud", static_cast<std::uint32_t>(newBaud));
  if (error != platform::kSuccess) {
    T().Printf(KindImportant, kTraceCategory, L"Error updating %s to %d: %d", what, newBaud, error);
  } else {
    T().Printf(KindInfo, kTraceCategory, L"%s updated to %d", what, newBaud);
  }
  const platform::ErrorCode flushed = key->Flush();
  if (error == platform::kSuccess) error = flushed;
  return error;
}

}  // namespace

int BaudRate::ReadBaudrateIfAnyFromPsr(std::wstring_view path, std::int32_t* newBaud) {
  TraceScope scope(L"CQuillonDlg::ReadBaudrateIfAnyFromPsr");
  *newBaud = record_.m_baudrate;
  platform::ErrorCode error = platform::kSuccess;
  std::unique_ptr<platform::File> file = files_.Open(path, platform::FileMode::kReadExisting, &error);
  if (!file) {
    scope.Store(kPsrFileNotOpened);
    scope.Report();
    return scope.Result();
  }
  // The lines are read with the programming run's own reader, so that the values are the ones
  // the run sends: key lines of the four keys in any letter case, "&" or "?"; for a key written
  // twice, its last line.
  std::unique_ptr<char[]> line(new (std::nothrow) char[PsrReader::kLineCapacity + 1]);
  std::unique_ptr<std::uint16_t[]> values(new (std::nothrow) std::uint16_t[PsrReader::kValueCapacity]);
  if (!line || !values) {
    scope.Store(kNoMemoryForLines);
    scope.Report();
    return scope.Result();
  }
  UartRateKeyLines rateKeys;
  while (PsrReader::ReadLine(*file, line.get(), PsrReader::kLineCapacity)) {
    const std::string_view text(line.get(), std::strlen(line.get()));
    T().Printf(KindInfo, kTraceCategory, L"Line read from PSR file: %s", platform::Utf8ToWide(text));
    const std::span<std::uint16_t> parsedValues(values.get(), PsrReader::kValueCapacity);
    rateKeys.Take(PsrReader::ParseLine(text, parsedValues), parsedValues);
  }
  const AppliedUartRate applied = rateKeys.Applied();
  const std::uint16_t value = applied.value;
  if (applied.key != 0) {
    std::array<wchar_t, 8> valueText{};
    FormatTo(std::span<wchar_t>(valueText), L"%04x", value);
    T().Printf(KindInfo, kTraceCategory, L"The Baudrate (%s) needs to be updated", valueText.data());
    if (applied.rate != 0) {
      *newBaud = static_cast<std::int32_t>(applied.rate);
    } else {
      T().Printf(KindInfo, kTraceCategory, L"Unrecognized baudrate:%d (0x%x)", value, value);
    }
    T().Printf(KindInfo, kTraceCategory, L"New Baudrate:%d", *newBaud);
  } else {
    T().Printf(KindInfo, kTraceCategory, L"Baudrate %d doesn't need to be updated", record_.m_baudrate);
  }
  return scope.Result();
}

int BaudRate::UpdateBaudrateIfNecessary(std::int32_t newBaud) {
  TraceScope scope(L"CQuillonDlg::UpdateBaudrateIfNecessary");
  WriteBaud(registry_, kBackupPath, newBaud, L"Backup Baudrate");
  WriteBaud(registry_, kHciBackupPath, newBaud, L"Backup Baudrate");
  const std::wstring marked = MarkedPortName(record_.ComPort());
  std::unique_ptr<platform::RegistryKey> transports;
  if (registry_.OpenKey(kTransportsPath, platform::RegistryAccess::kRead, &transports) != platform::kSuccess) {
    scope.Store(kTransportsKeyUnavailable);
    scope.Report();
  } else {
    StackRegistry::Found found;
    stack_.FindRegistry(kTransportsPath, platform::kRegSz, L"Name", marked, &found);
    if (found.found) WriteBaud(registry_, found.keyPath, newBaud, L"Baudrate");
    transports->Flush();
  }
  return scope.Result();
}

int BaudRate::WriteStackRate(std::wstring_view transportPath, std::uint32_t rate) {
  TraceScope scope(L"CQuillonDlg::WriteStackRate");
  T().Printf(KindImportant, kTraceCategory, L"The stack's keys follow the module's rate %d",
             static_cast<std::int32_t>(rate));
  const std::int32_t baud = static_cast<std::int32_t>(rate);
  const platform::ErrorCode transport = WriteBaud(registry_, transportPath, baud, L"Baudrate");
  const platform::ErrorCode hci = WriteBaud(registry_, kHciBackupPath, baud, L"Backup Baudrate");
  if (transport != platform::kSuccess || hci != platform::kSuccess) {
    scope.Store(kValueNotCopied);
    scope.Report();
  }
  return scope.Result();
}

}  // namespace quillon
