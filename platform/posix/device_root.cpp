#include "platform/posix/device_root.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "platform/text.h"

namespace quillon::platform::posix {
namespace {

std::string HashedPrefix(const std::string& path) {
  char resolved[4096];
  const std::string key = realpath(path.c_str(), resolved) != nullptr ? resolved : path;
  std::uint64_t hash = 14695981039346656037ull;  // FNV-1a
  for (unsigned char c : key) {
    hash ^= c;
    hash *= 1099511628211ull;
  }
  char text[40];
  std::snprintf(text, sizeof text, "quillon-%016llx", static_cast<unsigned long long>(hash));
  return text;
}

bool Exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// The entry of `folder` whose name equals `name` without regard to case, or `name` itself.
std::string MatchEntry(const std::string& folder, const std::string& name) {
  if (Exists(folder + "/" + name)) return name;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return name;
  std::string match = name;
  const std::wstring wanted = Utf8ToWide(name);
  while (const dirent* entry = readdir(dir)) {
    if (EqualsIgnoringCase(Utf8ToWide(entry->d_name), wanted)) {
      match = entry->d_name;
      break;
    }
  }
  closedir(dir);
  return match;
}

}  // namespace

DeviceRoot DeviceRoot::FromEnvironment() {
  if (const char* chosen = std::getenv("QUILLON_DEVICE_ROOT"); chosen != nullptr && *chosen != 0) {
    return DeviceRoot(chosen, false);
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
    return DeviceRoot(std::string(home) + "/.local/share/quillon/device", true);
  }
  return DeviceRoot("/tmp/quillon-device-" + std::to_string(getuid()), true);
}

DeviceRoot::DeviceRoot(std::string path, bool createWhenMissing)
    : path_(std::move(path)), createWhenMissing_(createWhenMissing) {
  while (path_.size() > 1 && path_.back() == '/') path_.pop_back();
  if (createWhenMissing_) (void)Ensure();
  objectPrefix_ = HashedPrefix(path_);
}

ErrorCode DeviceRoot::Ensure() const {
  struct stat info {};
  if (stat(path_.c_str(), &info) == 0) return S_ISDIR(info.st_mode) ? kSuccess : kErrorPathNotFound;
  if (!createWhenMissing_) return kErrorPathNotFound;
  for (std::size_t slash = path_.find('/', 1);; slash = path_.find('/', slash + 1)) {
    const std::string part = path_.substr(0, slash);
    if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return ErrorFromErrno(errno);
    if (slash == std::string::npos) break;
  }
  return kSuccess;
}

std::string DeviceRoot::HostPath(std::wstring_view devicePath) const {
  if (devicePath.empty() || (devicePath.front() != L'\\')) return WideToHostName(devicePath);
  std::string host = path_;
  std::size_t start = 0;
  while (start < devicePath.size()) {
    std::size_t end = devicePath.find_first_of(L"\\/", start);
    if (end == std::wstring_view::npos) end = devicePath.size();
    if (end > start) {
      const std::string entry = MatchEntry(host, WideToUtf8(devicePath.substr(start, end - start)));
      // Appended piece by piece: "/" + entry, a temporary, makes GCC 12 warn falsely at -O3.
      host.push_back('/');
      host.append(entry);
    }
    start = end + 1;
  }
  return host;
}

std::string DeviceRoot::PortPath(std::wstring_view portName) const {
  if (!portName.empty() && portName.front() == L'/') return WideToHostName(portName);
  std::wstring_view name = portName;
  if (name.starts_with(L"\\\\.\\")) name.remove_prefix(4);
  if (name.ends_with(L':')) name.remove_suffix(1);
  if (name.size() < 4 || !EqualsIgnoringCase(name.substr(0, 3), L"COM")) return {};
  for (wchar_t c : name.substr(3)) {
    if (c < L'0' || c > L'9') return {};
  }
  return path_ + "/dosdevices/com" + WideToUtf8(name.substr(3));
}

ErrorCode ErrorFromErrno(int error) {
  switch (error) {
    case 0:
      return kSuccess;
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
      return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EBUSY:
    case EISDIR:
      return kErrorAccessDenied;
    case EBADF:
      return kErrorInvalidHandle;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EAGAIN:
      return kErrorSharingViolation;
    case EEXIST:
      return kErrorAlreadyExists;
    case EINVAL:
    case ERANGE:
      return kErrorInvalidParameter;
    case ENOTTY:
    case ENOSYS:
    case EOPNOTSUPP:
      return kErrorNotSupported;
    case ETIMEDOUT:
      return kErrorTimeout;
    case EROFS:
      return kErrorWriteProtect;
    case ENOSPC:
    case EDQUOT:
      return kErrorDiskFull;
    default:
      return kErrorGenFailure;
  }
}

}  // namespace quillon::platform::posix
