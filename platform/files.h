// Files: open, read one byte, set the position, write, delete, close.
//
// Paths are wide text. A path that starts with a backslash is a device path (such as
// L"\\Windows\\StartUp\\Quillon.lnk"); the back end decides where the device's folders are.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "platform/errors.h"

namespace quillon::platform {

enum class FileMode {
  kReadExisting,   // read only; fails when the file does not exist, is a folder (kErrorDirectory)
                   // or is no regular file (kErrorBadFileType): a pipe or a device never blocks
                   // the opening nor feeds a reader without end
  kWriteTruncate,  // write only; creates the file or empties it
};

class File {
 public:
  virtual ~File() = default;  // closes the file
  // Reads one byte. Returns kSuccess and *got = 1, or kSuccess and *got = 0 at the end.
  virtual ErrorCode ReadByte(std::uint8_t* byte, std::uint32_t* got) = 0;
  virtual ErrorCode SetPosition(std::uint64_t offset) = 0;
  virtual ErrorCode Write(std::span<const std::uint8_t> bytes) = 0;
};

// What a back end gives for one open file: reads of whole spans. ReadByte is served above it, by
// BufferedFile (platform/buffered_file.h), the same on every platform.
class FileBlocks {
 public:
  virtual ~FileBlocks() = default;  // closes the file
  // Reads up to buffer.size() bytes from the position on. *got = 0 at the end.
  virtual ErrorCode Read(std::span<std::uint8_t> buffer, std::uint32_t* got) = 0;
  virtual ErrorCode SetPosition(std::uint64_t offset) = 0;
  virtual ErrorCode Write(std::span<const std::uint8_t> bytes) = 0;
};

// A file that records are added to at its end, by several processes one at a time: a journal.
// Lock excludes the other processes that lock it; the threads of one process share the lock, so
// the caller serialises them.
class LogFile {
 public:
  virtual ~LogFile() = default;  // unlocks and closes
  // Waits while another process holds the lock.
  virtual ErrorCode Lock() = 0;
  virtual void Unlock() = 0;
  // The file's bytes from `offset` to its end.
  virtual ErrorCode ReadFrom(std::uint64_t offset, std::string* text) = 0;
  // Writes `text` at the end in one call and returns once it is on disk. When it cannot be
  // written whole (a full disk), the file is cut back to its former length and the error
  // returned: no part of a record is left behind.
  virtual ErrorCode Append(std::string_view text) = 0;
  // Cuts the file to `length` bytes, on disk before it returns.
  virtual ErrorCode Truncate(std::uint64_t length) = 0;
};

class Files {
 public:
  virtual ~Files() = default;
  virtual std::unique_ptr<File> Open(std::wstring_view path, FileMode mode, ErrorCode* error) = 0;
  virtual ErrorCode Delete(std::wstring_view path) = 0;
  // Puts `from` in the place of `to` in one step, replacing a file that is there: a reader sees
  // the old file or the new one, never a part of it.
  virtual ErrorCode Rename(std::wstring_view from, std::wstring_view to) {
    (void)from;
    (void)to;
    return kErrorNotSupported;
  }
  // Opens `path` for appending records, creating it when missing. A folder or anything but a
  // regular file is refused.
  virtual std::unique_ptr<LogFile> OpenLog(std::wstring_view path, ErrorCode* error) {
    (void)path;
    *error = kErrorNotSupported;
    return nullptr;
  }
};

}  // namespace quillon::platform
