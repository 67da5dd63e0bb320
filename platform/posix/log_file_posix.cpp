#include "platform/posix/log_file_posix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "platform/posix/descriptor.h"
#include "platform/posix/device_root.h"
#include "platform/posix/power_cut.h"

namespace quillon::platform::posix {
namespace {

class PosixLogFile final : public LogFile {
 public:
  explicit PosixLogFile(int fd) : fd_(fd) {}
  ~PosixLogFile() override { Unlock(); }

  ErrorCode Lock() override {
    int done;
    do {
      done = flock(fd_.get(), LOCK_EX);
    } while (done != 0 && errno == EINTR);
    return done == 0 ? kSuccess : ErrorFromErrno(errno);
  }
  void Unlock() override { (void)flock(fd_.get(), LOCK_UN); }

  ErrorCode ReadFrom(std::uint64_t offset, std::string* text) override {
    text->clear();
    char buffer[8192];
    for (auto at = static_cast<off_t>(offset);;) {
      const ssize_t count = pread(fd_.get(), buffer, sizeof buffer, at);
      if (count < 0 && errno == EINTR) continue;
      if (count < 0) return ErrorFromErrno(errno);
      if (count == 0) return kSuccess;
      text->append(buffer, static_cast<std::size_t>(count));
      at += count;
    }
  }

  ErrorCode Append(std::string_view text) override {
    const off_t before = lseek(fd_.get(), 0, SEEK_END);
    if (before < 0) return ErrorFromErrno(errno);
    std::size_t done = 0;
    while (done < text.size()) {
      const ssize_t count = write(fd_.get(), text.data() + done, text.size() - done);
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        const ErrorCode error = count < 0 ? ErrorFromErrno(errno) : kErrorDiskFull;
        (void)ftruncate(fd_.get(), before);
        (void)fsync(fd_.get());
        return error;
      }
      done += static_cast<std::size_t>(count);
    }
    if (fsync(fd_.get()) != 0) {
      // The record may or may not be on disk: cut it away, so that a later reader finds neither
      // it nor a part of it, and the caller takes nothing as recorded.
      const ErrorCode error = ErrorFromErrno(errno);
      (void)ftruncate(fd_.get(), before);
      (void)fsync(fd_.get());
      return error;
    }
    NotePersistentChange("journal appended");
    return kSuccess;
  }

  ErrorCode Truncate(std::uint64_t length) override {
    if (ftruncate(fd_.get(), static_cast<off_t>(length)) != 0 || fsync(fd_.get()) != 0) return ErrorFromErrno(errno);
    NotePersistentChange("journal cut");
    return kSuccess;
  }

 private:
  Descriptor fd_;
};

}  // namespace

std::unique_ptr<LogFile> OpenLogFile(const std::string& hostPath, ErrorCode* error) {
  const bool existed = access(hostPath.c_str(), F_OK) == 0;
  // Not blocking, so that a FIFO named as the journal is refused at once.
  Descriptor fd(open(hostPath.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0644));
  if (fd.get() < 0) {
    *error = errno == EISDIR ? kErrorDirectory : ErrorFromErrno(errno);
    return nullptr;
  }
  struct stat info {};
  if (fstat(fd.get(), &info) != 0) {
    *error = ErrorFromErrno(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = S_ISDIR(info.st_mode) ? kErrorDirectory : kErrorBadFileType;
    return nullptr;
  }
  if (fcntl(fd.get(), F_SETFL, O_RDWR) != 0) {
    *error = ErrorFromErrno(errno);
    return nullptr;
  }
  if (!existed) {
    // A new file is kept through a power cut only once its folder's entry is on disk too.
    const std::filesystem::path folder = std::filesystem::path(hostPath).parent_path();
    if (const Descriptor entry(open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        entry.get() >= 0) {
      (void)fsync(entry.get());
    }
  }
  *error = kSuccess;
  return std::make_unique<PosixLogFile>(fd.release());
}

}  // namespace quillon::platform::posix
