#include <gtest/gtest.h>

#include <string>

#include "runtime/SettingsFile.h"

namespace {

TEST(HttpSettingsTest, TheSectionReadsBackAndAValueOutOfRangeKeepsItsDefault) {
  struct Case {
    const char* what;
    std::string text;
    bool enabled;
    std::string address;
    int port;
    bool https;
    bool anonymous;
  };
  const Case cases[] = {
      {"missing: off, loopback", "", false, "127.0.0.1", 8443, true, false},
      {"opened", "[Http]\nEnabled=1\nAddress=0.0.0.0\nPort=9000\nHttps=0\nAnonymousLoopbackRead=1\n",
       true, "0.0.0.0", 9000, false, true},
      {"out of range", "[Http]\nEnabled=2\nPort=70000\nHttps=7\n", false, "127.0.0.1", 8443, true,
       false},
      {"empty address", "[Http]\nEnabled=1\nAddress=\n", true, "127.0.0.1", 8443, true, false},
  };
  for (const Case& c : cases) {
    const HttpSettings s = SettingsFile::Parse(c.text).GetHttpSettings();
    EXPECT_EQ(s.enabled, c.enabled) << c.what;
    EXPECT_EQ(s.address, c.address) << c.what;
    EXPECT_EQ(s.port, c.port) << c.what;
    EXPECT_EQ(s.https, c.https) << c.what;
    EXPECT_EQ(s.anonymousLoopbackRead, c.anonymous) << c.what;
  }
  HttpSettings written;
  written.enabled = true;
  written.port = 0;
  written.certificateFile = "/etc/pelmoran/web.pem";
  SettingsFile file = SettingsFile::Parse("[Demotion]\nTimeouts=3\n");
  file.SetHttpSettings(written);
  const SettingsFile again = SettingsFile::Parse(file.Text());
  EXPECT_EQ(again.GetHttpSettings().port, 0);
  EXPECT_EQ(again.GetHttpSettings().certificateFile, "/etc/pelmoran/web.pem");
  EXPECT_EQ(again.GetInt("Demotion", "Timeouts", 0, 0, 9), 3);
  EXPECT_EQ(again.Section("Http").size(), 7u);
}

}  // namespace
