#include "platform/posix/kernel_objects_posix.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "platform/posix/messages_posix.h"
#include "tests/support/sanitizers.h"
#include "tests/support/temp_device.h"

namespace quillon::platform::posix {
namespace {

class KernelObjectsTest : public ::testing::Test {
 protected:
  // Runs `body` in a child process with kernel objects of its own on the same device; returns
  // the child's exit status.
  template <typename Body>
  int InChild(Body body) {
    const pid_t child = fork();
    if (child == 0) {
      PosixKernelObjects other(device.Root().ObjectPrefix());
      _exit(body(other));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  testing::TempDevice device;
  PosixKernelObjects kernel{device.Root().ObjectPrefix()};
  ErrorCode error = kSuccess;
};

TEST_F(KernelObjectsTest, SharedMemoryLivesWhileSomeoneHoldsIt) {
  auto first = kernel.CreateSharedMemory(L"Block", 4096, &error);
  ASSERT_TRUE(first);
  EXPECT_FALSE(first->AlreadyExisted());
  EXPECT_EQ(first->Size(), 4096u);
  std::memcpy(first->Data(), "hello", 5);
  {
    auto second = kernel.CreateSharedMemory(L"Block", 4096, &error);
    ASSERT_TRUE(second);
    EXPECT_TRUE(second->AlreadyExisted());
    EXPECT_EQ(std::memcmp(second->Data(), "hello", 5), 0);
  }
  EXPECT_EQ(InChild([&](PosixKernelObjects& other) {
              auto seen = other.CreateSharedMemory(L"Block", 4096, &error);
              return seen && seen->AlreadyExisted() && std::memcmp(seen->Data(), "hello", 5) == 0 ? 0 : 1;
            }),
            0);
}

// The names in /dev/shm that belong to the device: its objects and their creation lock.
int SharedMemoryEntries(const std::string& prefix) {
  int count = 0;
  if (DIR* folder = opendir("/dev/shm")) {
    while (const dirent* entry = readdir(folder)) {
      if (std::string(entry->d_name).starts_with(prefix + ".")) ++count;
    }
    closedir(folder);
  }
  return count;
}

TEST_F(KernelObjectsTest, NothingOfTheDeviceStaysInSharedMemoryAfterItsLastObject) {
  const std::string& prefix = device.Root().ObjectPrefix();
  {
    auto memory = kernel.CreateSharedMemory(L"Block", 64, &error);
    auto mutex = kernel.CreateNamedMutex(L"Lock", &error);
    ASSERT_TRUE(memory && mutex);
    EXPECT_GT(SharedMemoryEntries(prefix), 0);
    memory.reset();
    EXPECT_GT(SharedMemoryEntries(prefix), 0);  // the mutex is still held
  }
  EXPECT_EQ(SharedMemoryEntries(prefix), 0);
}

TEST_F(KernelObjectsTest, ABlockLeftByADeadProcessCountsAsNew) {
  ASSERT_EQ(InChild([&](PosixKernelObjects& other) {
              auto memory = other.CreateSharedMemory(L"Left", 64, &error);
              std::memcpy(memory->Data(), "stale", 5);
              _exit(0);  // dies without closing
              return 1;
            }),
            0);
  auto memory = kernel.CreateSharedMemory(L"Left", 64, &error);
  ASSERT_TRUE(memory);
  EXPECT_FALSE(memory->AlreadyExisted());
  EXPECT_EQ(std::to_integer<int>(memory->Data()[0]), 0);
}

TEST_F(KernelObjectsTest, TheMutexTimesOutWhileAnotherProcessHoldsIt) {
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  if (child == 0) {
    PosixKernelObjects other(device.Root().ObjectPrefix());
    ErrorCode childError = kSuccess;
    auto mutex = other.CreateNamedMutex(L"Held", &childError);
    if (!mutex || mutex->Wait(1000) != WaitResult::kObtained) _exit(1);
    (void)!write(ready[1], "x", 1);
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    mutex->Release();
    _exit(0);
  }
  char signal = 0;
  ASSERT_EQ(read(ready[0], &signal, 1), 1);
  auto mutex = kernel.CreateNamedMutex(L"Held", &error);
  ASSERT_TRUE(mutex);
  EXPECT_EQ(mutex->Wait(300), WaitResult::kTimedOut);
  EXPECT_EQ(mutex->Wait(10000), WaitResult::kObtained);
  mutex->Release();
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  close(ready[0]);
  close(ready[1]);
}

TEST_F(KernelObjectsTest, AHolderThatDiesDoesNotBlockTheNext) {
  if (testing::kThreadSanitizer) GTEST_SKIP() << "the thread sanitizer cannot follow an abandoned mutex";
  auto mutex = kernel.CreateNamedMutex(L"Abandoned", &error);  // keeps the mutex alive across the child
  ASSERT_TRUE(mutex);
  ASSERT_EQ(InChild([&](PosixKernelObjects& other) {
              auto held = other.CreateNamedMutex(L"Abandoned", &error);
              if (!held || held->Wait(1000) != WaitResult::kObtained) return 1;
              _exit(0);  // dies holding it
              return 2;
            }),
            0);
  EXPECT_EQ(mutex->Wait(300), WaitResult::kObtained);
  mutex->Release();
  EXPECT_EQ(mutex->Wait(300), WaitResult::kObtained);  // and stays usable
  mutex->Release();
}

TEST_F(KernelObjectsTest, TheMutexIsRecursiveForItsOwner) {
  auto mutex = kernel.CreateNamedMutex(L"Recursive", &error);
  ASSERT_EQ(mutex->Wait(0), WaitResult::kObtained);
  EXPECT_EQ(mutex->Wait(0), WaitResult::kObtained);
  mutex->Release();
  mutex->Release();
}

TEST_F(KernelObjectsTest, NamedEventsAreSharedAndKeepTheirState) {
  auto event = kernel.CreateManualResetEvent(L"Started", false, &error);
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->Wait(0));
  ASSERT_EQ(InChild([&](PosixKernelObjects& other) {
              auto same = other.CreateManualResetEvent(L"Started", false, &error);
              same->Set();
              return 0;
            }),
            0);
  EXPECT_TRUE(event->Wait(0));
  auto opened = kernel.CreateManualResetEvent(L"Started", false, &error);  // opening keeps the state
  EXPECT_TRUE(opened->Wait(0));
  event->Reset();
  EXPECT_FALSE(opened->Wait(0));
}

TEST_F(KernelObjectsTest, AWaitEndsWhenAnotherThreadSetsTheEvent) {
  auto stop = kernel.CreateManualResetEvent(L"", false, &error);
  ASSERT_TRUE(stop);
  EXPECT_FALSE(stop->Wait(20));
  std::thread setter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop->Set();
  });
  // Set after 50 ms of a minute's wait: a wait that missed its wake-up ends only at its deadline.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(stop->Wait(60000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60)) << "not woken by the set";
  setter.join();
  auto initiallySet = kernel.CreateManualResetEvent(L"", true, &error);
  EXPECT_TRUE(initiallySet->Wait(0));
}

TEST_F(KernelObjectsTest, PostedMessagesReachTheQueue) {
  PosixWindowMessages messages(device.Root().ObjectPrefix());
  auto queue = messages.CreateQueue(&error);
  ASSERT_TRUE(queue) << error;
  EXPECT_NE(queue->WindowId(), 0u);
  WindowMessage message;
  EXPECT_FALSE(queue->Wait(10, &message));
  EXPECT_TRUE(messages.Post(queue->WindowId(), WindowMessage{0x701, 1, 2}));
  ASSERT_TRUE(queue->Wait(1000, &message));
  EXPECT_EQ(message.message, 0x701u);
  EXPECT_EQ(message.wParam, 1u);
  EXPECT_EQ(message.lParam, 2u);
  EXPECT_FALSE(messages.Post(0, message));
  EXPECT_FALSE(messages.Post(queue->WindowId() + 1, message));
  // A full queue drops messages instead of blocking the poster.
  int accepted = 0;
  for (int i = 0; i < 50; ++i) accepted += messages.Post(queue->WindowId(), message) ? 1 : 0;
  EXPECT_LT(accepted, 50);
}

}  // namespace
}  // namespace quillon::platform::posix
