#include "platform/posix/registry_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/posix/descriptor.h"
#include "platform/posix/power_cut.h"
#include "platform/text.h"

namespace quillon::platform::posix {
ErrorCode RegistryFile::Transact(bool forWriting, const Change& change) {
  int lockFd = -1;
  if (const ErrorCode locked = Lock(forWriting, &lockFd); locked != kSuccess) return locked;
  Descriptor lock(lockFd);
  std::lock_guard<std::mutex> hold(cacheLock_);
  if (const ErrorCode loaded = Load(); loaded != kSuccess) return loaded;
  bool modified = false;
  const ErrorCode result = change(&cache_.tree, &modified);
  if (result != kSuccess || !forWriting || !modified) {
    if (modified) cache_.valid = false;  // a change that is not kept must not stay in the copy
    return result;
  }
  return Store();
}

ErrorCode RegistryFile::Lock(bool exclusive, int* lockFd) {
  if (const ErrorCode rootError = root_.Ensure(); rootError != kSuccess) {
    NoteProblem("the device root " + root_.Path() + " does not exist");
    return rootError;
  }
  Descriptor fd(open((root_.Path() + "/registry.lock").c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0644));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  // A lock is held for the length of one call; one held for longer belongs to a program that
  // hangs (or is stopped). After one wait has timed out, calls only try once until the lock is
  // taken again, so that a program's many calls do not each wait.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(busy_ ? 0 : lockWaitMs_);
  while (flock(fd.get(), (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
    const int error = errno;
    if (error != EWOULDBLOCK && error != EINTR) return ErrorFromErrno(error);
    if (error == EWOULDBLOCK && std::chrono::steady_clock::now() >= deadline) {
      busy_ = true;
      NoteProblem("the registry is busy: another program has held " + root_.Path() + "/registry.lock for over " +
                  std::to_string(lockWaitMs_) + " ms");
      return kErrorBusy;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  busy_ = false;
  *lockFd = fd.release();
  return kSuccess;
}

ErrorCode RegistryFile::Load() {
  // The file is read at every call, as another program may have replaced it; it is parsed only
  // when its text differs from the text of the tree at hand (parsing a large registry at every
  // call made a search through it take minutes).
  const std::string path = FilePath();
  Descriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const bool missing = file.get() < 0 && errno == ENOENT;  // a device whose registry is still empty
  if (file.get() < 0 && !missing) return ErrorFromErrno(errno);
  // Read into a buffer kept between calls: a large registry read into a new string at every
  // call spent most of its time faulting fresh pages in.
  std::string& text = readBuffer_;
  text.clear();
  struct stat status {};
  if (!missing && fstat(file.get(), &status) == 0 && status.st_size > 0) {
    text.reserve(static_cast<std::size_t>(status.st_size) + 1);
  }
  while (!missing) {
    const std::size_t done = text.size();
    text.resize(std::max(text.capacity(), done + 4096));
    const ssize_t count = read(file.get(), text.data() + done, text.size() - done);
    const int error = errno;
    text.resize(done + static_cast<std::size_t>(std::max<ssize_t>(count, 0)));
    if (count == 0) break;
    if (count < 0 && error != EINTR) return ErrorFromErrno(error);
  }
  if (cache_.valid && cache_.missing == missing && cache_.text == text) return kSuccess;
  cache_.valid = false;
  cache_.tree = RegistryNode{};
  if (!missing) {
    RegistryParseError error;
    if (!ParseRegistry(text, &cache_.tree, &error)) {
      NoteProblem(path + " line " + std::to_string(error.line) + ": " + error.reason);
      return kErrorBadDatabase;
    }
  }
  std::swap(cache_.text, text);
  cache_.missing = missing;
  cache_.valid = true;
  return kSuccess;
}

ErrorCode RegistryFile::Store() {
  const std::string path = FilePath();
  const std::string temporary = path + ".new";  // only the lock holder writes it
  cache_.valid = false;                         // until the file holds the tree
  std::string text = SerializeRegistry(cache_.tree);
  Descriptor file(open(temporary.c_str(), O_CREAT | O_WRONLY | O_TRUNC | O_CLOEXEC, 0644));
  if (file.get() < 0) return ErrorFromErrno(errno);
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t count = write(file.get(), text.data() + done, text.size() - done);
    if (count < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      unlink(temporary.c_str());
      return ErrorFromErrno(error);
    }
    done += static_cast<std::size_t>(count);
  }
  if (fsync(file.get()) != 0 || rename(temporary.c_str(), path.c_str()) != 0) {
    const int error = errno;
    unlink(temporary.c_str());
    return ErrorFromErrno(error);
  }
  // The rename itself is on disk only once the folder is.
  if (const Descriptor folder(
          open(std::filesystem::path(path).parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
      folder.get() >= 0) {
    (void)fsync(folder.get());
  }
  cache_.text = std::move(text);
  cache_.missing = false;
  cache_.valid = true;
  NotePersistentChange("registry written");
  return kSuccess;
}

void RegistryFile::NoteProblem(std::string problem) {
  std::lock_guard<std::mutex> hold(problemLock_);
  if (problem == problem_ && problemReported_) return;
  problem_ = std::move(problem);
  // Said once per problem: programs that only see result codes still tell the user what to mend.
  std::fprintf(stderr, "registry: %s\n", problem_.c_str());
  problemReported_ = true;
}

std::string RegistryFile::Problem() const {
  std::lock_guard<std::mutex> hold(problemLock_);
  return problem_;
}

}  // namespace quillon::platform::posix
