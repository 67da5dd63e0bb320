// Addresses from a block: their text and key, and the journal that gives each out once.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "psconfig/address_journal.h"
#include "psconfig/address_key.h"
#include "psconfig/bccmd.h"
#include "tests/fakes/memory_log_file.h"

namespace quillon {
namespace {

BluetoothAddress Address(const char* text) { return *BluetoothAddress::Parse(text); }

TEST(BluetoothAddressTest, TextBlockAndKeyLayout) {
  const BluetoothAddress address = Address("12:34:56:78:9a:bc");
  EXPECT_EQ(address.Text(), "12:34:56:78:9A:BC");
  EXPECT_EQ(address.KeyValues(), (std::array<std::uint16_t, 4>{0x0078, 0x9abc, 0x0056, 0x1234}));
  EXPECT_TRUE(Address("00:02:5B:9E:8B:00").InInquiryAccessRange());
  EXPECT_TRUE(Address("00:02:5B:9E:8B:3F").InInquiryAccessRange());
  EXPECT_FALSE(Address("00:02:5B:9E:8B:40").InInquiryAccessRange());
  EXPECT_FALSE(Address("00:02:5B:9E:8A:FF").InInquiryAccessRange());
  for (const char* bad :
       {"", "12:34:56:78:9A", "12:34:56:78:9A:BC:", "12-34-56-78-9A-BC", "12:34:56:78:9A:BG", "123:4:56:78:9A:BC"}) {
    EXPECT_FALSE(BluetoothAddress::Parse(bad)) << bad;
  }
  struct Case {
    const char* text;
    const char* problem;  // part of what is said; empty for a good block
  };
  for (const Case& c :
       {Case{"00:02:5B:00:A5:A5:00:02:5B:00:A5:A5", ""},
        Case{"00:02:5B:00:A5:A6:00:02:5B:00:A5:A5", "written backwards"},
        Case{"00:02:5B:00:A5:A5-00:02:5B:00:A5:FF", "FIRST:LAST"}, Case{"00:02:5B:00:A5:A5", "FIRST:LAST"}}) {
    AddressBlock block;
    const std::string problem = AddressBlock::Parse(c.text, &block);
    EXPECT_NE(problem.find(c.problem), std::string::npos) << c.text << ": " << problem;
    EXPECT_EQ(problem.empty(), c.problem[0] == 0) << c.text;
  }
}

class AddressJournalTest : public ::testing::Test {
 protected:
  // A journal over the shared text, loaded as a process starting would.
  AddressJournal& Open(const char* first = "00:02:5B:00:A5:A5", const char* last = "00:02:5B:00:A5:FF") {
    files_.push_back(std::make_unique<testing::MemoryLogFile>(text_));
    journals_.push_back(std::make_unique<AddressJournal>(*files_.back(), AddressBlock{Address(first), Address(last)}));
    problem_ = journals_.back()->Load();
    return *journals_.back();
  }
  std::string Take(AddressJournal& journal) {
    BluetoothAddress address;
    std::string problem;
    switch (journal.TakeNext("COM4:", &address, &problem)) {
      case AddressJournal::Take::kTaken:
        return address.Text();
      case AddressJournal::Take::kUsedUp:
        return "used up";
      case AddressJournal::Take::kFailed:
        return "failed: " + problem;
    }
    return {};
  }

  std::shared_ptr<testing::MemoryLogText> text_ = std::make_shared<testing::MemoryLogText>();
  std::vector<std::unique_ptr<testing::MemoryLogFile>> files_;
  std::vector<std::unique_ptr<AddressJournal>> journals_;
  std::string problem_;
};

// Each address once, across processes on one journal; one never sent comes back, one sent
// without an answer does not, nor one whose run was cut off (it is named when the next starts).
TEST_F(AddressJournalTest, AnAddressIsGivenOnceAndOnlyAnUnusedOneComesBack) {
  AddressJournal& one = Open();
  AddressJournal& two = Open();
  EXPECT_EQ(Take(one), "00:02:5B:00:A5:A5");
  EXPECT_EQ(Take(two), "00:02:5B:00:A5:A6");  // read what the other wrote
  EXPECT_EQ(Take(one), "00:02:5B:00:A5:A7");
  EXPECT_EQ(one.Record(Address("00:02:5B:00:A5:A5"), AddressFate::kWritten, "COM4:"), "");
  EXPECT_EQ(two.Record(Address("00:02:5B:00:A5:A6"), AddressFate::kUnused, "COM5:"), "");
  EXPECT_EQ(Take(one), "00:02:5B:00:A5:A6");
  EXPECT_EQ(one.Record(Address("00:02:5B:00:A5:A6"), AddressFate::kUnanswered, "COM4:"), "");
  EXPECT_EQ(Take(two), "00:02:5B:00:A5:A8");

  AddressJournal& later = Open();
  ASSERT_EQ(problem_, "");
  const std::vector<UnsettledAddress> unsettled = later.Unsettled();
  ASSERT_EQ(unsettled.size(), 3u);  // A6 sent without an answer, A7 and A8 taken and never settled
  EXPECT_EQ(unsettled[0].address.Text(), "00:02:5B:00:A5:A7");
  EXPECT_EQ(unsettled[0].line, 3u);
  EXPECT_FALSE(unsettled[0].sentWithoutAnswer);
  EXPECT_EQ(unsettled[1].address.Text(), "00:02:5B:00:A5:A6");
  EXPECT_TRUE(unsettled[1].sentWithoutAnswer);
  EXPECT_EQ(unsettled[2].address.Text(), "00:02:5B:00:A5:A8");
  EXPECT_EQ(Take(later), "00:02:5B:00:A5:A9");
}

TEST_F(AddressJournalTest, TheBlockEndsAndTheInquiryAccessCodesAreSkipped) {
  AddressJournal& journal = Open("00:02:5B:9E:8A:FF", "00:02:5B:9E:8B:40");
  EXPECT_EQ(Take(journal), "00:02:5B:9E:8A:FF");
  EXPECT_EQ(Take(journal), "00:02:5B:9E:8B:40");
  const int appends = text_->appends;
  EXPECT_EQ(Take(journal), "used up");
  EXPECT_EQ(text_->appends, appends);
}

// A full disk or a read-only place: nothing taken, nothing half-written, and the address is the
// next one once the journal can be written again.
TEST_F(AddressJournalTest, AnAddressNotOnDiskIsNotGiven) {
  AddressJournal& journal = Open();
  text_->appendFails = platform::kErrorDiskFull;
  EXPECT_EQ(Take(journal), "failed: the journal cannot be written (the disk is full)");
  text_->appendFails = platform::kErrorWriteProtect;
  EXPECT_EQ(Take(journal), "failed: the journal cannot be written (the place is read-only)");
  EXPECT_EQ(text_->text, "");
  text_->appendFails = platform::kSuccess;
  EXPECT_EQ(Take(journal), "00:02:5B:00:A5:A5");
}

// Damage is named by its line and the journal refused; a last line cut off by a power cut goes
// (its address was never sent), a whole last line without its end stays and is ended.
TEST_F(AddressJournalTest, DamageIsRefusedAndACutOffLastLineRemoved) {
  const std::string taken = AddressJournal::Line(AddressFate::kTaken, Address("00:02:5B:00:A5:A5"), "t", "COM4:");
  const std::string written = AddressJournal::Line(AddressFate::kWritten, Address("00:02:5B:00:A5:A5"), "t", "COM4:");
  std::string flipped = taken;
  flipped[8] = '1';  // an address digit changed
  struct Case {
    std::string text;
    std::string problem;
    std::string next;  // the address the next take gives
  };
  const Case cases[] = {
      {"# header\n" + taken + written, "", "00:02:5B:00:A5:A6"},
      {flipped + taken, "line 1: damaged", ""},
      {taken + "garbage\n" + written, "line 2: damaged", ""},
      {taken + taken, "line 2: 00:02:5B:00:A5:A5 given out again (it was given on line 1)", ""},
      {written, "line 1: an outcome for 00:02:5B:00:A5:A5", ""},
      {taken + written + written, "line 3: an outcome", ""},
      {taken + written.substr(0, 20), "", "00:02:5B:00:A5:A6"},
      {taken + flipped.substr(0, flipped.size() - 1), "line 2: damaged", ""},
      {taken + std::string(30, '\0'), "", "00:02:5B:00:A5:A6"},
      {taken.substr(0, taken.size() - 1), "", "00:02:5B:00:A5:A6"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    text_->text = c.text;
    AddressJournal& journal = Open();
    EXPECT_EQ(problem_.substr(0, c.problem.size()), c.problem) << problem_;
    if (!c.problem.empty()) continue;
    EXPECT_EQ(Take(journal), c.next);
    // What the journal holds now reads back whole.
    Open();
    EXPECT_EQ(problem_, "");
  }
  EXPECT_EQ(journals_[journals_.size() - 2]->Notes().size(), 0u);  // the whole last line was kept
}

TEST(AddressKeyTest, TheAddressReplacesTheFilesOwnAndGoesLast) {
  PsKeyList list;
  ASSERT_TRUE(list.Allocate(5));
  list.count = 1;
  list.AddBuildIdRequest();
  const std::uint16_t one[] = {1, 2, 3, 4}, two[] = {5};
  ++list.count;
  list.AddKey(0x0001, one, 3);
  ++list.count;
  list.AddKey(0x0002, two, 4);
  ++list.count;
  list.AddKey(0x0003, two, 5);
  ++list.count;
  list.AddWarmReset();
  std::vector<std::uint32_t> replaced;
  ASSERT_TRUE(PlaceAddressKey(list, {0x78, 0x9abc, 0x56, 0x1234}, &replaced));
  EXPECT_EQ(replaced, std::vector<std::uint32_t>{3});
  ASSERT_EQ(list.count, 5u);
  EXPECT_EQ(list.Item(1).psKey, 0x0002);
  EXPECT_EQ(list.Item(2).psKey, 0x0003);
  EXPECT_EQ(list.Item(3).psKey, kAddressKey);
  EXPECT_EQ(list.Item(3).values[1], 0x9abc);
  EXPECT_EQ(list.Item(3).sequence, 4);
  EXPECT_EQ(list.Item(4).varId, kVarIdWarmReset);

  // At its limit, the list stays as it was.
  list.SetLimit(5);
  ASSERT_TRUE(PlaceAddressKey(list, {0, 1, 2, 3}, &replaced));  // the old address makes room
  EXPECT_EQ(replaced, std::vector<std::uint32_t>{0});
  ++list.count;  // a key beyond: six items
  list.Release();
  ASSERT_TRUE(list.Allocate(4));
  list.count = 1;
  list.AddBuildIdRequest();
  ++list.count;
  list.AddKey(0x0002, two, 1);
  ++list.count;
  list.AddKey(0x0003, two, 2);
  ++list.count;
  list.AddWarmReset();
  list.SetLimit(4);
  EXPECT_FALSE(PlaceAddressKey(list, {0, 1, 2, 3}, &replaced));
  EXPECT_EQ(list.count, 4u);
  EXPECT_EQ(list.Item(2).psKey, 0x0003);
}

}  // namespace
}  // namespace quillon
