#include "Korvath/RESTClient.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <exception>

#include "Korvath/Logger.h"
#include "Korvath/Model/ResponseData.h"
#include "Korvath/Platform.h"
#include "Korvath/RequestId.h"
#include "Korvath/ResultCodes.h"

namespace Korvath {

const char* const CloudDeployment::kDefaultDesktopLogonHostPrefix = "desktoplogon.";
const char* const CloudDeployment::kDefaultPolicyHostPrefix = "policy.";
const char* const CloudDeployment::kDefaultDomainSuffix = ".cloud.example";

namespace {

struct OperationTraits {
  const char* name;
  const char* pathEnd;
  std::uint16_t preset;
  std::uint16_t errorDefault;
  const char* errorLabel;  // null: the error path logs no label
  bool policy;
};

const OperationTraits& traitsOf(RESTClient::Operation operation) {
  static const OperationTraits traits[] = {
      {"Korvath::RESTClient::postConfig", "/config", KV_ERROR_REST_CLIENT_POST_CONFIG, KV_ERROR_REST_CLIENT_POST_CONFIG,
       "ERROR_FAIL_REQUEST_CONFIG", false},
      {"Korvath::RESTClient::postTransaction", "/transaction", KV_ERROR_REST_CLIENT_POST_TRANSACTION,
       KV_ERROR_FAIL_REQUEST_TRANSACTION, "ERROR_FAIL_REQUEST_TRANSACTION", false},
      {"Korvath::RESTClient::postAuthentication", "/authentication", KV_ERROR_REST_CLIENT_POST_AUTHENTICATION,
       KV_ERROR_FAIL_REQUEST_AUTHENTICATION, "ERROR_FAIL_REQUEST_AUTHENTICATION", false},
      {"Korvath::RESTClient::postForgotTokenAuthenticationCode", "/authenticationcode",
       KV_ERROR_REST_CLIENT_POST_AUTHENTICATION_CODE, KV_ERROR_FAIL_REQUEST_AUTHENTICATION,
       "ERROR_FAIL_REQUEST_AUTHENTICATION", false},
      {"Korvath::RESTClient::getPushResult", "/transactions/", KV_ERROR_REST_CLIENT_GET_PUSH_RESULT,
       KV_ERROR_FAIL_REQUEST_PUSH_RESULT, nullptr, false},
      {"Korvath::RESTClient::postGetUserPolicy", "/policy", KV_ERROR_REST_CLIENT_POST_GET_USER_POLICY,
       KV_ERROR_FAIL_REQUEST_GET_USER_POLICY, "ERROR_FAIL_REQUEST_GET_USER_POLICY", true},
      {"Korvath::RESTClient::postGetUserPolicyOffline", "/policy/offline", KV_ERROR_REST_CLIENT_POST_GET_USER_POLICY,
       KV_ERROR_FAIL_REQUEST_GET_USER_POLICY, "ERROR_FAIL_REQUEST_GET_USER_POLICY", true},
  };
  return traits[static_cast<int>(operation)];
}

bool isSuccessStatus(RESTClient::Operation operation, std::uint32_t status) {
  return status == 200 || (status == 201 && operation == RESTClient::Operation::PostTransaction);
}

std::string desktopLogonPath(const std::string& accountId, const std::string& resourceId, const char* end) {
  return std::string("/desktoplogon/") + "accounts/" + accountId + "/resources/" + resourceId + end;
}

std::string policyPath(const std::string& accountId, const std::string& resourceId, const char* end) {
  return std::string("/v1/") + "accounts/" + accountId + "/resources/" + resourceId + end;
}

// The error list of a body, for the client: an empty or unreadable body is an empty list
// rather than an exception.
std::vector<Model::Error> errorListOf(const std::string& body) {
  if (body.empty()) {
    return {};
  }
  try {
    return RESTClient::readErrorList(body);
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", "Korvath::RESTClient::readErrorList", e.what());
    return {};
  }
}

}  // namespace

CloudDeployment CloudDeployment::fromAgentRegistry() {
  CloudDeployment deployment;
  Platform::IRegistry& registry = Platform::agentRegistry();
  std::string value;
  if (registry.getString("DesktopLogonHostPrefix", value)) deployment.desktopLogonHostPrefix = value;
  if (registry.getString("PolicyHostPrefix", value)) deployment.policyHostPrefix = value;
  if (registry.getString("DomainSuffix", value)) deployment.domainSuffix = value;
  if (registry.getString("Port", value)) {
    unsigned long port = 0;
    bool digits = !value.empty() && value.size() <= 5;
    for (char c : value) {
      if (c < '0' || c > '9') {
        digits = false;
        break;
      }
      port = port * 10 + static_cast<unsigned long>(c - '0');
    }
    if (digits && port >= 1 && port <= 65535) {
      deployment.port = static_cast<std::uint16_t>(port);
    } else {
      KV_LOG_ERROR("%s - ignoring the registry value Port: %s", "Korvath::CloudDeployment::fromAgentRegistry",
                   value.c_str());
    }
  }
  return deployment;
}

RESTClient::RESTClient(std::string region, std::string environment)
    : deployment_(CloudDeployment::fromAgentRegistry()),
      region_(std::move(region)),
      environment_(std::move(environment)),
      requestId_(ensureRequestId()) {
  host_ = buildHost(environment_, deployment_.desktopLogonHostPrefix, region_, deployment_.domainSuffix);
  KV_LOG_DEBUG("strURL: %s", host_.c_str());
}

RESTClient::~RESTClient() { exchange_.close(); }

std::string RESTClient::buildHost(const std::string& environment, const std::string& prefix, const std::string& region,
                                  const std::string& suffix) {
  std::string host;
  if (environment != "prod") {
    host = environment + ".";
  }
  return host + prefix + region + suffix;
}

void RESTClient::setupGetUserPolicyUrl() {
  host_ = buildHost(environment_, deployment_.policyHostPrefix, region_, deployment_.domainSuffix);
  KV_LOG_DEBUG("strURL: %s", host_.c_str());
}

std::string RESTClient::wrapDataBody(const std::string& sealedRequest) {
  Model::ResponseData envelope;
  envelope.setData(sealedRequest);
  return envelope.toJson();
}

std::vector<std::string> RESTClient::requestHeaders(const std::string& requestId) {
  return {"Request-Id: " + requestId, "charset: UTF-8", "Cache-Control: no-cache", "Accept: application/json",
          "Content-Type: application/json"};
}

bool RESTClient::isValidTransactionId(const std::string& transactionId) {
  if (transactionId.size() != 36) return false;
  for (char c : transactionId) {
    const bool ok = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-';
    if (!ok) return false;
  }
  return true;
}

std::uint32_t RESTClient::connectWithHttpServer(const std::string& path, const std::string& method) {
  return exchange_.open(host_, deployment_.port, method, path, requestHeaders(requestId_));
}

Model::KvResult RESTClient::decideOutcome(Operation operation, const Cloud::HttpsResult& exchange,
                                          std::string& replyText) {
  const OperationTraits& traits = traitsOf(operation);
  Model::KvResult result(traits.preset);
  replyText = exchange.body;

  if (!exchange.answered()) {
    switch (exchange.transportError) {
      case Cloud::kHttpsErrorTimeout:
        KV_LOG_ERROR("MS Error: 12002 (ERROR_INTERNET_TIMEOUT)");
        result.setResultCode(KV_ERROR_NO_INTERNET_ACCESS);
        return result;
      case 183:
        KV_LOG_ERROR("MS Error: 183");
        result.setResultCode(KV_ERROR_NO_INTERNET_ACCESS);
        return result;
      case Cloud::kHttpsErrorCannotConnect:
        KV_LOG_ERROR("MS Error: 12029 (ERROR_INTERNET_CANNOT_CONNECT)");
        result.setResultCode(KV_ERROR_NO_INTERNET_ACCESS);
        return result;
      case Cloud::kHttpsErrorInvalidUrl:
        KV_LOG_ERROR("MS Error: 12005 (ERROR_INTERNET_INVALID_URL)");
        result.setResultCode(KV_ERROR_SERVER_IS_UNREACHABLE);
        return result;
      case Cloud::kHttpsErrorNameNotResolved:
        KV_LOG_ERROR("MS Error: 12007 (ERROR_INTERNET_NAME_NOT_RESOLVED)");
        result.setResultCode(KV_ERROR_INTERNET_NAME_NOT_RESOLVED);
        return result;
      default:
        break;  // the error path, below
    }
  } else {
    const std::uint32_t status = exchange.httpStatus;
    if (isSuccessStatus(operation, status)) {
      if (exchange.body.find("\"status\": \"error\"") != std::string::npos) {
        KV_LOG_ERROR("%s - error status in a successful reply: %s", traits.name, exchange.body.c_str());
        result.setResultCode(KV_ERROR_SERVER_IS_UNREACHABLE);
        return result;
      }
      if (operation == Operation::GetPushResult) {
        result.setResultCode(KV_SUCCESS);
        return result;
      }
      Model::ResponseData envelope;
      if (envelope.fillFromJson(exchange.body) != KV_SUCCESS) {
        KV_LOG_ERROR("HTTP 200(family) with an invalid payload");
        result.setResultCode(KV_ERROR_SERVER_IS_UNREACHABLE);
        return result;
      }
      replyText = envelope.getData();
      result.setResultCode(KV_SUCCESS);
      return result;
    }
    if (status == 202 && operation == Operation::GetPushResult) {
      result.setResultCode(KV_ERROR_WAITING_PUSH_RESULT);
      return result;
    }
    if (traits.policy && (status == 400 || status == 401 || status == 404)) {
      const std::vector<Model::Error> errors = errorListOf(exchange.body);
      if (errors.empty()) {
        KV_LOG_ERROR("%s - no error list in the reply", traits.name);
        result.setResultCode(KV_ERROR_COMMUNICATION_FAIL);
        return result;
      }
      result.setCloudErrorCode(errors.front().getCode());
      result.setResultCode(mapCloudErrorCode(errors.front().getCode()));
      return result;
    }
  }

  // Error path: the reply's error list decides, the operation's default when no code is known.
  if (traits.errorLabel != nullptr) {
    KV_LOG_ERROR("%s", traits.errorLabel);
  }
  const std::vector<Model::Error> errors = errorListOf(exchange.body);
  if (!errors.empty()) {
    result.setCloudErrorCode(errors.front().getCode());
  }
  result.setResultCode(getErrorResponse(errors, traits.errorDefault));
  return result;
}

Model::KvResult RESTClient::perform(Operation operation, const std::string& method, const std::string& path,
                                    const std::string& body, std::string& replyText) {
  const OperationTraits& traits = traitsOf(operation);
  Model::KvResult result(traits.preset);
  try {
    KV_LOG_DEBUG("%s - path: %s", traits.name, path.c_str());
    Cloud::HttpsResult exchange;
    const std::uint32_t setup = connectWithHttpServer(path, method);
    if (setup != Cloud::kHttpsNoError) {
      exchange.transportError = setup;
    } else {
      exchange = exchange_.sendAndReceive(body);
    }
    if (exchange.answered()) {
      KV_LOG_DEBUG("%s - HTTP status: %u %s", traits.name, exchange.httpStatus,
                   getHttpStatusText(exchange.httpStatus).c_str());
    } else {
      KV_LOG_ERROR("%s - transport error: %u", traits.name, exchange.transportError);
    }
    KV_LOG_DEBUG("%s - response: %s", traits.name, exchange.body.c_str());
    result = decideOutcome(operation, exchange, replyText);
  } catch (const std::exception& e) {
    KV_LOG_ERROR("%s - exception - e.what(): %s", traits.name, e.what());
    result = Model::KvResult(traits.preset);
  }
  result.setRequestId(requestId_);
  KV_LOG_DEBUG("%s - reply: %s", traits.name, replyText.c_str());
  KV_LOG_INFO("result code: %d", result.getResultCode());
  KV_LOG_INFO("cloud error code: %d", result.getCloudErrorCode());
  KV_LOG_INFO("request-id = %s", requestId_.c_str());
  return result;
}

Model::KvResult RESTClient::postConfig(const std::string& accountId, const std::string& resourceId,
                                       const std::string& sealedRequest, std::string& replyText) {
  return perform(Operation::PostConfig, "POST", desktopLogonPath(accountId, resourceId, "/config"),
                 wrapDataBody(sealedRequest), replyText);
}

Model::KvResult RESTClient::postTransaction(const std::string& accountId, const std::string& resourceId,
                                            const std::string& sealedRequest, std::string& replyText) {
  return perform(Operation::PostTransaction, "POST", desktopLogonPath(accountId, resourceId, "/transaction"),
                 wrapDataBody(sealedRequest), replyText);
}

Model::KvResult RESTClient::postAuthentication(const std::string& accountId, const std::string& resourceId,
                                               const std::string& sealedRequest, std::string& replyText) {
  return perform(Operation::PostAuthentication, "POST", desktopLogonPath(accountId, resourceId, "/authentication"),
                 wrapDataBody(sealedRequest), replyText);
}

Model::KvResult RESTClient::postForgotTokenAuthenticationCode(const std::string& accountId,
                                                              const std::string& resourceId,
                                                              const std::string& sealedRequest,
                                                              std::string& replyText) {
  return perform(Operation::PostForgotTokenAuthenticationCode, "POST",
                 desktopLogonPath(accountId, resourceId, "/authenticationcode"), wrapDataBody(sealedRequest),
                 replyText);
}

Model::KvResult RESTClient::getPushResult(const std::string& accountId, const std::string& resourceId,
                                          const std::string& transactionId, std::string& replyText) {
  if (!isValidTransactionId(transactionId)) {
    // Refused before anything is sent: the identifier becomes part of the path.
    KV_LOG_ERROR("%s - invalid transaction identifier (%d characters)", "Korvath::RESTClient::getPushResult",
                 static_cast<int>(transactionId.size()));
    replyText.clear();
    Model::KvResult result(KV_ERROR_REST_CLIENT_GET_PUSH_RESULT);
    result.setRequestId(requestId_);
    return result;
  }
  return perform(Operation::GetPushResult, "GET",
                 "/v1" + desktopLogonPath(accountId, resourceId, "/transactions/") + transactionId, std::string(),
                 replyText);
}

Model::KvResult RESTClient::postGetUserPolicy(const std::string& accountId, const std::string& resourceId,
                                              const std::string& sealedRequest, std::string& replyText) {
  setupGetUserPolicyUrl();
  return perform(Operation::PostGetUserPolicy, "POST", policyPath(accountId, resourceId, "/policy"),
                 wrapDataBody(sealedRequest), replyText);
}

Model::KvResult RESTClient::postGetUserPolicyOffline(const std::string& accountId, const std::string& resourceId,
                                                     const std::string& sealedRequest, std::string& replyText) {
  setupGetUserPolicyUrl();
  return perform(Operation::PostGetUserPolicyOffline, "POST", policyPath(accountId, resourceId, "/policy/offline"),
                 wrapDataBody(sealedRequest), replyText);
}

std::string RESTClient::getHttpStatusText(std::uint32_t status) {
  switch (status) {
    case 100: return "OK to continue with request";
    case 101: return "server has switched protocols in upgrade header";
    case 200: return "request completed";
    case 201: return "object created, reason = new URI";
    case 202: return "async completion (TBS)";
    case 203: return "partial completion";
    case 204: return "no info to return";
    case 205: return "request completed, but clear form";
    case 206: return "partial GET fulfilled";
    case 207: return "WebDAV Multi-Status";
    case 300: return "server couldn't decide what to return";
    case 301: return "object permanently moved";
    case 302: return "object temporarily moved";
    case 303: return "redirection w/ new access method";
    case 304: return "if-modified-since was not modified";
    case 305: return "redirection to proxy, location header specifies proxy to use";
    case 307: return "HTTP/1.1: keep same verb";
    case 308: return "Object permanently moved keep verb";
    case 400: return "invalid syntax";
    case 401: return "access denied";
    case 402: return "payment required";
    case 403: return "request forbidden";
    case 404: return "object not found";
    case 405: return "method is not allowed";
    case 406: return "no response acceptable to client found";
    case 407: return "proxy authentication required";
    case 408: return "server timed out waiting for request";
    case 409: return "user should resubmit with more info";
    case 410: return "the resource is no longer available";
    case 411: return "the server refused to accept request w/o a length";
    case 412: return "precondition given in request failed";
    case 413: return "request entity was too large";
    case 414: return "request URI too long";
    case 415: return "unsupported media type";
    case 449: return "retry after doing the appropriate action.";
    case 500: return "internal server error";
    case 501: return "required not supported";
    case 502: return "error response received from gateway";
    case 503: return "temporarily overloaded";
    case 504: return "timed out waiting for gateway";
    case 505: return "HTTP version not supported";
    default: return std::string();
  }
}

}  // namespace Korvath
