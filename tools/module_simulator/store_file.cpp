#include "tools/module_simulator/store_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "platform/posix/descriptor.h"
#include "platform/posix/power_cut.h"

namespace quillon::sim {
namespace {

using platform::posix::Descriptor;

std::string SystemError(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return false;
    done += static_cast<std::size_t>(wrote);
  }
  return true;
}

}  // namespace

std::string StoreFile::Open(PsStore* store) {
  const std::string problem = store->Load(path_);
  if (problem.empty()) return {};
  if (problem != "not found") return path_ + ": " + problem;
  store->Clear();
  if (std::string made = Replace(store->ToPsr()); !made.empty()) return path_ + ": " + made;
  platform::posix::NotePersistentChange("module store: created");
  return {};
}

std::string StoreFile::Write(const PsStore& store, std::uint16_t key) {
  if (std::string failed = Replace(store.ToPsr()); !failed.empty()) return failed;
  char what[48];
  std::snprintf(what, sizeof what, "module store: key 0x%04x", key);
  platform::posix::NotePersistentChange(what);
  return {};
}

std::string StoreFile::Replace(const std::string& text) {
  const std::string temporary = path_ + ".new";
  {
    const Descriptor file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.get() < 0) return SystemError("cannot create its new copy");
    if (!WriteAll(file.get(), text) || fsync(file.get()) != 0) {
      std::string failed = SystemError("cannot write its new copy");
      (void)unlink(temporary.c_str());
      return failed;
    }
  }
  if (rename(temporary.c_str(), path_.c_str()) != 0) {
    std::string failed = SystemError("cannot replace it");
    (void)unlink(temporary.c_str());
    return failed;
  }
  // The rename is on the disk only once the folder is.
  std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  if (folder.empty()) folder = ".";
  const Descriptor directory(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (directory.get() < 0 || fsync(directory.get()) != 0) return SystemError("cannot sync its folder");
  return {};
}

}  // namespace quillon::sim
