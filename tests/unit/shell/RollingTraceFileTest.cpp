#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "shell/RollingTraceFile.h"

namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Scratch(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("pelmoran-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return (dir / RollingTraceFile::kFileName).string();
}

TEST(RollingTraceFile, RollsBeforeALineWouldPassTheSizeAndKeepsOneOlderFile) {
  const std::string path = Scratch("trace-roll");
  // Each line takes 6 bytes with its newline; 15 bytes hold two.
  RollingTraceFile trace(path, 15);
  struct Step {
    const char* line;
    const char* current;
    const char* older;
  } steps[] = {
      {"aaaaa", "aaaaa\n", ""},
      {"bbbbb", "aaaaa\nbbbbb\n", ""},
      {"ccccc", "ccccc\n", "aaaaa\nbbbbb\n"},
      {"ddddd", "ccccc\nddddd\n", "aaaaa\nbbbbb\n"},
      {"eeeee", "eeeee\n", "ccccc\nddddd\n"},
  };
  for (const Step& step : steps) {
    trace.Write(step.line);
    EXPECT_EQ(Read(path), step.current) << step.line;
    EXPECT_EQ(Read(trace.OlderPath()), step.older) << step.line;
  }
  EXPECT_EQ(trace.OlderPath(), path + ".1");
}

TEST(RollingTraceFile, ContinuesTheFileOfTheLastTimeAndCountsWhatItHolds) {
  const std::string path = Scratch("trace-continue");
  std::ofstream(path) << "earlier\n";
  {
    RollingTraceFile trace(path, 20);
    trace.Write("later");
    EXPECT_EQ(Read(path), "earlier\nlater\n");
  }
  RollingTraceFile again(path, 20);
  again.Write("rolled");
  EXPECT_EQ(Read(path), "rolled\n");
  EXPECT_EQ(Read(again.OlderPath()), "earlier\nlater\n");
}

}  // namespace
