// The cloud routes of both APIs: matching, recording, faults and checks, then the route's
// handler (BusinessRoutes.h). Routes without business behaviour yet answer with the
// programmed reply or an empty object, sealed.

#include "BusinessRoutes.h"
#include "Dispatch.h"
#include "Json.h"

#include <CryptoSdk/SecurityService.h>

#include "Korvath/Model/ResponseData.h"

#include <vector>

namespace CloudSim {
namespace {

using Handler = Response (*)(RouteContext&);

// The transaction and authentication routes serve every factor; each factor's behaviour
// lives in its area's file. A body that is not the operation's request gets {} sealed.
Response handleTransaction(RouteContext& ctx) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;
  Korvath::Model::RequestTransaction request;
  if (request.fillFromJson(ctx.openedJson) != 0) return sealedJson(ctx, 200, "{}");
  if (request.getAuthenticationFactor() == "PUSH") return handlePushTransaction(ctx, request);
  if (request.getAuthenticationFactor() == "QRCODE") return handleQrTransaction(ctx, request);
  return sealedJson(ctx, 200, "{}");
}

Response handleAuthentication(RouteContext& ctx) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;
  Korvath::Model::RequestAuthentication request;
  if (request.fillFromJson(ctx.openedJson) != 0) return sealedJson(ctx, 200, "{}");
  if (request.getAuthenticationFactor() == "OTP") return handleOtpAuthentication(ctx, request);
  if (request.getAuthenticationFactor() == "QRCODE") return handleQrAuthentication(ctx, request);
  return sealedJson(ctx, 200, "{}");
}

struct RouteDef {
  const char* name;
  const char* method;
  Handler handler;
};

// Indexed by RouteId.
const RouteDef kRoutes[] = {
    {"config", "POST", handleConfig},
    {"transaction", "POST", handleTransaction},
    {"authentication", "POST", handleAuthentication},
    {"authenticationcode", "POST", handleAuthenticationCode},
    {"pushresult", "GET", handlePushResult},
    {"policy", "POST", handlePolicy},
    {"policyoffline", "POST", handlePolicyOffline},
};

struct Match {
  int route = -1;
  std::string accountId;
  std::string resourceId;
  std::string transactionId;
};

std::vector<std::string> splitPath(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 1;  // the path begins with '/'
  while (start <= path.size()) {
    std::size_t slash = path.find('/', start);
    if (slash == std::string::npos) slash = path.size();
    parts.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return parts;
}

int routeIndex(const std::string& name) {
  for (std::size_t i = 0; i < sizeof(kRoutes) / sizeof(kRoutes[0]); ++i) {
    if (name == kRoutes[i].name) return static_cast<int>(i);
  }
  return -1;
}

Match matchRoute(const std::string& path) {
  Match m;
  std::vector<std::string> p = splitPath(path);
  for (const std::string& part : p) {
    if (part.empty()) return m;
  }
  // /desktoplogon/accounts/{a}/resources/{r}/<operation>
  if (p.size() == 6 && p[0] == "desktoplogon" && p[1] == "accounts" && p[3] == "resources") {
    if (p[5] == "config" || p[5] == "transaction" || p[5] == "authentication" || p[5] == "authenticationcode") {
      m.route = routeIndex(p[5]);
    }
    m.accountId = p[2];
    m.resourceId = p[4];
  // /v1/desktoplogon/accounts/{a}/resources/{r}/transactions/{t}
  } else if (p.size() == 8 && p[0] == "v1" && p[1] == "desktoplogon" && p[2] == "accounts" &&
             p[4] == "resources" && p[6] == "transactions") {
    m.route = routeIndex("pushresult");
    m.accountId = p[3];
    m.resourceId = p[5];
    m.transactionId = p[7];
  // /v1/accounts/{a}/resources/{r}/policy[/offline]
  } else if (p.size() >= 6 && p.size() <= 7 && p[0] == "v1" && p[1] == "accounts" && p[3] == "resources" &&
             p[5] == "policy") {
    if (p.size() == 6) {
      m.route = routeIndex("policy");
    } else if (p[6] == "offline") {
      m.route = routeIndex("policyoffline");
    }
    m.accountId = p[2];
    m.resourceId = p[4];
  }
  return m;
}

}  // namespace

Response sealedJson(RouteContext& ctx, int status, const std::string& json) {
  std::string sealed;
  std::uint16_t code = CryptoSdk::AgentSecurityService::seal(ctx.account.requestKey, json, sealed);
  if (code != 0 || sealed.empty()) {
    return {false, 500, Json::errorList(201005002, "The reply could not be sealed")};
  }
  Korvath::Model::ResponseData envelope;
  envelope.setData(sealed);
  return {false, status, envelope.toJson()};
}

bool takeProgrammedReply(RouteContext& ctx, Response& out) {
  ProgrammedReply reply;
  if (!ctx.state.takeReply(ctx.route, reply)) return false;
  out = sealedJson(ctx, reply.status, reply.json);
  return true;
}

Response sealedReply(RouteContext& ctx, int status, const std::string& json) {
  Response programmed;
  if (takeProgrammedReply(ctx, programmed)) return programmed;
  return sealedJson(ctx, status, json);
}

const std::vector<std::string>& routeNames() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const RouteDef& def : kRoutes) out.push_back(def.name);
    return out;
  }();
  return names;
}

Response handleCloud(State& state, const Http::Request& request, const std::string& path,
                     const std::function<bool()>& clientGone) {
  const unsigned generation = state.generation();
  const Match match = matchRoute(path);
  const AccountState* account = match.route >= 0 ? state.findAccount(match.accountId, match.resourceId) : nullptr;
  const bool wantsBody = match.route >= 0 && std::string(kRoutes[match.route].method) == "POST";

  RecordedRequest record;
  record.method = request.method;
  record.path = request.target;
  record.headers = request.headers;
  record.body = request.body;
  if (account != nullptr && wantsBody && request.method == "POST") {
    Korvath::Model::ResponseData envelope;
    std::string plain;
    if (envelope.fillFromJson(request.body) == 0 &&
        CryptoSdk::AgentSecurityService::open(account->requestKey, envelope.getData(), plain) == 0) {
      record.opened = true;
      record.openedJson = plain;
    }
  }
  const bool opened = record.opened;
  const std::string openedJson = record.openedJson;
  state.record(std::move(record));

  if (match.route < 0) return {false, 404, Json::errorList(404, "No such route")};
  const RouteDef& def = kRoutes[match.route];
  const std::string route = def.name;

  Fault fault;
  if (state.takeFault(route, fault)) {
    if (fault.delayMs != 0) {
      if (!state.waitUnlessStopping(std::chrono::milliseconds(fault.delayMs))) return {true, 0, {}};
      // Nobody to answer, or the test that sent it is over: handling it now would only use
      // up replies programmed for later requests.
      if (clientGone() || state.generation() != generation) return {true, 0, {}};
    }
    if (fault.close) return {true, 0, {}};
    if (fault.status != 0 || fault.hasBody) {
      return {false, fault.status != 0 ? fault.status : 200, fault.body};
    }
  }

  if (request.method != def.method) {
    return {false, 405, Json::errorList(405, "Method not allowed")};
  }
  if (account == nullptr) return {false, 404, Json::errorList(201005012, "Resource not found")};
  if (wantsBody && !opened) {
    return {false, 400, Json::errorList(201005002, "Request body could not be opened")};
  }
  RouteContext ctx{state, request, *account, route, openedJson, match.transactionId};
  return def.handler(ctx);
}

}  // namespace CloudSim
