// What every registry of the system does, whatever keeps it: the tests' in-memory registry, the
// emulated device's file, the Windows registry. Each back end instantiates the suite with a Case
// type that has a member `registry` (a platform::Registry) and is default-constructible.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace quillon::testing {

using platform::RegistryAccess;
using platform::RegistryKey;

template <typename Case>
class RegistryContract : public ::testing::Test {
 protected:
  platform::Registry& Registry() { return subject.registry; }
  std::unique_ptr<RegistryKey> Create(const std::wstring& path) {
    std::unique_ptr<RegistryKey> key;
    EXPECT_EQ(Registry().CreateKey(path, &key), platform::kSuccess) << std::string(path.begin(), path.end());
    return key;
  }
  std::vector<std::wstring> SubkeyNames(RegistryKey& key) {
    std::vector<std::wstring> names;
    std::array<wchar_t, 260> name{};
    std::size_t length = 0;
    for (std::uint32_t i = 0; key.EnumKey(i, name, &length) == platform::kSuccess; ++i)
      names.emplace_back(name.data(), length);
    return names;
  }
  Case subject;
};

TYPED_TEST_SUITE_P(RegistryContract);

TYPED_TEST_P(RegistryContract, ValuesComeBackByteForByte) {
  auto key = this->Create(L"Software\\Norvale\\Quillon");
  struct Value {
    const wchar_t* name = nullptr;
    std::uint32_t type = 0;
    std::vector<std::uint8_t> data;
  };
  const std::vector<Value> values = {
      {L"Name", platform::kRegSz, {'X', 0, 'X', 0, 'X', 0, 'C', 0, 0, 0}},
      {L"NoTerminator", platform::kRegSz, {'C', 0, 'O', 0, 'M', 0}},
      {L"Odd", platform::kRegSz, {'A', 0, 'B'}},
      {L"Embedded", platform::kRegSz, {'A', 0, 0, 0, 'B', 0, 0, 0}},
      {L"Quotes", platform::kRegSz, {'"', 0, '\\', 0, 0, 0}},
      {L"baud", platform::kRegDword, {0x00, 0xC2, 0x01, 0x00}},
      {L"ShortDword", platform::kRegDword, {0x01, 0x02}},
      {L"Blob", platform::kRegBinary, {0x00, 0xFF, 0x10}},
      {L"Empty", platform::kRegBinary, {}},
      {L"Multi", platform::kRegMultiSz, {'a', 0, 0, 0, 0, 0}},
      {L"Strange", 0x1234, std::vector<std::uint8_t>(100, 0xAB)},
      {L"", platform::kRegSz, {'d', 0, 0, 0}},
  };
  for (const Value& v : values) ASSERT_EQ(key->SetValue(v.name, v.type, v.data), platform::kSuccess);
  std::unique_ptr<RegistryKey> reopened;
  ASSERT_EQ(this->Registry().OpenKey(L"software\\NORVALE\\quillon", RegistryAccess::kRead, &reopened),
            platform::kSuccess);
  for (const Value& v : values) {
    std::array<std::uint8_t, 260> data{};
    std::size_t length = 0;
    std::uint32_t type = 0;
    ASSERT_EQ(reopened->QueryValue(v.name, &type, data, &length), platform::kSuccess);
    EXPECT_EQ(type, v.type);
    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(length)), v.data);
  }
}

TYPED_TEST_P(RegistryContract, NamesIgnoreCaseAndKeepTheirOwn) {
  auto key = this->Create(L"Drivers\\Active\\Key");
  ASSERT_EQ(key->SetValue(L"Name", platform::kRegDword, std::vector<std::uint8_t>{1, 0, 0, 0}), platform::kSuccess);
  ASSERT_EQ(key->SetValue(L"NAME", platform::kRegDword, std::vector<std::uint8_t>{2, 0, 0, 0}), platform::kSuccess);
  std::array<wchar_t, 16> name{};
  std::size_t nameLength = 0;
  std::array<std::uint8_t, 8> data{};
  std::size_t dataLength = 0;
  std::uint32_t type = 0;
  ASSERT_EQ(key->EnumValue(0, name, &nameLength, &type, data, &dataLength), platform::kSuccess);
  EXPECT_EQ(std::wstring(name.data()), L"Name");
  EXPECT_EQ(data[0], 2);
  EXPECT_EQ(key->EnumValue(1, name, &nameLength, &type, data, &dataLength), platform::kErrorNoMoreItems);
  auto again = this->Create(L"DRIVERS\\active");
  EXPECT_EQ(this->SubkeyNames(*again), std::vector<std::wstring>{L"Key"});
}

TYPED_TEST_P(RegistryContract, EnumerationIsSortedAndStable) {
  for (const wchar_t* name : {L"b", L"_under", L"C", L"a"}) this->Create(std::wstring(L"Enum\\") + name);
  auto key = this->Create(L"Enum");
  const std::vector<std::wstring> expected = {L"_under", L"a", L"b", L"C"};
  EXPECT_EQ(this->SubkeyNames(*key), expected);
  EXPECT_EQ(this->SubkeyNames(*key), expected);
}

TYPED_TEST_P(RegistryContract, BuffersThatAreTooSmallSayMoreData) {
  auto key = this->Create(L"Small");
  ASSERT_EQ(key->SetValue(L"LongName", platform::kRegBinary, std::vector<std::uint8_t>(10, 1)), platform::kSuccess);
  std::array<wchar_t, 8> shortName{};  // 8 characters need 9 with the terminator
  std::array<std::uint8_t, 16> data{};
  std::size_t nameLength = 0, dataLength = 0;
  std::uint32_t type = 0;
  EXPECT_EQ(key->EnumValue(0, shortName, &nameLength, &type, data, &dataLength), platform::kErrorMoreData);
  std::array<std::uint8_t, 9> shortData{};
  EXPECT_EQ(key->QueryValue(L"LongName", &type, shortData, &dataLength), platform::kErrorMoreData);
  EXPECT_EQ(dataLength, 10u);
  this->Create(L"Small\\ABCDEFGH");
  EXPECT_EQ(key->EnumKey(0, shortName, &nameLength), platform::kErrorMoreData);
}

TYPED_TEST_P(RegistryContract, DeletionRules) {
  this->Create(L"Tree\\Child\\Grandchild");
  auto tree = this->Create(L"Tree");
  EXPECT_EQ(this->Registry().DeleteKey(L"Tree"), platform::kErrorAccessDenied);
  EXPECT_EQ(this->Registry().DeleteKey(L"Tree\\Child\\Grandchild"), platform::kSuccess);
  EXPECT_EQ(this->Registry().DeleteKey(L"Tree\\Child\\Grandchild"), platform::kErrorFileNotFound);
  this->Create(L"Tree\\Child\\Again");
  EXPECT_EQ(this->Registry().DeleteTree(L"tree"), platform::kSuccess);
  std::unique_ptr<RegistryKey> gone;
  EXPECT_EQ(this->Registry().OpenKey(L"Tree\\Child", RegistryAccess::kRead, &gone), platform::kErrorFileNotFound);
  // A handle to a deleted key fails from then on.
  std::array<wchar_t, 8> name{};
  std::size_t length = 0;
  EXPECT_EQ(tree->EnumKey(0, name, &length), platform::kErrorKeyDeleted);
  EXPECT_EQ(tree->SetValue(L"x", platform::kRegDword, std::vector<std::uint8_t>{0, 0, 0, 0}),
            platform::kErrorKeyDeleted);
  EXPECT_EQ(this->Registry().DeleteTree(L""), platform::kErrorAccessDenied);
  EXPECT_EQ(tree->DeleteValue(L"x"), platform::kErrorKeyDeleted);
}

TYPED_TEST_P(RegistryContract, ReadOnlyHandlesAreRefused) {
  this->Create(L"Guarded");
  std::unique_ptr<RegistryKey> readOnly;
  ASSERT_EQ(this->Registry().OpenKey(L"Guarded", RegistryAccess::kRead, &readOnly), platform::kSuccess);
  EXPECT_EQ(readOnly->SetValue(L"v", platform::kRegDword, std::vector<std::uint8_t>{0, 0, 0, 0}),
            platform::kErrorAccessDenied);
  auto guarded = this->Create(L"Guarded");
  EXPECT_EQ(guarded->DeleteValue(L"absent"), platform::kErrorFileNotFound);
  std::uint32_t type = 0;
  std::size_t length = 0;
  std::array<std::uint8_t, 4> data{};
  EXPECT_EQ(guarded->QueryValue(L"absent", &type, data, &length), platform::kErrorFileNotFound);
}

REGISTER_TYPED_TEST_SUITE_P(RegistryContract, ValuesComeBackByteForByte, NamesIgnoreCaseAndKeepTheirOwn,
                            EnumerationIsSortedAndStable, BuffersThatAreTooSmallSayMoreData, DeletionRules,
                            ReadOnlyHandlesAreRefused);

}  // namespace quillon::testing
