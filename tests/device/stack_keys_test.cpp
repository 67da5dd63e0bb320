#include "tools/quillon_device/stack_keys.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/fakes/memory_registry.h"
#include "tools/quillon_device/device_layout.h"

namespace quillon::device {
namespace {

struct Value {
  const wchar_t* key;
  const wchar_t* name;
  std::uint32_t type;
  std::vector<std::uint8_t> data;
};

Value Text(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
  return {key, name, platform::kRegSz, StringValueData(text)};
}
// A name as the setup writes it: without its terminating zero.
Value Unterminated(const wchar_t* key, const wchar_t* name, const wchar_t* text) {
  std::vector<std::uint8_t> data = StringValueData(text);
  data.resize(data.size() - 2);
  return {key, name, platform::kRegSz, data};
}
Value Dword(const wchar_t* key, const wchar_t* name, std::uint32_t value) {
  return {key, name, platform::kRegDword, DwordValueData(value)};
}

constexpr const wchar_t* kBuiltIn1 = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
constexpr const wchar_t* kBuiltIn2 = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\2";
constexpr const wchar_t* kTransports = L"Software\\Microsoft\\Bluetooth\\Transports";

struct Case {
  const char* name;
  std::vector<Value> registry;
  bool start;
  std::wstring transportKey;
  std::wstring port;
  std::uint32_t baud;
  const char* refusalContains;  // empty: no refusal
};

TEST(StackKeys, DecidesPerRegistryState) {
  const std::vector<Case> cases = {
      {"unmarked built-in transport",
       {Text(kBuiltIn1, L"Name", L"COM4:"), Dword(kBuiltIn1, L"baud", 921600)},
       true,
       kBuiltIn1,
       L"COM4:",
       921600,
       ""},
      {"marked name leaves the port free",
       {Unterminated(kBuiltIn1, L"Name", L"XXXCOM4:"), Dword(kBuiltIn1, L"baud", 115200)},
       false,
       L"",
       L"",
       0,
       ""},
      {"unterminated unmarked name",
       {Unterminated(kBuiltIn1, L"Name", L"COM4:"), Dword(kBuiltIn1, L"baud", 115200)},
       true,
       kBuiltIn1,
       L"COM4:",
       115200,
       ""},
      {"no transports key", {Text(L"Software\\Microsoft\\Bluetooth\\Hci", L"Name", L"COM4:")}, false, L"", L"", 0, ""},
      {"no baud: the stack's default", {Text(kBuiltIn1, L"Name", L"COM4:")}, true, kBuiltIn1, L"COM4:", 115200, ""},
      {"baud written as a string",
       {Text(kBuiltIn1, L"Name", L"COM4:"), Text(kBuiltIn1, L"baud", L"921600")},
       false,
       kBuiltIn1,
       L"COM4:",
       0,
       "\"baud\" is of type 1"},
      {"baud of eight bytes",
       {Text(kBuiltIn1, L"Name", L"COM4:"),
        Value{kBuiltIn1, L"baud", platform::kRegBinary, {0, 0x10, 0, 0, 0, 0, 0, 0}}},
       false,
       kBuiltIn1,
       L"COM4:",
       0,
       "8 bytes long"},
      {"baud of four bytes but binary",
       {Text(kBuiltIn1, L"Name", L"COM4:"), Value{kBuiltIn1, L"baud", platform::kRegBinary, DwordValueData(921600)}},
       false,
       kBuiltIn1,
       L"COM4:",
       0,
       "\"baud\" is of type 3"},
      {"baud of zero",
       {Text(kBuiltIn1, L"Name", L"COM4:"), Dword(kBuiltIn1, L"baud", 0)},
       false,
       kBuiltIn1,
       L"COM4:",
       0,
       "is 0"},
      {"name that is no string",
       {Dword(kBuiltIn1, L"Name", 4), Dword(kBuiltIn1, L"baud", 115200)},
       false,
       L"",
       L"",
       0,
       ""},
      {"first of two transports, depth-first",
       {Text(kBuiltIn1, L"Name", L"COM4:"), Dword(kBuiltIn1, L"baud", 115200), Text(kBuiltIn2, L"Name", L"COM7:"),
        Dword(kBuiltIn2, L"baud", 57600)},
       true,
       kBuiltIn1,
       L"COM4:",
       115200,
       ""},
      {"marked first transport, unmarked second",
       {Unterminated(kBuiltIn1, L"Name", L"XXXCOM4:"), Text(kBuiltIn2, L"Name", L"COM7:"),
        Dword(kBuiltIn2, L"baud", 57600)},
       true,
       kBuiltIn2,
       L"COM7:",
       57600,
       ""},
      {"name in the transports key itself, before its subkeys",
       {Text(kTransports, L"Name", L"COM2:"), Dword(kTransports, L"baud", 38400), Text(kBuiltIn1, L"Name", L"COM4:")},
       true,
       kTransports,
       L"COM2:",
       38400,
       ""},
      {"deeply nested transport",
       {Text(L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\Vendor\\A\\1", L"name", L"com4:")},
       true,
       L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\Vendor\\A\\1",
       L"com4:",
       115200,
       ""},
  };
  for (const Case& test : cases) {
    testing::MemoryRegistry registry;
    for (const Value& value : test.registry) {
      std::unique_ptr<platform::RegistryKey> key;
      ASSERT_EQ(registry.CreateKey(value.key, &key), platform::kSuccess);
      ASSERT_EQ(key->SetValue(value.name, value.type, value.data), platform::kSuccess);
    }
    const StackPlan plan = ReadStackKeys(registry);
    EXPECT_EQ(plan.start, test.start) << test.name;
    EXPECT_EQ(plan.transportKey, test.transportKey) << test.name;
    EXPECT_EQ(plan.port, test.port) << test.name;
    EXPECT_EQ(plan.baudRate, test.baud) << test.name;
    if (*test.refusalContains == 0) {
      EXPECT_EQ(plan.refusal, "") << test.name;
    } else {
      EXPECT_NE(plan.refusal.find(test.refusalContains), std::string::npos) << test.name << ": " << plan.refusal;
    }
    EXPECT_FALSE(plan.notes.empty()) << test.name;
  }
}

TEST(StackKeys, ATreeDeeperThanItsLimitIsNotLookedInto) {
  testing::MemoryRegistry registry;
  std::wstring path = kTransports;
  for (int level = 0; level <= kTransportTreeDepth; ++level) path += L"\\k";
  std::unique_ptr<platform::RegistryKey> key;
  ASSERT_EQ(registry.CreateKey(path, &key), platform::kSuccess);
  ASSERT_EQ(key->SetValue(L"Name", platform::kRegSz, StringValueData(L"COM4:")), platform::kSuccess);
  const StackPlan plan = ReadStackKeys(registry);
  EXPECT_FALSE(plan.start);
  bool told = false;
  for (const std::string& note : plan.notes) told = told || note.find("too deep") != std::string::npos;
  EXPECT_TRUE(told);
}

}  // namespace
}  // namespace quillon::device
