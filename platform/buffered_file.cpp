#include "platform/buffered_file.h"

#include <algorithm>

namespace quillon::platform {

ErrorCode BufferedFile::ReadByte(std::uint8_t* byte, std::uint32_t* got) {
  *got = 0;
  if (next_ == filled_) {
    next_ = filled_ = 0;
    std::uint32_t count = 0;
    if (const ErrorCode error = blocks_->Read(buffer_, &count); error != kSuccess) return error;
    // A back end never claims more than it was given room for.
    filled_ = std::min<std::size_t>(count, buffer_.size());
    if (filled_ == 0) return kSuccess;
  }
  *byte = buffer_[next_++];
  *got = 1;
  return kSuccess;
}

ErrorCode BufferedFile::SetPosition(std::uint64_t offset) {
  next_ = filled_ = 0;
  return blocks_->SetPosition(offset);
}

}  // namespace quillon::platform
