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

constexpr const wchar_t* kBuiltIn1 = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\1";
constexpr const wchar_t* kBuiltIn2 = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\2";
constexpr const wchar_t* kTransports = L"Software\\Microsoft\\Bluetooth\\Transports";
constexpr const wchar_t* kNested = L"Software\\Microsoft\\Bluetooth\\Transports\\BuiltIn\\Vendor\\A\\1";

Value Name(const wchar_t* text, const wchar_t* key = kBuiltIn1) {
  return {key, L"Name", platform::kRegSz, StringValueData(text)};
}
// A name as the setup writes it: without its terminating zero.
Value Unterminated(const wchar_t* text) {
  Value value = Name(text);
  value.data.resize(value.data.size() - 2);
  return value;
}
Value Baud(std::uint32_t type, std::vector<std::uint8_t> data, const wchar_t* key = kBuiltIn1) {
  return {key, L"baud", type, std::move(data)};
}
Value Baud(std::uint32_t value, const wchar_t* key = kBuiltIn1) {
  return Baud(platform::kRegDword, DwordValueData(value), key);
}
template <typename... Values>
std::vector<Value> Holding(Values... values) {
  return {std::move(values)...};
}

TEST(StackKeys, DecidesPerRegistryState) {
  struct Case {
    const char* name;
    std::vector<Value> registry;
    bool start;
    std::wstring transportKey;
    std::wstring port;
    std::uint32_t baud;
    const char* refusalContains;  // empty: no refusal
  };
  const Case cases[] = {
      {"unmarked built-in transport", Holding(Name(L"COM4:"), Baud(921600)), true, kBuiltIn1, L"COM4:", 921600, ""},
      {"marked name leaves the port free", Holding(Unterminated(L"XXXCOM4:"), Baud(115200)), false, L"", L"", 0, ""},
      {"unterminated unmarked name", Holding(Unterminated(L"COM4:"), Baud(115200)), true, kBuiltIn1, L"COM4:", 115200,
       ""},
      {"no transports key", Holding(Name(L"COM4:", L"Software\\Microsoft\\Bluetooth\\Hci")), false, L"", L"", 0, ""},
      {"no baud: the stack's default", Holding(Name(L"COM4:")), true, kBuiltIn1, L"COM4:", 115200, ""},
      {"baud written as a string", Holding(Name(L"COM4:"), Baud(platform::kRegSz, StringValueData(L"921600"))), false,
       kBuiltIn1, L"COM4:", 0, "\"baud\" is of type 1"},
      {"baud of eight bytes", Holding(Name(L"COM4:"), Baud(platform::kRegBinary, {0, 0x10, 0, 0, 0, 0, 0, 0})), false,
       kBuiltIn1, L"COM4:", 0, "8 bytes long"},
      {"baud of four bytes but binary", Holding(Name(L"COM4:"), Baud(platform::kRegBinary, DwordValueData(921600))),
       false, kBuiltIn1, L"COM4:", 0, "\"baud\" is of type 3"},
      {"baud of zero", Holding(Name(L"COM4:"), Baud(0)), false, kBuiltIn1, L"COM4:", 0, "is 0"},
      {"name that is no string",
       Holding(Value{kBuiltIn1, L"Name", platform::kRegDword, DwordValueData(4)}, Baud(115200)), false, L"", L"", 0,
       ""},
      {"first of two transports, depth-first",
       Holding(Name(L"COM4:"), Baud(115200), Name(L"COM7:", kBuiltIn2), Baud(57600, kBuiltIn2)), true, kBuiltIn1,
       L"COM4:", 115200, ""},
      {"marked first transport, unmarked second",
       Holding(Unterminated(L"XXXCOM4:"), Name(L"COM7:", kBuiltIn2), Baud(57600, kBuiltIn2)), true, kBuiltIn2, L"COM7:",
       57600, ""},
      {"name in the transports key itself, before its subkeys",
       Holding(Name(L"COM2:", kTransports), Baud(38400, kTransports), Name(L"COM4:")), true, kTransports, L"COM2:",
       38400, ""},
      {"deeply nested transport", Holding(Value{kNested, L"name", platform::kRegSz, StringValueData(L"com4:")}), true,
       kNested, L"com4:", 115200, ""},
  };
  for (const Case& test : cases) {
    SCOPED_TRACE(test.name);
    testing::MemoryRegistry registry;
    for (const Value& value : test.registry) {
      std::unique_ptr<platform::RegistryKey> key;
      ASSERT_EQ(registry.CreateKey(value.key, &key), platform::kSuccess);
      ASSERT_EQ(key->SetValue(value.name, value.type, value.data), platform::kSuccess);
    }
    const StackPlan plan = ReadStackKeys(registry);
    EXPECT_EQ(plan.start, test.start);
    EXPECT_EQ(plan.transportKey, test.transportKey);
    EXPECT_EQ(plan.port, test.port);
    EXPECT_EQ(plan.baudRate, test.baud);
    EXPECT_EQ(plan.refusal.empty(), *test.refusalContains == 0) << plan.refusal;
    EXPECT_NE(plan.refusal.find(test.refusalContains), std::string::npos) << plan.refusal;
    EXPECT_FALSE(plan.notes.empty());
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
