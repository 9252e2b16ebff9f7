// The unknown-user rules of KvService against a simulator whose account lets users through
// that it does not know (fixtures/unknown-users.json): the whitelist entry an online sign-in
// leaves and the offline pass it gives later, a deleted user (typed by login or by e-mail) who
// becomes one, and names the service knows in another form (login@domain, a stored e-mail the
// service no longer has) that are never such users.

#include <algorithm>
#include <tuple>

#include "Korvath/Model/CloudRecords.h"
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

// An unknown user passes online and is whitelisted, and so is a deleted user once removed (also
// when typed by the stored e-mail: the service knows neither it nor the stored login); all pass
// later without the network, a user never seen online does not.
TEST_F(KvServiceUnknownUsers, WhitelistedUsersPassLaterWithoutTheNetwork) {
  startWith({user("alice", true, true, true), user("ghost", true, true, true), user("wraith", true, true, true)});
  const char* const passing[] = {"zed", "ghost", "wraith@corp.example"};
  for (const char* login : passing) {
    EXPECT_EQ(7000, policy(service_, login)) << login;
    EXPECT_TRUE(whitelisted(login)) << login;
  }
  EXPECT_LT(readConfigFile().getUserIndex("ghost"), 0);
  EXPECT_LT(readConfigFile().getUserIndex("wraith"), 0);
  pointAt(CloudTest::closedPort());
  KvService offline;
  start(offline);
  for (const char* login : passing) EXPECT_EQ(7000, policy(offline, login)) << login;
  EXPECT_EQ(5134, policy(offline, "yves"));
}

// A name the service knows in another form is that user, asked for under the login and never
// let through as unknown: a stored user typed as login@domain, a stored user typing the stored
// e-mail that the service no longer has (its alice is alice@sim.example), and a user the
// service knows by the login alone who is not stored yet.
TEST_F(KvServiceUnknownUsers, NamesTheServiceKnowsInAnotherFormAreNeverLetThroughAsUnknown) {
  // Stored alice (e-mail alice@corp.example), typed, the policy requests (login type and login).
  const std::tuple<bool, const char*, const char*> cases[] = {
      {true, "alice@ad.example", "USERNAME alice@ad.example, USERNAME alice"},
      {true, "alice@corp.example", "EMAIL alice@corp.example, USERNAME alice"},
      {false, "alice@ad.example", "USERNAME alice@ad.example, USERNAME alice"}};
  for (const auto& [stored, typed, asked] : cases) {
    SCOPED_TRACE(std::string(typed) + (stored ? " stored" : ""));
    ASSERT_TRUE(sim_->reset()) << sim_->lastError();
    removeAgentFiles();
    Korvath::Model::UserConfig alice = user("alice", true, true, true);
    alice.setLastAuthTime(BizCoreTest::FakeClock::kStart - kHour);
    writeConfigFile(stored ? std::vector<Korvath::Model::UserConfig>{alice} : std::vector<Korvath::Model::UserConfig>{},
                    4242, "sim-master-password-0001", 1);
    KvService service;
    start(service);
    std::string name = typed;
    EXPECT_EQ(0, service.updateUserPolicies(name, false).getResultCode());
    EXPECT_EQ("alice", name);
    EXPECT_FALSE(whitelisted(typed));
    // A stored record is kept as it was (not removed and fetched again without its local state).
    const Korvath::Config back = readConfigFile();
    ASSERT_GE(back.getUserIndex("alice"), 0);
    EXPECT_EQ(stored ? alice.getLastAuthTime() : 0u,
              back.getUserConfig(static_cast<std::size_t>(back.getUserIndex("alice"))).getLastAuthTime());
    std::string requests;
    for (const CloudTest::Recorded& r : recorded("/policy")) {
      const auto request = parsed<Korvath::Model::RequestGetUserPolicy>(r.opened);
      requests += (requests.empty() ? "" : ", ") + request.getLoginType() + " " + request.getUserLogins().at(0);
    }
    EXPECT_EQ(asked, requests);
  }
}

}  // namespace
