#include "platform/win32/files_win32.h"

#include "platform/buffered_file.h"
#include "platform/win32/log_file_win32.h"
#include "platform/win32/win32_names.h"

namespace quillon::platform::win32 {
namespace {

class Win32File final : public FileBlocks {
 public:
  explicit Win32File(HANDLE file) : file_(file) {}

  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    DWORD count = 0;
    const BOOL ok = ReadFile(file_.get(), buffer.data(), static_cast<DWORD>(buffer.size()), &count, nullptr);
    *got = ok ? count : 0;
    return ok ? kSuccess : LastError();
  }

  ErrorCode SetPosition(std::uint64_t offset) override {
    LARGE_INTEGER distance;
    distance.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file_.get(), distance, nullptr, FILE_BEGIN) ? kSuccess : LastError();
  }

  ErrorCode Write(std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      DWORD written = 0;
      if (!WriteFile(file_.get(), bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr)) {
        return LastError();
      }
      done += written;
    }
    return kSuccess;
  }

 private:
  Handle file_;
};

}  // namespace

std::wstring Win32Files::SystemPath(std::wstring_view path) const {
  if (deviceRoot_.empty() || path.empty() || path.front() != L'\\' || path.starts_with(L"\\\\"))
    return std::wstring(path);
  return deviceRoot_ + std::wstring(path);
}

std::unique_ptr<File> Win32Files::Open(std::wstring_view path, FileMode mode, ErrorCode* error) {
  const std::wstring name = SystemPath(path);
  const bool reading = mode == FileMode::kReadExisting;
  // Readers share: the ports of a line read the same PSR file at once. A writer has the file alone.
  HANDLE file = CreateFileW(name.c_str(), reading ? GENERIC_READ : GENERIC_WRITE, reading ? FILE_SHARE_READ : 0,
                            nullptr, reading ? OPEN_EXISTING : CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    *error = LastError();
    // A folder cannot be opened as a file; say so rather than "access denied".
    const DWORD attributes = GetFileAttributesW(name.c_str());
    if (*error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      *error = kErrorDirectory;
    }
    return nullptr;
  }
  auto opened = std::make_unique<Win32File>(file);
  if (reading && GetFileType(file) != FILE_TYPE_DISK) {
    *error = kErrorBadFileType;  // a pipe or a device: no end to read up to
    return nullptr;
  }
  *error = kSuccess;
  return std::make_unique<BufferedFile>(std::move(opened));
}

ErrorCode Win32Files::Delete(std::wstring_view path) {
  const std::wstring name = SystemPath(path);
  return DeleteFileW(name.c_str()) ? kSuccess : LastError();
}

ErrorCode Win32Files::Rename(std::wstring_view from, std::wstring_view to) {
  const std::wstring source = SystemPath(from);
  const std::wstring target = SystemPath(to);
  return MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? kSuccess
                                                                                                         : LastError();
}

std::unique_ptr<LogFile> Win32Files::OpenLog(std::wstring_view path, ErrorCode* error) {
  return OpenLogFile(SystemPath(path), error);
}

ErrorCode Win32Files::List(std::wstring_view pattern, std::vector<std::wstring>* names) {
  names->clear();
  const std::wstring search = SystemPath(pattern);
  WIN32_FIND_DATAW found;
  HANDLE listing = FindFirstFileW(search.c_str(), &found);
  if (listing == INVALID_HANDLE_VALUE) return LastError();
  do {
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) names->emplace_back(found.cFileName);
  } while (FindNextFileW(listing, &found));
  FindClose(listing);
  return names->empty() ? kErrorFileNotFound : kSuccess;
}

}  // namespace quillon::platform::win32
