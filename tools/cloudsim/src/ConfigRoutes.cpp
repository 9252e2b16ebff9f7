// Business behaviour of the configuration and policy routes: the configuration reply names
// the account, the resource, the settings and the requested users the account knows; the
// policy replies describe the requested user (an empty array for a user it does not know).

#include "BusinessRoutes.h"
#include "Json.h"

#include "Korvath/Model/CloudRecords.h"
#include "Korvath/ServerConfig.h"

#include <cstdint>
#include <string>
#include <vector>

namespace CloudSim {
namespace {

Korvath::ServerConfig serverConfigOf(const Account& account) {
  const SimSettings& s = account.settings;
  Korvath::ServerConfig config;
  config.setPushTimeout(s.pushTimeout);
  config.setOffline(s.offline);
  config.setSyncInterval(s.syncInterval);
  config.setSupportMessage(s.supportMessage);
  config.setEnableRememberPassword(s.enableRememberPassword);
  config.setEnableForgotAuthenticator(s.enableForgotAuthenticator);
  config.setIntegrationKey(account.integrationKey);
  config.setLatestVersionKorvath(s.latestVersionKorvath);
  config.setAllowUnknownUsers(s.allowUnknownUsers);
  // The settings' copy of the integration key is dropped: it goes out once, above.
  config.setAuthenticationSettings(settingsOf(account));
  return config;
}

bool toModelUser(const SimUser& u, Korvath::Model::User& user) {
  if (user.setUserLogin(u.login) != 0) return false;
  user.setEmail(u.email);
  user.setOverAllocated(u.overAllocated);
  user.setQuarantine(u.quarantine);
  user.setBlocked(u.blocked);
  user.setHasPolicy(u.hasPolicy);
  user.setAuthTypes(u.authTypes);
  std::vector<Korvath::Model::AuthenticatorRecord> records;
  for (const SimAuthenticator& a : u.authenticators) {
    Korvath::Model::AuthenticatorRecord record;
    if (record.setModel(a.model) != 0 || record.setSerialNumber(a.serialNumber) != 0 || record.setBlob(a.blob) != 0) {
      return false;
    }
    record.setDeviceId(a.deviceId);
    records.push_back(record);
  }
  if (user.setAuthenticators(records) != 0) return false;
  user.setAuthenticatorForgottenExpiryTimestamp(u.authenticatorForgottenExpiryTimestamp);
  return true;
}

// The users that `logins` name (login or e-mail, ignoring case), each once, in request order.
std::vector<SimUser> requestedUsers(RouteContext& ctx, const std::vector<std::string>& logins) {
  std::vector<SimUser> found;
  for (const std::string& login : logins) {
    SimUser user;
    if (!ctx.state.findUser(ctx.account, login, user)) continue;
    bool seen = false;
    for (const SimUser& other : found) seen = seen || other.login == user.login;
    if (!seen) found.push_back(user);
  }
  return found;
}

Response internalError(const std::string& why) { return {false, 500, Json::errorList(201005000, why)}; }

}  // namespace

Response handleConfig(RouteContext& ctx) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;
  Korvath::Model::RequestConfig request;
  if (request.fillFromJson(ctx.openedJson) != 0) return sealedJson(ctx, 200, "{}");

  const Account& account = ctx.account.account;
  Korvath::Model::ResponseConfig reply;
  reply.setAccountId(account.accountId);
  reply.setAccountAlias(account.accountAlias);
  reply.setResourceId(static_cast<std::uint32_t>(std::stoul(account.resourceId)));
  reply.setResourceAlias(account.resourceAlias);
  reply.setMasterPassword(account.masterPassword);
  reply.setServerTime(unixSecondsNow());
  if (reply.setServerConfig(serverConfigOf(account)) != 0) return internalError("Invalid settings");
  std::vector<Korvath::Model::User> users;
  for (const SimUser& u : requestedUsers(ctx, request.getUserLogins())) {
    Korvath::Model::User user;
    if (!toModelUser(u, user)) return internalError("Invalid user " + u.login);
    users.push_back(std::move(user));
  }
  if (reply.setUsers(users) != 0) return internalError("Invalid users");
  return sealedJson(ctx, 200, reply.toJson());
}

Response handlePolicy(RouteContext& ctx) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;
  Korvath::Model::RequestGetUserPolicy request;
  if (request.fillFromJson(ctx.openedJson) != 0) return sealedJson(ctx, 200, "{}");

  std::vector<Korvath::Model::UserPolicy> policies;
  for (const SimUser& u : requestedUsers(ctx, request.getUserLogins())) {
    Korvath::Model::UserPolicy policy;
    policy.username = u.login;
    policy.email = u.email;
    policy.hasPolicy = u.hasPolicy;
    policy.isAllowedToAuthenticate = u.isAllowedToAuthenticate;
    policy.isInSafeLocation = u.isInSafeLocation;
    policy.isInForgotToken = u.isInForgotToken;
    policy.isBlocked = u.blocked;
    policy.isOverallocated = u.overAllocated;
    policy.isInQuarantine = u.quarantine;
    policy.authTypes = u.authTypes;
    policies.push_back(policy);
  }
  Korvath::Model::ResponseGetUserPolicy reply;
  reply.setUserPolicies(policies);
  return sealedJson(ctx, 200, reply.toJson());
}

Response handlePolicyOffline(RouteContext& ctx) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;
  Korvath::Model::RequestGetUserPolicyOffline request;
  if (request.fillFromJson(ctx.openedJson) != 0) return sealedJson(ctx, 200, "{}");

  std::vector<Korvath::Model::UserPolicyOffline> policies;
  for (const SimUser& u : requestedUsers(ctx, {request.getUserLogin()})) {
    Korvath::Model::UserPolicyOffline policy;
    policy.hasPolicy = u.hasPolicy;
    policy.policyAllowsAuthentication = u.isAllowedToAuthenticate;
    policy.authTypes = u.authTypes;
    policies.push_back(policy);
  }
  Korvath::Model::ResponseGetUserPolicyOffline reply;
  reply.setPolicies(policies);
  return sealedJson(ctx, 200, reply.toJson());
}

}  // namespace CloudSim
