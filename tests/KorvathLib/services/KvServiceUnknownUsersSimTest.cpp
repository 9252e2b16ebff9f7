// The unknown-user rules of KvService against a simulator whose account lets users through
// that it does not know (fixtures/unknown-users.json): the whitelist entry an online sign-in
// leaves and the offline pass it gives later, a stored user typed as login@domain who is not
// such a user, and a deleted user who becomes one.

#include <algorithm>

#include "ServicesTestSupport.h"

using Korvath::Service::KvService;
using namespace ServicesTest;

namespace {

class KvServiceUnknownUsers : public ServiceSimTestBase {
 protected:
  // Started over a configuration that already carries the account's unknown-user setting.
  void startWith(const std::vector<Korvath::Model::UserConfig>& users) {
    writeConfigFile(users, 4242, "sim-master-password-0001", 1);
    start(service_);
  }
  bool whitelisted(const std::string& login) {
    const auto entries = readConfigFile().getUnknownUsers();
    return std::any_of(entries.begin(), entries.end(),
                       [&](const Korvath::UnknownUserEntry& e) { return e.login == login && e.authenticatedOnline; });
  }
  std::uint16_t policy(KvService& service, std::string name) {
    return service.updateUserPolicies(name, false).getResultCode();
  }
};

// An unknown user passes online and is whitelisted, and so is a deleted user once removed; both
// pass later without the network, a user never seen online does not.
TEST_F(KvServiceUnknownUsers, WhitelistedUsersPassLaterWithoutTheNetwork) {
  startWith({user("alice", true, true, true), user("ghost", true, true, true)});
  for (const char* login : {"zed", "ghost"}) {
    EXPECT_EQ(7000, policy(service_, login)) << login;
    EXPECT_TRUE(whitelisted(login)) << login;
  }
  EXPECT_LT(readConfigFile().getUserIndex("ghost"), 0);
  pointAt(CloudTest::closedPort());
  KvService offline;
  start(offline);
  for (const char* login : {"zed", "ghost"}) EXPECT_EQ(7000, policy(offline, login)) << login;
  EXPECT_EQ(5134, policy(offline, "yves"));
}

TEST_F(KvServiceUnknownUsers, StoredUserTypedAsAUserPrincipalNameIsNeverLetThroughAsUnknown) {
  startWith({user("alice", true, true, true)});
  std::string name = "alice@ad.example";
  EXPECT_EQ(0, service_.updateUserPolicies(name, false).getResultCode());
  EXPECT_EQ("alice", name);
  EXPECT_FALSE(whitelisted("alice@ad.example"));
}

}  // namespace
