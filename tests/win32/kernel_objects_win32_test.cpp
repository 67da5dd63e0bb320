#include "platform/win32/kernel_objects_win32.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/win32/serial_win32.h"
#include "platform/win32/waitable_event.h"

namespace quillon::platform::win32 {
namespace {

std::wstring Prefix() { return L"QuillonTest" + std::to_wstring(GetCurrentProcessId()) + L"."; }

TEST(Win32KernelObjects, SharedMemoryIsFoundByName) {
  Win32KernelObjects kernel(Prefix());
  ErrorCode error = kSuccess;
  auto first = kernel.CreateSharedMemory(L"Block", 4096, &error);
  ASSERT_TRUE(first) << error;
  EXPECT_FALSE(first->AlreadyExisted());
  std::memcpy(first->Data(), "hello", 5);
  auto second = kernel.CreateSharedMemory(L"Block", 4096, &error);
  ASSERT_TRUE(second);
  EXPECT_TRUE(second->AlreadyExisted());
  EXPECT_EQ(std::memcmp(second->Data(), "hello", 5), 0);
}

TEST(Win32KernelObjects, TheMutexTimesOutWhileAnotherThreadHoldsIt) {
  Win32KernelObjects kernel(Prefix());
  ErrorCode error = kSuccess;
  auto mine = kernel.CreateNamedMutex(L"Held", &error);
  ASSERT_TRUE(mine);
  std::atomic<int> step{0};
  std::thread holder([&] {
    auto theirs = kernel.CreateNamedMutex(L"Held", &error);
    theirs->Wait(1000);
    step = 1;
    while (step != 2) Sleep(1);
    theirs->Release();
  });
  while (step != 1) Sleep(1);
  EXPECT_EQ(mine->Wait(300), WaitResult::kTimedOut);
  step = 2;
  EXPECT_EQ(mine->Wait(10000), WaitResult::kObtained);
  mine->Release();
  holder.join();
}

TEST(Win32KernelObjects, AMutexAbandonedByItsOwnerIsObtained) {
  Win32KernelObjects kernel(Prefix());
  ErrorCode error = kSuccess;
  auto mine = kernel.CreateNamedMutex(L"Abandoned", &error);
  std::thread([&] {
    auto theirs = kernel.CreateNamedMutex(L"Abandoned", &error);
    theirs->Wait(1000);  // the thread ends holding it
  }).join();
  EXPECT_EQ(mine->Wait(300), WaitResult::kObtained);
  mine->Release();
}

TEST(Win32KernelObjects, NamedEventsKeepTheirState) {
  Win32KernelObjects kernel(Prefix());
  ErrorCode error = kSuccess;
  auto event = kernel.CreateManualResetEvent(L"Started", false, &error);
  ASSERT_TRUE(event);
  EXPECT_FALSE(event->Wait(0));
  auto same = kernel.CreateManualResetEvent(L"Started", false, &error);
  same->Set();
  EXPECT_TRUE(event->Wait(0));
  event->Reset();
  EXPECT_FALSE(same->Wait(0));
}

// A named event tested often, as the trace tests the viewer's: a set made before the first test
// is seen by it, a reset at once, and a set made while the test answers from memory once the
// watch has woken for it. Here the second opening of the name plays the viewer.
TEST(Win32KernelObjects, ANamedEventTestedOftenSeesAResetAtOnceAndASetSoon) {
  Win32KernelObjects kernel(Prefix());
  ErrorCode error = kSuccess;
  auto viewer = kernel.CreateManualResetEvent(L"Watched", true, &error);
  auto writer = kernel.CreateManualResetEvent(L"Watched", false, &error);
  ASSERT_TRUE(viewer && writer);
  EXPECT_TRUE(writer->TestOften());
  for (int round = 0; round < 3; ++round) {
    viewer->Reset();
    EXPECT_FALSE(writer->TestOften()) << round;
    EXPECT_FALSE(writer->TestOften()) << round;
    viewer->Set();
    bool seen = false;
    for (int pass = 0; pass < 10000 && !seen; ++pass) {
      seen = writer->TestOften();
      if (!seen) Sleep(1);
    }
    EXPECT_TRUE(seen) << round;
  }
}

// An unnamed event answers a test from what Set and Reset did; the system's event, which the
// port's wait watches, must follow them all the same.
TEST(Win32KernelObjects, UnnamedEventsKeepTheSystemsEventInStep) {
  Win32KernelObjects kernel(Prefix());
  ErrorCode error = kSuccess;
  for (const bool initiallySet : {false, true}) {
    auto event = kernel.CreateManualResetEvent(L"", initiallySet, &error);
    ASSERT_TRUE(event);
    const HANDLE native = dynamic_cast<WaitableEvent&>(*event).NativeHandle();
    EXPECT_EQ(event->Wait(0), initiallySet);
    EXPECT_EQ(WaitForSingleObject(native, 0), initiallySet ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
    event->Set();
    EXPECT_TRUE(event->Wait(0));
    EXPECT_EQ(WaitForSingleObject(native, 0), WAIT_OBJECT_0);
    event->Reset();
    EXPECT_FALSE(event->Wait(0));
    EXPECT_FALSE(event->Wait(5));
    EXPECT_EQ(WaitForSingleObject(native, 0), WAIT_TIMEOUT);
  }
}

// A stop request that cannot be waited for counts as made, so that the run it would stop ends.
TEST(Win32KernelObjects, AFailedWaitCountsAsSet) {
  auto broken = AdoptEvent(nullptr);  // no handle: every wait fails
  EXPECT_TRUE(broken->Wait(0));
}

TEST(Win32SerialNames, HandheldPortNamesBecomeDeviceNames) {
  EXPECT_EQ(SystemPortName(L"COM4:"), L"\\\\.\\COM4");
  EXPECT_EQ(SystemPortName(L"com12"), L"\\\\.\\com12");
  EXPECT_EQ(SystemPortName(L"\\\\.\\COM3"), L"\\\\.\\COM3");
  EXPECT_EQ(SystemPortName(L"LPT1:"), L"LPT1:");
  EXPECT_EQ(SystemPortName(L"COMX:"), L"COMX:");
}

TEST(Win32Serial, APortThatDoesNotExistSaysSo) {
  Win32SerialDevices devices;
  ErrorCode error = kSuccess;
  EXPECT_FALSE(devices.Open(L"COM199:", &error));
  EXPECT_EQ(error, kErrorFileNotFound);
}

}  // namespace
}  // namespace quillon::platform::win32
