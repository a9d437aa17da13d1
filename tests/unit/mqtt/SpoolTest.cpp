// The spool on a real directory: order, the bound and what it drops, a
// reopen after a restart, and files damaged the ways a crash or a disk
// damages them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "mqtt/Spool.h"

namespace {

namespace fs = std::filesystem;

class SpoolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_dir = fs::temp_directory_path() /
            ("pelmoran-spool-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(m_dir);
  }
  void TearDown() override { fs::remove_all(m_dir); }

  static std::string Record(int i, size_t size) {
    std::string r = "record-" + std::to_string(i) + "-";
    r.resize(std::max(size, r.size()), static_cast<char>('a' + i % 26));
    return r;
  }

  // Everything the spool holds, oldest first, consumed.
  static std::vector<std::string> Drain(mqtt::Spool& spool) {
    std::vector<std::string> all;
    uint64_t number = 0;
    while (spool.HasUntaken()) {
      for (auto& r : spool.TakeNext(&number)) all.push_back(std::move(r));
      spool.Remove(number);
    }
    return all;
  }

  std::vector<fs::path> Segments() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(m_dir)) files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
  }

  fs::path m_dir;
};

struct BoundCase {
  const char* name;
  uint64_t limit;
  int records;
  size_t recordSize;
  bool expectDrops;
};

// Appends, restarts, and reads back: what is left is always the newest
// records in order, within the bound, and the drop count makes up the rest.
TEST_F(SpoolTest, KeepsNewestInOrderWithinBoundAcrossRestart) {
  const BoundCase cases[] = {
      {"few small", 1 << 20, 10, 20, false},
      {"many across segments", 1 << 20, 5000, 100, false},
      {"past the bound", 64 * 1024, 4000, 100, true},
      {"tiny bound", 1024, 200, 30, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(m_dir);
    std::vector<std::string> written;
    uint64_t dropped = 0;
    {
      mqtt::Spool spool(m_dir.string(), c.limit);
      std::string error;
      ASSERT_TRUE(spool.Open(&error)) << error;
      for (int i = 0; i < c.records; ++i) {
        written.push_back(Record(i, c.recordSize));
        spool.Append(written.back());
        if (i % 97 == 0) {
          ASSERT_TRUE(spool.Flush());
        }
        ASSERT_LE(spool.Bytes(), c.limit);
      }
      ASSERT_TRUE(spool.Flush());
      dropped = spool.Dropped();
      EXPECT_EQ(dropped > 0, c.expectDrops);
      EXPECT_EQ(spool.Records() + dropped, written.size());
    }
    mqtt::Spool reopened(m_dir.string(), c.limit);
    std::string error;
    ASSERT_TRUE(reopened.Open(&error)) << error;
    EXPECT_EQ(reopened.SkippedBytes(), 0u);
    const auto back = Drain(reopened);
    ASSERT_EQ(back.size() + dropped, written.size());
    EXPECT_TRUE(std::equal(back.begin(), back.end(), written.end() - back.size()));
    EXPECT_TRUE(Segments().empty());
  }
}

struct DamageCase {
  const char* name;
  // Changes the newest segment file's bytes.
  void (*damage)(std::string& bytes);
  // How many of the last segment's records survive.
  int lostRecords;
};

// A segment is read up to its first damaged record; earlier segments and
// earlier records are all kept, and nothing the files hold can crash it.
TEST_F(SpoolTest, SkipsTornOrCorruptedTails) {
  const DamageCase cases[] = {
      {"torn in the last record", [](std::string& b) { b.resize(b.size() - 3); }, 1},
      {"torn in a record header", [](std::string& b) { b.resize(b.size() - 94); }, 2},
      {"flipped payload byte", [](std::string& b) { b[b.size() - 5] ^= 0x40; }, 1},
      {"garbage after the end", [](std::string& b) { b += std::string(13, '\x7f'); }, 0},
      {"huge length", [](std::string& b) { b.replace(b.size() - 48, 4, "\xff\xff\xff\x7f"); }, 1},
      {"bad magic", [](std::string& b) { b[0] = 'X'; }, 10},
      {"empty file", [](std::string& b) { b.clear(); }, 10},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    fs::remove_all(m_dir);
    std::vector<std::string> written;
    {
      mqtt::Spool spool(m_dir.string(), 1 << 20);
      std::string error;
      ASSERT_TRUE(spool.Open(&error)) << error;
      for (int i = 0; i < 10; ++i) {
        written.push_back(Record(i, 40));
        spool.Append(written.back());
      }
      ASSERT_TRUE(spool.Flush());
    }
    // A second run, whose segment is the one damaged.
    {
      mqtt::Spool spool(m_dir.string(), 1 << 20);
      std::string error;
      ASSERT_TRUE(spool.Open(&error)) << error;
      for (int i = 10; i < 20; ++i) {
        written.push_back(Record(i, 40));
        spool.Append(written.back());
      }
      ASSERT_TRUE(spool.Flush());
    }
    const auto files = Segments();
    ASSERT_EQ(files.size(), 2u);
    std::string bytes;
    {
      std::ifstream in(files.back(), std::ios::binary);
      bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    c.damage(bytes);
    std::ofstream(files.back(), std::ios::binary | std::ios::trunc) << bytes;

    mqtt::Spool reopened(m_dir.string(), 1 << 20);
    std::string error;
    ASSERT_TRUE(reopened.Open(&error)) << error;
    const auto back = Drain(reopened);
    const std::vector<std::string> expected(written.begin(), written.end() - c.lostRecords);
    EXPECT_EQ(back, expected);
    // New records after the damage still come after the kept ones.
    reopened.Append("after");
    ASSERT_TRUE(reopened.Flush());
    EXPECT_EQ(Drain(reopened), std::vector<std::string>{"after"});
  }
}

// Taken segments stay on disk until removed, whatever order their removal
// comes in; one given back is taken again; a reopen finds every segment that
// was not removed, taken or not.
TEST_F(SpoolTest, TakenSegmentsStayUntilRemoved) {
  using Records = std::vector<std::string>;
  std::vector<uint64_t> taken;
  {
    mqtt::Spool spool(m_dir.string(), 1 << 20);
    std::string error;
    ASSERT_TRUE(spool.Open(&error)) << error;
    for (const char* record : {"a", "b"}) {
      spool.Append(record);
      taken.emplace_back();
      EXPECT_EQ(spool.TakeNext(&taken.back()), Records{record});
    }
    spool.Append("c");
    EXPECT_TRUE(spool.HasUntaken());
    spool.GiveBack(taken[1]);
    uint64_t again = 0;
    EXPECT_EQ(spool.TakeNext(&again), Records{"b"});
    EXPECT_EQ(again, taken[1]);
    spool.Remove(taken[0]);
    EXPECT_EQ(spool.TakeNext(&again), Records{"c"});
    EXPECT_FALSE(spool.HasUntaken());
  }
  mqtt::Spool reopened(m_dir.string(), 1 << 20);
  std::string error;
  ASSERT_TRUE(reopened.Open(&error)) << error;
  EXPECT_EQ(Drain(reopened), (Records{"b", "c"}));
}

}  // namespace
