// Reading a PSR file into the programming list, for every engine: what was left out is traced,
// the observer told, and the file's faults turned into the run's results.
#include "psconfig/list_loading.h"

#include "trace/trace.h"

namespace quillon {

int LoadProgrammingList(const platform::Platform& platform, PsKeyList& list, std::wstring_view psrPath,
                        platform::Event* stopEvent, RunObserver* observer, bool* stopped, bool* keysLeftOut) {
  Trace& trace = Trace::Process();
  platform::ErrorCode error = platform::kSuccess;
  std::unique_ptr<platform::File> file = platform.files->Open(psrPath, platform::FileMode::kReadExisting, &error);
  if (!file) {
    trace.Printf(KindInfo, kTraceCategory, L"Unable to open %s error:%d", psrPath, error);
    if (observer != nullptr) observer->FileFailed(error);
    return kPsConfigFileFailed;
  }
  const PsrLoadResult loaded = PsrReader::Load(*file, list, stopEvent);
  file.reset();
  const PsrReport& report = loaded.report;
  for (std::size_t i = 0; i < report.Listed(); ++i) {
    trace.Printf(KindImportant, kTraceCategory, L"Key &%04x on line %u left out: more than %u values",
                 report.leftOut[i].key, report.leftOut[i].line, static_cast<std::uint32_t>(PsKeyItem::kMaxValues));
  }
  if (report.keysLeftOut > report.Listed()) {
    trace.Printf(KindImportant, kTraceCategory, L"%u more key lines left out", report.keysLeftOut - report.Listed());
  }
  *keysLeftOut = report.keysLeftOut != 0;
  switch (loaded.outcome) {
    case PsrLoad::kLoaded:
      if (observer != nullptr) observer->FileRead(loaded.keys, report);
      return kPsConfigDone;
    case PsrLoad::kStopped:
      *stopped = true;
      if (observer != nullptr) observer->Stopped();
      return kPsConfigDone;
    case PsrLoad::kNoKeys:
      if (observer != nullptr) observer->FileRead(0, report);
      // Key lines were there, but none that can be sent: that is no success either.
      if (*keysLeftOut) return kPsConfigNotCompleted;
      trace.Printf(KindInfo, kTraceCategory, L"The file %s doesn't contain keys to be changed", psrPath);
      return kPsConfigNoKeys;
    case PsrLoad::kTooManyKeys:
      trace.Printf(KindImportant, kTraceCategory, L"Cannot hold the %u keys of %s", loaded.keys, psrPath);
      return kPsConfigNotCompleted;
    case PsrLoad::kRewindFailed:
      trace.Printf(KindInfo, kTraceCategory, L"Unable to open %s error:%d", psrPath, platform::kErrorGenFailure);
      if (observer != nullptr) observer->FileFailed(platform::kErrorGenFailure);
      return kPsConfigFileFailed;
    case PsrLoad::kChanged:
      trace.Printf(KindImportant, kTraceCategory, L"The file %s changed while it was read", psrPath);
      if (observer != nullptr) observer->FileFailed(platform::kErrorInvalidData);
      return kPsConfigFileFailed;
  }
  return kPsConfigFileFailed;
}

}  // namespace quillon
