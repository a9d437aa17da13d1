// The certificate and user commands, parsed from real argument lists and
// carried out by the real tag-server library on a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "pointdb/TagServerBinding.h"
#include "shell/SecurityCommand.h"
#include "tagserver/UserDirectory.h"

namespace fs = std::filesystem;

TEST(SecurityCommandParse, TakesTheArgumentWholeAndOnlyAsTheFirstSwitch) {
  struct Case {
    std::vector<const char*> argv;
    std::optional<SecurityCommand::Kind> kind;
    std::string argument;
    bool readWrite;
  };
  using Kind = SecurityCommand::Kind;
  const Case cases[] = {
      {{"pelmoran", "-TrustClient", "/var/lib/pki/rejected/a-b c.der"},
       Kind::TrustClient,
       "/var/lib/pki/rejected/a-b c.der",
       false},
      {{"pelmoran", "/trustclient", "x.pem"}, Kind::TrustClient, "x.pem", false},
      {{"pelmoran", "-AddUser", "scada", "-ReadWrite"}, Kind::AddUser, "scada", true},
      {{"pelmoran", "-AddUser", "viewer"}, Kind::AddUser, "viewer", false},
      {{"pelmoran", "-RemoveUser", "viewer"}, Kind::RemoveUser, "viewer", false},
      {{"pelmoran", "-RenewCertificate"}, Kind::RenewCertificate, "", false},
      {{"pelmoran", "-AddUser"}, Kind::AddUser, "", false},
      {{"pelmoran", "-Headless", "-AddUser", "x"}, std::nullopt, "", false},
      {{"pelmoran", "-Add-User", "x"}, std::nullopt, "", false},
      {{"pelmoran"}, std::nullopt, "", false},
  };
  for (const Case& c : cases) {
    auto parsed = SecurityCommand::Parse(static_cast<int>(c.argv.size()), c.argv.data());
    ASSERT_EQ(parsed.has_value(), c.kind.has_value()) << c.argv.back();
    if (!parsed) continue;
    EXPECT_EQ(parsed->kind, *c.kind) << c.argv.back();
    EXPECT_EQ(parsed->argument, c.argument) << c.argv.back();
    EXPECT_EQ(parsed->readWrite, c.readWrite) << c.argv.back();
  }
}

class SecurityCommandRun : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = TagServer();
    TagServer().RenewOPCCertificate = &::RenewOPCCertificate;
    TagServer().TrustOPCClient = &::TrustOPCClient;
    TagServer().AddOPCUser = &::AddOPCUser;
    TagServer().RemoveOPCUser = &::RemoveOPCUser;
    char folder[] = "/tmp/pelmoran-command-test-XXXXXX";
    folder_ = std::string(mkdtemp(folder)) + "/";
  }
  void TearDown() override {
    TagServer() = saved_;
    fs::remove_all(folder_);
  }
  int Run(std::vector<const char*> argv, std::optional<std::string> password = std::nullopt) {
    argv.insert(argv.begin(), "pelmoran");
    auto command = SecurityCommand::Parse(static_cast<int>(argv.size()), argv.data());
    out_.str("");
    return command->Run(
        folder_, [&] { return password; }, out_, out_);
  }

  std::string folder_;
  std::ostringstream out_;

 private:
  TagServerBinding saved_;
};

TEST_F(SecurityCommandRun, UsersAreAddedWithTheirRoleAndRemoved) {
  tagserver::UserDirectory users(folder_ + tagserver::UserDirectory::kFileName);
  EXPECT_EQ(Run({"-AddUser", "scada", "-ReadWrite"}, "pw one"), 0) << out_.str();
  EXPECT_EQ(Run({"-AddUser", "viewer"}, "pw two"), 0) << out_.str();
  EXPECT_EQ(users.Authenticate("scada", "pw one"), tagserver::UserRole::ReadWrite);
  EXPECT_EQ(users.Authenticate("viewer", "pw two"), tagserver::UserRole::ReadOnly);
  EXPECT_EQ(Run({"-AddUser", "nopass"}), 1);
  EXPECT_NE(out_.str().find("no password"), std::string::npos) << out_.str();
  EXPECT_EQ(Run({"-AddUser", "x:y"}, "pw"), 1);
  EXPECT_EQ(Run({"-AddUser"}, "pw"), 2);
  EXPECT_EQ(Run({"-RemoveUser", "viewer"}), 0) << out_.str();
  EXPECT_EQ(users.Authenticate("viewer", "pw two"), std::nullopt);
  EXPECT_EQ(Run({"-RemoveUser", "viewer"}), 1);
  EXPECT_NE(out_.str().find("no user viewer"), std::string::npos) << out_.str();
}

TEST_F(SecurityCommandRun, CertificatesAreRenewedAndTrusted) {
  const std::string own = folder_ + "pki/own/certs/pelmoran.der";
  EXPECT_EQ(Run({"-RenewCertificate"}), 0) << out_.str();
  ASSERT_TRUE(fs::exists(own));
  const auto first = fs::file_size(own);
  std::ifstream before(own, std::ios::binary);
  std::string firstBytes((std::istreambuf_iterator<char>(before)), {});
  EXPECT_EQ(Run({"-RenewCertificate"}), 0);
  std::ifstream after(own, std::ios::binary);
  std::string secondBytes((std::istreambuf_iterator<char>(after)), {});
  EXPECT_GT(first, 0u);
  EXPECT_NE(firstBytes, secondBytes);

  // Any certificate will do as a client's: our own from a moment ago.
  const std::string client = folder_ + "client.der";
  std::ofstream(client, std::ios::binary) << firstBytes;
  EXPECT_EQ(Run({"-TrustClient", client.c_str()}), 0) << out_.str();
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ + "pki/trusted/certs"), {}), 1);
  EXPECT_EQ(Run({"-TrustClient", (folder_ + "missing.der").c_str()}), 1);
  EXPECT_NE(out_.str().find("holds no certificate"), std::string::npos) << out_.str();
}
