#include "platform/posix/files_posix.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/buffered_file.h"
#include "platform/posix/descriptor.h"
#include "platform/posix/log_file_posix.h"
#include "platform/posix/power_cut.h"
#include "platform/text.h"

namespace quillon::platform::posix {
namespace {

class PosixFile final : public FileBlocks {
 public:
  explicit PosixFile(int fd) : fd_(fd) {}

  ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) override {
    *got = 0;
    ssize_t count;
    do {
      count = read(fd_.get(), buffer.data(), buffer.size());
    } while (count < 0 && errno == EINTR);
    if (count < 0) return ErrorFromErrno(errno);
    *got = static_cast<std::uint32_t>(count);
    return kSuccess;
  }

  ErrorCode SetPosition(std::uint64_t offset) override {
    if (lseek(fd_.get(), static_cast<off_t>(offset), SEEK_SET) < 0) return ErrorFromErrno(errno);
    return kSuccess;
  }

  ErrorCode Write(std::span<const std::uint8_t> bytes) override {
    std::size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t count = write(fd_.get(), bytes.data() + done, bytes.size() - done);
      if (count < 0) {
        if (errno == EINTR) continue;
        return ErrorFromErrno(errno);
      }
      done += static_cast<std::size_t>(count);
    }
    NotePersistentChange("file written");
    return kSuccess;
  }

 private:
  Descriptor fd_;
};

}  // namespace

bool MatchesPattern(std::wstring_view name, std::wstring_view pattern) {
  // Iterative wildcard match with one back-tracking point for the last "*".
  std::size_t n = 0, p = 0, starP = std::wstring_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == L'?' || FoldCase(pattern[p]) == FoldCase(name[n]))) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == L'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::wstring_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == L'*') ++p;
  return p == pattern.size();
}

std::unique_ptr<File> PosixFiles::Open(std::wstring_view path, FileMode mode, ErrorCode* error) {
  const std::string host = root_.HostPath(path);
  const bool reading = mode == FileMode::kReadExisting;
  // Not blocking, so that opening a FIFO without a writer returns at once and can be refused.
  const int flags = reading ? (O_RDONLY | O_NONBLOCK) : (O_WRONLY | O_CREAT | O_TRUNC);
  Descriptor fd(open(host.c_str(), flags | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    *error = errno == EISDIR ? kErrorDirectory : ErrorFromErrno(errno);
    return nullptr;
  }
  struct stat info {};
  ErrorCode refused = kSuccess;
  // NOLINTNEXTLINE(bugprone-branch-clone): two system calls, each failing with its own errno
  if (fstat(fd.get(), &info) != 0) {
    refused = ErrorFromErrno(errno);
  } else if (S_ISDIR(info.st_mode)) {
    refused = kErrorDirectory;
  } else if (reading && !S_ISREG(info.st_mode)) {
    refused = kErrorBadFileType;
  } else if (reading && fcntl(fd.get(), F_SETFL, O_RDONLY) != 0) {
    refused = ErrorFromErrno(errno);
  }
  if (refused != kSuccess) {
    *error = refused;
    return nullptr;
  }
  *error = kSuccess;
  if (!reading) NotePersistentChange("file created: " + host);
  return std::make_unique<BufferedFile>(std::make_unique<PosixFile>(fd.release()));
}

ErrorCode PosixFiles::Delete(std::wstring_view path) {
  const std::string host = root_.HostPath(path);
  if (unlink(host.c_str()) != 0) return ErrorFromErrno(errno);
  NotePersistentChange("file deleted: " + host);
  return kSuccess;
}

ErrorCode PosixFiles::Rename(std::wstring_view from, std::wstring_view to) {
  const std::string source = root_.HostPath(from);
  const std::string target = root_.HostPath(to);
  // A rename replaces a file in one step only when what it brings in is on disk first.
  if (const Descriptor written(open(source.c_str(), O_RDONLY | O_CLOEXEC)); written.get() >= 0) {
    (void)fsync(written.get());
  }
  if (rename(source.c_str(), target.c_str()) != 0) return ErrorFromErrno(errno);
  if (const Descriptor folder(
          open(std::filesystem::path(target).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      folder.get() >= 0) {
    (void)fsync(folder.get());
  }
  NotePersistentChange("file renamed: " + target);
  return kSuccess;
}

std::unique_ptr<LogFile> PosixFiles::OpenLog(std::wstring_view path, ErrorCode* error) {
  return OpenLogFile(root_.HostPath(path), error);
}

ErrorCode PosixFiles::List(std::wstring_view pattern, std::vector<std::wstring>* names) {
  names->clear();
  const std::size_t cut = pattern.find_last_of(L"\\/");
  const std::wstring_view folder = cut == std::wstring_view::npos ? L"." : pattern.substr(0, cut == 0 ? 1 : cut);
  const std::wstring_view namePattern = cut == std::wstring_view::npos ? pattern : pattern.substr(cut + 1);
  const std::string hostFolder = root_.HostPath(folder);
  DIR* dir = opendir(hostFolder.c_str());
  if (dir == nullptr) return ErrorFromErrno(errno);
  while (const dirent* entry = readdir(dir)) {
    const std::wstring name = Utf8ToWide(entry->d_name);
    if (!MatchesPattern(name, namePattern)) continue;
    struct stat info {};
    if (stat((hostFolder + "/" + entry->d_name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
      names->push_back(name);
    }
  }
  closedir(dir);
  std::sort(names->begin(), names->end(),
            [](const std::wstring& a, const std::wstring& b) { return CompareIgnoringCase(a, b) < 0; });
  return names->empty() ? kErrorFileNotFound : kSuccess;
}

}  // namespace quillon::platform::posix
