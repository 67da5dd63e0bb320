#include "tools/quillon_device/device_init.h"

#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "platform/posix/registry_file.h"
#include "platform/text.h"
#include "tests/support/temp_device.h"

namespace quillon::device {
namespace {
namespace fs = std::filesystem;

struct Expected {
  const wchar_t* key;
  const wchar_t* name;
  std::uint32_t type;
  std::string data;  // bytes
};

std::string Utf16z(const wchar_t* text) { return platform::WideToUtf16le(text) + std::string(2, '\0'); }
std::string Dword(std::uint32_t v) {
  return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16), static_cast<char>(v >> 24)};
}

// What a handheld with its module on COM7: holds, as the stack, the program and the setup read it.
const std::vector<Expected> kCom7Device = {
    {L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1", L"Name", platform::kRegSz, Utf16z(L"COM7:")},
    {L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1", L"baud", platform::kRegDword, Dword(115200)},
    {L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1", L"dll", platform::kRegSz, Utf16z(L"bthuart.dll")},
    {L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1", L"flags", platform::kRegDword, Dword(0)},
    {L"Software\\Microsoft\\Bluetooth\\Hci", L"Name", platform::kRegSz, Utf16z(L"COM7:")},
    {L"Software\\Microsoft\\Bluetooth\\Hci", L"baud", platform::kRegDword, Dword(115200)},
    {L"Software\\Microsoft\\HCI", L"baud", platform::kRegDword, Dword(115200)},
    {L"Drivers\\Active\\02", L"Name", platform::kRegSz, Utf16z(L"COM7:")},
    {L"Drivers\\Active\\02", L"Key", platform::kRegSz, Utf16z(L"Drivers\\BuiltIn\\Serial")},
    {L"Drivers\\BuiltIn\\Serial", L"Index", platform::kRegDword, Dword(7)},
};

std::string ReadValue(platform::Registry& registry, const wchar_t* path, const wchar_t* name, std::uint32_t* type) {
  std::unique_ptr<platform::RegistryKey> key;
  if (registry.OpenKey(path, platform::RegistryAccess::kRead, &key) != platform::kSuccess) return "<no key>";
  std::array<std::uint8_t, 260> data{};
  std::size_t length = 0;
  if (key->QueryValue(name, type, data, &length) != platform::kSuccess) return "<no value>";
  return std::string(reinterpret_cast<const char*>(data.data()), length);
}

class DeviceInit : public ::testing::Test {
 protected:
  DeviceInit() {
    fs::create_directories(source_ / "samples");
    std::ofstream(source_ / "program") << "#!/bin/sh\n";
    std::ofstream(source_ / "samples" / "radio.psr") << "&01be = 0ebf\n";
    std::ofstream(source_ / "samples" / "notes.txt") << "not a PSR file\n";
    options_.root = device_.Path() + "/device";
    options_.portNumber = 7;
    options_.program = (source_ / "program").string();
    options_.samples = (source_ / "samples").string();
  }

  bool Init() {
    lines_.clear();
    return InitDevice(options_, [this](const std::string& line) { lines_.push_back(line); });
  }

  testing::TempDevice device_;
  fs::path source_ = fs::path(device_.Path()) / "source";
  InitOptions options_;
  std::vector<std::string> lines_;
};

TEST_F(DeviceInit, WritesTheHandheldsRegistry) {
  ASSERT_TRUE(Init());
  const platform::posix::DeviceRoot root(options_.root);
  platform::posix::RegistryFile registry(root);
  for (const Expected& value : kCom7Device) {
    std::uint32_t type = 0;
    EXPECT_EQ(ReadValue(registry, value.key, value.name, &type), value.data) << platform::WideToUtf8(value.name);
    EXPECT_EQ(type, value.type) << platform::WideToUtf8(value.name);
  }
}

TEST_F(DeviceInit, MakesTheFoldersAndInstallsProgramAndSamples) {
  ASSERT_TRUE(Init());
  const fs::path root = options_.root;
  EXPECT_TRUE(fs::is_directory(root / "Windows" / "StartUp"));
  EXPECT_TRUE(fs::is_directory(root / "dosdevices"));
  EXPECT_TRUE(fs::is_regular_file(root / "Program Files" / "Quillon" / "quillon"));
  EXPECT_TRUE(fs::is_regular_file(root / "Program Files" / "Quillon" / "radio.psr"));
  EXPECT_FALSE(fs::exists(root / "Program Files" / "Quillon" / "notes.txt"));
}

TEST_F(DeviceInit, RefusesAnExistingRootUnlessForced) {
  ASSERT_TRUE(Init());
  std::ofstream(fs::path(options_.root) / "Windows" / "StartUp" / "Quillon.lnk") << "old";
  std::ofstream(fs::path(options_.root) / "mine.txt") << "the user's";
  EXPECT_FALSE(Init());
  ASSERT_FALSE(lines_.empty());
  EXPECT_NE(lines_.back().find("exists already"), std::string::npos) << lines_.back();
  EXPECT_TRUE(fs::exists(fs::path(options_.root) / "Windows" / "StartUp" / "Quillon.lnk"));

  options_.force = true;
  EXPECT_TRUE(Init());
  EXPECT_FALSE(fs::exists(fs::path(options_.root) / "Windows" / "StartUp" / "Quillon.lnk"));
  EXPECT_TRUE(fs::exists(fs::path(options_.root) / "mine.txt")) << "only what init makes is removed";
}

TEST_F(DeviceInit, LinksThePortWhenAskedAndFailsOnAMissingProgram) {
  options_.linkTarget = "/dev/null";
  ASSERT_TRUE(Init());
  EXPECT_EQ(fs::read_symlink(fs::path(options_.root) / "dosdevices" / "com7"), "/dev/null");

  options_.force = true;
  options_.linkTarget.clear();
  options_.program = (source_ / "missing").string();
  EXPECT_FALSE(Init());
  EXPECT_NE(lines_.back().find("cannot install the program"), std::string::npos) << lines_.back();
}

}  // namespace
}  // namespace quillon::device
