#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pointdb/Archive.h"

namespace {

std::vector<uint8_t> Bytes(const std::string& s) { return {s.begin(), s.end()}; }

std::string Stored(const std::string& text) {
  Archive ar;
  ar << text;
  return ar.GetBuffer();
}

std::string Loaded(const std::vector<uint8_t>& bytes) {
  const std::string data(bytes.begin(), bytes.end());
  Archive ar(data);
  std::string text;
  ar >> text;
  EXPECT_EQ(ar.GetRemaining(), 0u);
  return text;
}

ArchiveException::Cause LoadFailure(const std::vector<uint8_t>& bytes) {
  const std::string data(bytes.begin(), bytes.end());
  Archive ar(data);
  std::string text;
  try {
    ar >> text;
  } catch (const ArchiveException& e) {
    return e.m_cause;
  }
  ADD_FAILURE() << "no failure for a string of " << bytes.size() << " bytes";
  return ArchiveException::badSchema;
}

std::vector<uint8_t> Utf16(const std::u16string& text) {
  std::vector<uint8_t> out;
  for (char16_t unit : text) {
    out.push_back(static_cast<uint8_t>(unit));
    out.push_back(static_cast<uint8_t>(unit >> 8));
  }
  return out;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST(Archive, NumbersAreLittleEndianWithoutPadding) {
  Archive ar;
  ar << static_cast<uint8_t>(0xAB) << static_cast<uint16_t>(0x1234) << int32_t{-2}
     << static_cast<int32_t>(0x01020304) << 1.5f;
  EXPECT_EQ(Bytes(ar.GetBuffer()),
            (std::vector<uint8_t>{0xAB, 0x34, 0x12, 0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03, 0x02, 0x01,
                                  0x00, 0x00, 0xC0, 0x3F}));

  Archive in(ar.GetBuffer());
  uint8_t b;
  uint16_t w;
  int32_t negative, positive;
  float f;
  in >> b >> w >> negative >> positive >> f;
  EXPECT_EQ(b, 0xAB);
  EXPECT_EQ(w, 0x1234);
  EXPECT_EQ(negative, -2);
  EXPECT_EQ(positive, 0x01020304);
  EXPECT_EQ(f, 1.5f);
  EXPECT_EQ(in.GetRemaining(), 0u);
}

TEST(Archive, StringPrefixTakesTheShortestOfThreeForms) {
  EXPECT_EQ(Bytes(Stored("")), (std::vector<uint8_t>{0x00}));
  EXPECT_EQ(Bytes(Stored("AB")), (std::vector<uint8_t>{0x02, 'A', 'B'}));

  struct Case {
    size_t length;
    std::vector<uint8_t> prefix;
  };
  const std::vector<Case> cases = {
      {254, {0xFE}},
      {255, {0xFF, 0xFF, 0x00}},
      {300, {0xFF, 0x2C, 0x01}},
      {0xFFFD, {0xFF, 0xFD, 0xFF}},
      // 0xFFFE as a word would announce the wide form, so it takes the long form.
      {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
      {0x10000, {0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x01, 0x00}},
  };
  for (const auto& c : cases) {
    const std::string text(c.length, 'x');
    const std::string stored = Stored(text);
    ASSERT_EQ(stored.size(), c.prefix.size() + c.length) << c.length;
    EXPECT_EQ(Bytes(stored.substr(0, c.prefix.size())), c.prefix) << c.length;
    Archive in(stored);
    std::string back;
    in >> back;
    EXPECT_EQ(back, text) << c.length;
    EXPECT_EQ(in.GetRemaining(), 0u) << c.length;
  }
}

TEST(Archive, TextBytesAreKeptAsTheyAre) {
  const std::string text = "K\xC3\xA4ltemaschine \xE2\x82\xAC";
  EXPECT_EQ(Loaded(Bytes(Stored(text))), text);
  const std::string embedded("a\0b", 3);
  EXPECT_EQ(Loaded(Bytes(Stored(embedded))), embedded);
}

TEST(Archive, WideStringsAreReadAsUtf8) {
  // "Aé€" then U+1F600 as a surrogate pair.
  const std::u16string text = u"A\u00E9\u20AC\xD83D\xDE00";
  EXPECT_EQ(Loaded(Concat({0xFF, 0xFE, 0xFF, 0x05}, Utf16(text))),
            "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80");

  EXPECT_EQ(Loaded({0xFF, 0xFE, 0xFF, 0x00}), "");

  // A lone surrogate cannot be converted and becomes U+FFFD.
  EXPECT_EQ(Loaded(Concat({0xFF, 0xFE, 0xFF, 0x02}, Utf16(u"\xD800x"))), "\xEF\xBF\xBDx");
  EXPECT_EQ(Loaded(Concat({0xFF, 0xFE, 0xFF, 0x01}, Utf16(u"\xDC00"))), "\xEF\xBF\xBD");
}

TEST(Archive, WideStringsTakeTheLongerPrefixesToo) {
  const std::u16string word(300, u'w');
  EXPECT_EQ(Loaded(Concat({0xFF, 0xFE, 0xFF, 0xFF, 0x2C, 0x01}, Utf16(word))),
            std::string(300, 'w'));
  // After the marker the prefix starts over: 0xFFFE there is a length.
  const std::u16string marker(0xFFFE, u'm');
  EXPECT_EQ(Loaded(Concat({0xFF, 0xFE, 0xFF, 0xFF, 0xFE, 0xFF}, Utf16(marker))),
            std::string(0xFFFE, 'm'));
  const std::u16string longer(0x10001, u'l');
  EXPECT_EQ(
      Loaded(Concat({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x01, 0x00}, Utf16(longer))),
      std::string(0x10001, 'l'));
}

TEST(Archive, DamagedStringsAreRefusedWithoutReadingPastTheEnd) {
  // Prefix cut short in each of its forms.
  EXPECT_EQ(LoadFailure({}), ArchiveException::endOfFile);
  EXPECT_EQ(LoadFailure({0xFF}), ArchiveException::endOfFile);
  EXPECT_EQ(LoadFailure({0xFF, 0xFF}), ArchiveException::endOfFile);
  EXPECT_EQ(LoadFailure({0xFF, 0xFF, 0xFF, 0x01, 0x00}), ArchiveException::endOfFile);
  EXPECT_EQ(LoadFailure({0xFF, 0xFE, 0xFF}), ArchiveException::endOfFile);
  // Lengths claiming more than is there, up to the largest one.
  EXPECT_EQ(LoadFailure({0x03, 'a', 'b'}), ArchiveException::badCount);
  EXPECT_EQ(LoadFailure({0xFF, 0x2C, 0x01, 'a'}), ArchiveException::badCount);
  EXPECT_EQ(LoadFailure({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), ArchiveException::badCount);
  EXPECT_EQ(LoadFailure({0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}),
            ArchiveException::badCount);
  // An odd byte count for a wide text is one character short.
  EXPECT_EQ(LoadFailure({0xFF, 0xFE, 0xFF, 0x02, 'a', 0x00, 'b'}), ArchiveException::badCount);
}

TEST(Archive, ReadingStopsAtTheEndOfTheData) {
  const std::string data("\x01\x02\x03", 3);
  Archive ar(data);
  uint16_t w;
  ar >> w;
  int32_t n;
  EXPECT_THROW(ar >> n, ArchiveException);
  uint8_t b;
  EXPECT_THROW(ar >> b, ArchiveException);
}

TEST(Archive, CountsMustFitInWhatRemains) {
  auto count = [](std::vector<uint8_t> bytes, size_t itemBytes) {
    const std::string data(bytes.begin(), bytes.end());
    Archive ar(data);
    return ar.ReadCount(itemBytes);
  };
  EXPECT_EQ(count({0x02, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, 4), 2);
  EXPECT_EQ(count({0x00, 0, 0, 0}, 16), 0);
  EXPECT_THROW(count({0x03, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, 4), ArchiveException);
  EXPECT_THROW(count({0x02, 0, 0}, 1), ArchiveException);
  EXPECT_THROW(count({0xFF, 0xFF, 0xFF, 0xFF}, 1), ArchiveException);
  EXPECT_THROW(count({0xFF, 0xFF, 0xFF, 0x7F}, 53), ArchiveException);
}

TEST(Archive, StoringAndLoadingAreKeptApart) {
  Archive store;
  EXPECT_TRUE(store.IsStoring());
  EXPECT_FALSE(store.IsLoading());
  uint8_t b;
  EXPECT_THROW(store >> b, std::logic_error);
  Archive load{std::string_view()};
  EXPECT_TRUE(load.IsLoading());
  EXPECT_THROW(load << b, std::logic_error);
}
