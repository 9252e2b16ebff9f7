#pragma once

// The HTTPS client of the desktop-logon and policy APIs of the cloud service. A business
// object builds one client for one cloud exchange, calls its operations and drops it. The
// client never seals nor opens bodies: it sends the sealed request given to it, wrapped as
// {"data":"<sealed>"}, and hands back the sealed reply (or the raw body on every other
// outcome) together with a KvResult. One HTTP exchange per call, never a retry.

#include <cstdint>
#include <string>
#include <vector>

#include "Korvath/HttpsExchange.h"
#include "Korvath/KvResult.h"
#include "Korvath/Model/ErrorResponse.h"

namespace Korvath {

// Where the cloud service lives. Compiled-in defaults; each may be overridden by a value
// of the agent's registry key ("DesktopLogonHostPrefix", "PolicyHostPrefix", "DomainSuffix",
// "Port").
struct CloudDeployment {
  static const char* const kDefaultDesktopLogonHostPrefix;  // "desktoplogon."
  static const char* const kDefaultPolicyHostPrefix;        // "policy."
  static const char* const kDefaultDomainSuffix;            // ".cloud.example"
  static const std::uint16_t kDefaultPort = 443;

  std::string desktopLogonHostPrefix = kDefaultDesktopLogonHostPrefix;
  std::string policyHostPrefix = kDefaultPolicyHostPrefix;
  std::string domainSuffix = kDefaultDomainSuffix;
  std::uint16_t port = kDefaultPort;

  // The defaults with the registry's overrides applied; a "Port" that is not a decimal
  // number from 1 to 65535 is ignored.
  static CloudDeployment fromAgentRegistry();
};

class RESTClient {
 public:
  enum class Operation {
    PostConfig,
    PostTransaction,
    PostAuthentication,
    PostForgotTokenAuthenticationCode,
    GetPushResult,
    PostGetUserPolicy,
    PostGetUserPolicyOffline,
  };

  // Chooses the desktop-logon host for the region and environment and takes the request
  // identifier of the current sign-in attempt, creating it when there is none.
  RESTClient(std::string region, std::string environment);
  ~RESTClient();
  RESTClient(const RESTClient&) = delete;
  RESTClient& operator=(const RESTClient&) = delete;

  // Desktop-logon API. `resourceId` is the resource identifier as decimal text.
  Model::KvResult postConfig(const std::string& accountId, const std::string& resourceId,
                             const std::string& sealedRequest, std::string& replyText);
  Model::KvResult postTransaction(const std::string& accountId, const std::string& resourceId,
                                  const std::string& sealedRequest, std::string& replyText);
  Model::KvResult postAuthentication(const std::string& accountId, const std::string& resourceId,
                                     const std::string& sealedRequest, std::string& replyText);
  Model::KvResult postForgotTokenAuthenticationCode(const std::string& accountId, const std::string& resourceId,
                                                    const std::string& sealedRequest, std::string& replyText);
  // GET without a body; `transactionId` must be a 36-character identifier (letters, digits
  // and '-'), anything else is refused without a request (KV_ERROR_REST_CLIENT_GET_PUSH_RESULT).
  // 200 gives 0 and the raw body (not unwrapped); 202 gives KV_ERROR_WAITING_PUSH_RESULT.
  Model::KvResult getPushResult(const std::string& accountId, const std::string& resourceId,
                                const std::string& transactionId, std::string& replyText);
  // Policy API; both switch the client to the policy host first.
  Model::KvResult postGetUserPolicy(const std::string& accountId, const std::string& resourceId,
                                    const std::string& sealedRequest, std::string& replyText);
  Model::KvResult postGetUserPolicyOffline(const std::string& accountId, const std::string& resourceId,
                                           const std::string& sealedRequest, std::string& replyText);

  // Replaces the host by the policy host of the same region and environment.
  void setupGetUserPolicyUrl();

  const std::string& getHost() const { return host_; }
  std::uint16_t getPort() const { return deployment_.port; }
  const std::string& getRequestId() const { return requestId_; }

  // [environment "."] prefix region suffix; no environment part for "prod".
  static std::string buildHost(const std::string& environment, const std::string& prefix, const std::string& region,
                               const std::string& suffix);
  // {"data":"<sealed request>"}, written by the JSON writer.
  static std::string wrapDataBody(const std::string& sealedRequest);
  // The five header lines of every request, in the order they are sent.
  static std::vector<std::string> requestHeaders(const std::string& requestId);
  static bool isValidTransactionId(const std::string& transactionId);
  // A phrase for the log; empty for anything that is not a known HTTP status.
  static std::string getHttpStatusText(std::uint32_t status);

  // Error bodies. readErrorList: the entries sorted by code, highest first; an empty list
  // when the body does not fill as an error list; throws Exception::KvException(9999) for an
  // empty body. mapCloudErrorCode: the result code of a cloud error code, 9999 without a row.
  // getErrorResponse: the result of the first entry that maps (highest code first), the
  // default when none maps, KV_ERROR_COMMUNICATION_FAIL for an empty list.
  static std::vector<Model::Error> readErrorList(std::string body);
  static std::uint16_t mapCloudErrorCode(std::int32_t cloudErrorCode);
  static std::uint16_t getErrorResponse(std::vector<Model::Error> errors, std::uint16_t defaultCode);

  // The result of one exchange of `operation` (code and cloud error code; the request
  // identifier is left empty) and the reply text it hands back. Never throws.
  static Model::KvResult decideOutcome(Operation operation, const Cloud::HttpsResult& exchange, std::string& replyText);

 private:
  Model::KvResult perform(Operation operation, const std::string& method, const std::string& path,
                          const std::string& body, std::string& replyText);
  std::uint32_t connectWithHttpServer(const std::string& path, const std::string& method);

  Cloud::HttpsExchange exchange_;
  CloudDeployment deployment_;
  std::string host_;
  std::string region_;
  std::string environment_;
  std::string requestId_;
};

}  // namespace Korvath
