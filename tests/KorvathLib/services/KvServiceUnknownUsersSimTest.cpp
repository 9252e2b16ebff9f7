// The unknown-user rules of KvService against a simulator whose account lets users through
// that it does not know (fixtures/unknown-users.json): the whitelist entry an online sign-in
// leaves, the offline pass it gives later, a stored user typed as login@domain who is not such
// a user, and a deleted user who becomes one.

#include <gtest/gtest.h>

#include "Korvath/ResultCodes.h"
#include "Korvath/Service/KvService.h"
#include "ServicesTestSupport.h"

using Korvath::Model::UserConfig;
using Korvath::Service::KvService;
using namespace ServicesTest;

namespace {

class KvServiceUnknownUsers : public ServiceSimTestBase {
 protected:
  // Started over a configuration that already carries the account's unknown-user setting.
  void start(KvService& service, const std::vector<UserConfig>& users) {
    writeConfigFile(users);
    Korvath::Config config = readConfigFile();
    Korvath::ServerConfig server = config.getServerConfig();
    server.setAllowUnknownUsers(1);
    ASSERT_EQ(0, config.setServerConfig(server));
    ASSERT_EQ(0, config.writeFile());
    std::uint16_t type = 0;
    std::string response;
    ASSERT_EQ(0, service.initialize(type, response).getResultCode());
  }
  bool whitelisted(const std::string& login) {
    const Korvath::Config back = readConfigFile();
    for (const Korvath::UnknownUserEntry& e : back.getUnknownUsers()) {
      if (e.login == login) return e.authenticatedOnline;
    }
    return false;
  }
};

TEST_F(KvServiceUnknownUsers, UnknownUserOnlinePassesAndIsWhitelisted) {
  KvService service;
  start(service, {user("alice", true, true, true)});
  std::string name = "zed";
  EXPECT_EQ(7000, service.updateUserPolicies(name, false).getResultCode());
  EXPECT_TRUE(whitelisted("zed"));
}

TEST_F(KvServiceUnknownUsers, WhitelistedUserPassesLaterWithoutTheNetwork) {
  {
    KvService online;
    start(online, {user("alice", true, true, true)});
    std::string name = "zed";
    ASSERT_EQ(7000, online.updateUserPolicies(name, false).getResultCode());
  }
  pointAt(CloudTest::closedPort());
  KvService offline;
  std::uint16_t type = 0;
  std::string response;
  ASSERT_EQ(0, offline.initialize(type, response).getResultCode());
  std::string name = "zed";
  EXPECT_EQ(7000, offline.updateUserPolicies(name, false).getResultCode());
  name = "yves";  // never seen online
  EXPECT_EQ(5134, offline.updateUserPolicies(name, false).getResultCode());
}

TEST_F(KvServiceUnknownUsers, StoredUserTypedAsAUserPrincipalNameIsNeverLetThroughAsUnknown) {
  KvService service;
  start(service, {user("alice", true, true, true)});
  std::string name = "alice@ad.example";
  EXPECT_EQ(0, service.updateUserPolicies(name, false).getResultCode());
  EXPECT_EQ("alice", name);
  EXPECT_FALSE(whitelisted("alice@ad.example"));
}

TEST_F(KvServiceUnknownUsers, DeletedUserIsRemovedBeforeTheWhitelistLetsItThrough) {
  KvService service;
  start(service, {user("alice", true, true, true), user("ghost", true, true, true)});
  std::string name = "ghost";
  EXPECT_EQ(7000, service.updateUserPolicies(name, false).getResultCode());
  EXPECT_LT(readConfigFile().getUserIndex("ghost"), 0);
  EXPECT_TRUE(whitelisted("ghost"));
}

}  // namespace
