#include "platform/posix/messages_posix.h"

#include <fcntl.h>
#include <mqueue.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/deadline.h"
#include "platform/posix/device_root.h"

namespace quillon::platform::posix {
namespace {

constexpr long kQueueLength = 10;  // the most an unprivileged process may ask for by default

std::string QueueName(const std::string& prefix, std::uint32_t window) {
  return "/" + prefix + ".window." + std::to_string(window);
}

class PosixMessageQueue final : public MessageQueue {
 public:
  PosixMessageQueue(mqd_t queue, std::string name, std::uint32_t window)
      : queue_(queue), name_(std::move(name)), window_(window) {}
  ~PosixMessageQueue() override {
    mq_close(queue_);
    mq_unlink(name_.c_str());
  }
  PosixMessageQueue(const PosixMessageQueue&) = delete;
  PosixMessageQueue& operator=(const PosixMessageQueue&) = delete;

  std::uint32_t WindowId() const override { return window_; }

  bool Wait(std::uint32_t timeoutMs, WindowMessage* message) override {
    const timespec deadline = DeadlineAfter(CLOCK_REALTIME, timeoutMs);  // mq_timedreceive's clock
    std::uint32_t words[3];
    ssize_t got;
    do {
      got = mq_timedreceive(queue_, reinterpret_cast<char*>(words), sizeof words, nullptr, &deadline);
    } while (got < 0 && errno == EINTR);
    if (got != static_cast<ssize_t>(sizeof words)) return false;
    *message = WindowMessage{words[0], words[1], words[2]};
    return true;
  }

 private:
  mqd_t queue_;
  std::string name_;
  std::uint32_t window_;
};

}  // namespace

PosixWindowMessages::~PosixWindowMessages() {
  for (const CachedQueue& entry : cache_) {
    if (entry.descriptor >= 0) mq_close(entry.descriptor);
  }
}

int PosixWindowMessages::OpenCached(std::uint32_t window) {
  for (const CachedQueue& entry : cache_) {
    if (entry.descriptor >= 0 && entry.window == window) return entry.descriptor;
  }
  const mqd_t queue = mq_open(QueueName(prefix_, window).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (queue < 0) return -1;
  CachedQueue& slot = cache_[nextSlot_];
  nextSlot_ = (nextSlot_ + 1) % cache_.size();
  if (slot.descriptor >= 0) mq_close(slot.descriptor);
  slot = CachedQueue{window, queue};
  return queue;
}

bool PosixWindowMessages::Post(std::uint32_t window, const WindowMessage& message) {
  if (window == 0) return false;
  const std::uint32_t words[3] = {message.message, message.wParam, message.lParam};
  std::lock_guard<std::mutex> hold(cacheLock_);
  const int queue = OpenCached(window);
  if (queue < 0) return false;
  return mq_send(queue, reinterpret_cast<const char*>(words), sizeof words, 0) == 0;
}

std::unique_ptr<MessageQueue> PosixWindowMessages::CreateQueue(ErrorCode* error) {
  mq_attr attributes{};
  attributes.mq_maxmsg = kQueueLength;
  attributes.mq_msgsize = 3 * sizeof(std::uint32_t);
  for (int attempt = 0; attempt < 256; ++attempt) {
    const std::uint32_t window = (static_cast<std::uint32_t>(getpid()) << 8) | (queueCounter_.fetch_add(1) & 0xFFu) |
                                 0x80000000u;
    const std::string name = QueueName(prefix_, window);
    const mqd_t queue = mq_open(name.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600, &attributes);
    if (queue >= 0) {
      *error = kSuccess;
      return std::make_unique<PosixMessageQueue>(queue, name, window);
    }
    if (errno != EEXIST) break;
  }
  *error = ErrorFromErrno(errno);
  return nullptr;
}

}  // namespace quillon::platform::posix
