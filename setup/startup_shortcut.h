// The resume shortcut: a file in the start-up folder that the platform runs after a restart, so
// that the program carries on with the next run of the setup.
//
// Its content is 8-bit text "<count>#\"<program>\" /state:S /port:P /psr:F /baudrate:B
// /TransportReg:K" and one zero byte; the count is the number of characters after "#" less the
// two quotation marks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/files.h"
#include "platform/system.h"
#include "setup/dialog_record.h"

namespace quillon {

inline constexpr wchar_t kShortcutPath[] = L"\\Windows\\StartUp\\Quillon.lnk";
// Where a new shortcut is written before it is renamed into the start-up folder: outside it, so
// that the platform never starts a draft.
inline constexpr wchar_t kShortcutDraftPath[] = L"\\Windows\\Quillon.lnk.new";
// The shortcut's text and each of its pieces is held in this many bytes, the zero included.
inline constexpr std::size_t kShortcutBytes = 260;

struct ShortcutValues {
  std::wstring programPath;
  std::int32_t state = 0;
  std::wstring port;
  std::wstring psrFile;
  std::int32_t baudrate = 0;
  std::wstring transportReg;
};

// The shortcut's text without its zero byte. False (and no text) when a piece or the whole text
// does not fit its 260 bytes with its zero.
bool FormatShortcutText(const ShortcutValues& values, std::string* text);

class StartupShortcut {
 public:
  StartupShortcut(platform::Files& files, platform::System& system, DialogRecord& record)
      : files_(files), system_(system), record_(record) {}

  // The shortcut's values for a run that is to start in `state`.
  ShortcutValues ValuesFor(std::int32_t state);
  // Writes the shortcut whole, replacing an older one in one step. 0, 109 (not created), 110 (not
  // written or not renamed into place, also for a text that would not fit; the older shortcut is
  // then left as it was), 115 (the program's path is unknown).
  int CreateShortcutInStartupFolder(std::int32_t state);
  // Deletes the shortcut; its absence is no failure. Always 0.
  int DeleteStartupShortcut();

 private:
  platform::Files& files_;
  platform::System& system_;
  DialogRecord& record_;
};

}  // namespace quillon
