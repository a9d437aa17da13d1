#include <sstream>
#include <string>
#include <vector>

#include "MapScratch.h"
#include "runtime/MapFile.h"
#include "shell/MapCommand.h"

namespace {

class MapCommandTest : public MapScratch {
 protected:
  struct Result {
    int status;
    std::string out;
    std::string err;
  };
  Result Run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "pelmoran");
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    auto command = MapCommand::Parse(static_cast<int>(argv.size()), argv.data());
    if (!command) return {-1, "", "not a map command"};
    std::ostringstream out, err;
    const int status = command->Run(Config(), out, err);
    return {status, out.str(), err.str()};
  }
};

TEST_F(MapCommandTest, ImportPlanAndExportAMap) {
  Write(Path("meter.csv"), kMeterCsv);
  Result r =
      Run({"-ImportMap", "PLC1", "3", Path("meter.csv"), "name=Meter", "base=0", "max_gap=3"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "imported 4 tags for PLC1 slave 3 into " + Config() + "\n");

  r = Run({"/plan"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out,
            "PLC1.Meter (slave 3): 4 tags in 4 requests, 12.1 requests/s\n"
            "  limits: 125 registers or 2000 bits a request, gaps up to 3, 0 ms pause, writes "
            "06/05 for one\n"
            "  every 100 ms: 1 request, 2 registers, 0 bits, 10.0 requests/s\n"
            "    holding registers 0-1 (2), 1 tag\n"
            "  every 1000 ms: 2 requests, 1 register, 1 bit, 2.0 requests/s\n"
            "    coils 0-0 (1), 1 tag\n"
            "    holding registers 2-2 (1), 1 tag\n"
            "  every 10000 ms: 1 request, 8 registers, 0 bits, 0.1 requests/s\n"
            "    holding registers 16-23 (8), 1 tag\n");

  r = Run({"-ExportMap", "PLC1", "3", Path("out.csv")});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Read(Path("out.csv")),
            "name,address,type,bit,string_length,raw_low,raw_high,eng_low,eng_high,units,"
            "description,access,poll_ms\r\n"
            "Phase A voltage,HR0,Float 32 (BADC),,,,,,,V,\"Voltage, \"\"L1\"\"\",read,100\r\n"
            "Alarm,HR2,Bit of register,4,,,,,,,,read,\r\n"
            "Model,0x10,ASCII String (AB),,8,,,,,,,read,10000\r\n"
            "Run,CO0,Bit of register,,,,,,,,,read,\r\n");
}

TEST_F(MapCommandTest, ARefusedImportChangesNoFile) {
  Write(Path("meter.csv"), kMeterCsv);
  ASSERT_EQ(Run({"-ImportMap", "PLC1", "3", Path("meter.csv"), "base=0"}).status, 0);
  const std::string devices = Read(MapFile::DevicesPathOf(Config()));
  const std::string maps = Read(MapFile::MapsPathOf(Config()));
  Write(Path("bad.csv"), "name,address\nA,HR0\nB,HR0\n");
  const std::string bad = Path("bad.csv");
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-ImportMap", "PLC1", "3", bad, "base=1"},
       bad + " row 2: address \"HR0\" is before the first register, 1 in a one-based map"},
      // The device keeps the base it was given before.
      {{"-ImportMap", "PLC1", "3", bad},
       bad + " row 3: its registers overlap those of \"A\" on row 2"},
      {{"-ImportMap", "PLC1", "3", bad, "max_gap=-1"},
       "max_gap \"-1\" is not a whole number from 0 to 2000"},
      {{"-ImportMap", "PLC2", "3", bad}, "the endpoint \"PLC2\" is not in " + Config()},
      {{"-ImportMap", "PLC1", "0", bad}, "slave \"0\" is not from 1 to 255"},
      {{"-ImportMap", "PLC1", "4", bad, "name=NODE3"},
       "the name \"NODE3\" is that of another device of PLC1"},
      {{"-ExportMap", "PLC1", "4", Path("x.csv")}, "PLC1 slave 4 has no register map"},
  };
  for (const auto& [arguments, error] : cases) {
    const Result r = Run(arguments);
    EXPECT_EQ(r.status, 1) << error;
    EXPECT_EQ(r.err, "pelmoran: " + error + "\n");
  }
  EXPECT_EQ(Read(MapFile::DevicesPathOf(Config())), devices);
  EXPECT_EQ(Read(MapFile::MapsPathOf(Config())), maps);
  EXPECT_EQ(Run({"-ImportMap", "PLC1", "3"}).status, 2);
}

}  // namespace
