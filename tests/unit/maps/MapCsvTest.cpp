#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runtime/MapCsv.h"

namespace {

// A tag as "name table:offset type bit/len scale units|description access poll".
std::vector<std::string> Describe(const DeviceMap& map) {
  std::vector<std::string> out;
  for (const MapTag& t : map.tags) {
    std::string scale =
        t.format.scaled ? std::to_string(t.format.rawHigh) + ">" + std::to_string(t.format.engHigh)
                        : "-";
    out.push_back(t.name + " " + std::to_string(static_cast<int>(t.table)) + ":" +
                  std::to_string(t.offset) + " " + std::to_string(static_cast<int>(t.type)) + " " +
                  std::to_string(t.format.bit) + "/" + std::to_string(t.format.stringRegisters) +
                  " " + scale + " " + t.units + "|" + t.description +
                  (t.access == MapAccess::ReadWrite ? " rw " : " r ") +
                  std::to_string(t.pollClassMs));
  }
  return out;
}

struct MapCase {
  const char* what;
  std::string csv;
  MapBase base;
  std::vector<std::string> tags;  // empty: refused with error
  std::string error;
};

const std::string kHeader =
    "name,address,type,bit,string_length,raw_low,raw_high,eng_low,eng_high,units\n";

TEST(MapCsv, OneTableOfMaps) {
  const std::vector<MapCase> cases = {
      {"a spreadsheet's export: BOM, CRLF, columns in its order, quotes",
       "\xEF\xBB\xBF"
       "Description,Name,Address,Type,Units,Access,Poll_ms,Raw_Low,Raw_High,Eng_Low,Eng_High,Bit,"
       "String_Length\r\n"
       "\"Voltage, phase A\",Phase A voltage,40001,Float 32 (BADC),V,read,100,,,,,,\r\n"
       "\"The \"\"main\"\" breaker\",Breaker,00017,,,RW,1s,,,,,,\r\n"
       "Current,I,30011,UNSIGNED,A,R,,0,4095,0,20,,\r\n"
       "Alarm bits,Fan,HR0x20,33,,read-write,,,,,,4,\r\n"
       "Alarm bits,Door,0x20,Bit of register,,,,,,,,5,\r\n"
       ",Serial,400100,ASCII String (BA),,,250ms,,,,,,8\r\n"
       "\r\n",
       MapBase::OneBased,
       {"Phase A voltage 3:0 14 0/1 - V|Voltage, phase A r 100",
        "Breaker 1:16 33 0/1 - |The \"main\" breaker rw 1000",
        "I 4:10 0 0/1 4095.000000>20.000000 A|Current r 0", "Fan 3:32 33 4/1 - |Alarm bits rw 0",
        "Door 3:32 33 5/1 - |Alarm bits r 0", "Serial 3:99 35 0/8 - | r 250"},
       ""},
      {"zero-based prefixes",
       kHeader + "A,HR0,,,,,,,,\nB,IR0,,,,,,,,\n",
       MapBase::ZeroBased,
       {"A 3:0 0 0/1 - | r 0", "B 4:0 0 0/1 - | r 0"},
       ""},
      {"a one-based map has no HR0",
       kHeader + "A,HR0,,,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: address \"HR0\" is before the first register, 1 in a one-based map"},
      {"overlapping registers",
       kHeader + "A,40001,Float 64 (ABCD),,,,,,,\nB,40003,,,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 3: its registers overlap those of \"A\" on row 2"},
      {"one bit twice",
       kHeader + "A,40001,Bit of register,3,,,,,,\nB,40001,Bit of register,3,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 3: its registers overlap those of \"A\" on row 2"},
      {"a bit and a whole register",
       kHeader + "A,40001,Bit of register,3,,,,,,\nB,HR1,,,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 3: its registers overlap those of \"A\" on row 2"},
      {"a name twice",
       kHeader + "A,40001,,,,,,,,\nB,40002,,,,,,,,\nA,40003,,,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 4: the name \"A\" is given twice on row 2"},
      {"past 65535",
       kHeader + "A,465536,UInt32ABCD,,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: type \"UInt32ABCD\" is no data type: a number 0 to 35 or a name such as "
       "\"Float 32 (BADC)\""},
      {"past 65535 by its width",
       kHeader + "A,465536,8,,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: the tag runs past register 65535 (it takes 2)"},
      {"half a scale",
       kHeader + "A,40001,,,,0,10,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: a scale needs all of raw_low, raw_high, eng_low and eng_high"},
      {"a bit on a float",
       kHeader + "A,40001,4,2,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: bit \"2\" is given, but only a Bit tag of a register has a bit"},
      {"a coil of a wide type",
       kHeader + "A,00001,4,,,,,,,\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: a coil or discrete input is one bit: its type is Bit"},
      {"an input written",
       "name,address,access\nA,30001,RW\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: an input register or discrete input cannot be read-write"},
      {"a row short",
       kHeader + "A,40001\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: 2 fields where the header has 10"},
      {"no address column",
       "name,type\nA,0\n",
       MapBase::OneBased,
       {},
       "m.csv row 1: the column \"address\" is missing"},
      {"an unknown column",
       "name,address,colour\nA,40001,red\n",
       MapBase::OneBased,
       {},
       "m.csv row 1: \"colour\" is no column of a register map"},
      {"not UTF-8",
       "name,address\nA\xff,40001\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: name \"A\xff\" is not UTF-8 text"},
      {"a surrogate is no UTF-8",
       "name,address,description\nA,40001,\xED\xA0\x80\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: description \"\xED\xA0\x80\" is not UTF-8 text"},
      {"an open quote",
       "name,address\n\"A,40001\n",
       MapBase::OneBased,
       {},
       "m.csv row 2: a quoted field is not closed"},
  };
  for (const MapCase& c : cases) {
    DeviceMap map;
    map.base = c.base;
    map.tags.resize(1);  // what a refused import must leave
    const DeviceMap before = map;
    std::string error;
    const bool read = MapCsv::Read(c.csv, "m.csv", map, error);
    EXPECT_EQ(read, c.error.empty()) << c.what << ": " << error;
    if (!read) {
      EXPECT_EQ(error, c.error) << c.what;
      EXPECT_EQ(map, before) << c.what;
      continue;
    }
    EXPECT_EQ(Describe(map), c.tags) << c.what;
    // What is written reads back the same, each address as it was written.
    DeviceMap again = map;
    ASSERT_TRUE(MapCsv::Read(MapCsv::Write(map), "again.csv", again, error))
        << c.what << ": " << error;
    EXPECT_EQ(again, map) << c.what;
  }
}

}  // namespace
