#include "platform/win32/log_file_win32.h"

#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {
namespace {

class Win32LogFile final : public LogFile {
 public:
  explicit Win32LogFile(HANDLE file) : file_(file) {}
  ~Win32LogFile() override { Unlock(); }

  // The whole of the file's possible range, so that every process locks the same bytes.
  ErrorCode Lock() override {
    OVERLAPPED from{};
    if (!LockFileEx(file_.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &from)) return LastError();
    locked_ = true;
    return kSuccess;
  }
  void Unlock() override {
    if (!locked_) return;
    OVERLAPPED from{};
    UnlockFileEx(file_.get(), 0, MAXDWORD, MAXDWORD, &from);
    locked_ = false;
  }

  ErrorCode ReadFrom(std::uint64_t offset, std::string* text) override {
    text->clear();
    if (const ErrorCode moved = MoveTo(offset); moved != kSuccess) return moved;
    char buffer[8192];
    for (;;) {
      DWORD count = 0;
      if (!ReadFile(file_.get(), buffer, sizeof buffer, &count, nullptr)) return LastError();
      if (count == 0) return kSuccess;
      text->append(buffer, count);
    }
  }

  ErrorCode Append(std::string_view text) override {
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file_.get(), &size)) return LastError();
    if (const ErrorCode moved = MoveTo(static_cast<std::uint64_t>(size.QuadPart)); moved != kSuccess) return moved;
    std::size_t done = 0;
    while (done < text.size()) {
      DWORD written = 0;
      const BOOL ok = WriteFile(file_.get(), text.data() + done, static_cast<DWORD>(text.size() - done), &written,
                                nullptr);
      if (!ok || written == 0) {
        const ErrorCode error = ok ? kErrorDiskFull : LastError();
        (void)Truncate(static_cast<std::uint64_t>(size.QuadPart));
        return error == ERROR_HANDLE_DISK_FULL ? kErrorDiskFull : error;
      }
      done += written;
    }
    if (!FlushFileBuffers(file_.get())) {
      // The record may or may not be on disk: cut it away, so that nothing takes it as recorded.
      const ErrorCode error = LastError();
      (void)Truncate(static_cast<std::uint64_t>(size.QuadPart));
      return error;
    }
    return kSuccess;
  }

  ErrorCode Truncate(std::uint64_t length) override {
    if (const ErrorCode moved = MoveTo(length); moved != kSuccess) return moved;
    if (!SetEndOfFile(file_.get()) || !FlushFileBuffers(file_.get())) return LastError();
    return kSuccess;
  }

 private:
  ErrorCode MoveTo(std::uint64_t offset) {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file_.get(), distance, nullptr, FILE_BEGIN) ? kSuccess : LastError();
  }

  Handle file_;
  bool locked_ = false;
};

}  // namespace

std::unique_ptr<LogFile> OpenLogFile(const std::wstring& path, ErrorCode* error) {
  // Shared for reading and writing: other processes open the same journal and take turns by the lock.
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = LastError();
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (*error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      *error = kErrorDirectory;
    }
    return nullptr;
  }
  auto opened = std::make_unique<Win32LogFile>(file);
  if (GetFileType(file) != FILE_TYPE_DISK) {
    *error = kErrorBadFileType;
    return nullptr;
  }
  *error = kSuccess;
  return opened;
}

}  // namespace quillon::platform::win32
