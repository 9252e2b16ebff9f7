// The control API under /_sim/: tests reset the simulator, read what it received and
// program replies and faults. Its own requests are never recorded.

#include "BusinessRoutes.h"
#include "Dispatch.h"
#include "Json.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>

namespace CloudSim {
namespace {

constexpr unsigned kMaxDelayMs = 600000;

Response ok() { return {false, 200, "{\"ok\":true}"}; }
Response refuse(const std::string& why) { return {false, 400, Json::controlError(why)}; }

bool knownRoute(const std::string& route) {
  const std::vector<std::string>& names = routeNames();
  return std::find(names.begin(), names.end(), route) != names.end();
}

bool parseObject(const std::string& body, rapidjson::Document& doc, std::string& why) {
  if (!Json::parseObject(body, doc)) {
    why = "the body must be a JSON object of at most " + std::to_string(Json::kMaxDepth) + " levels";
    return false;
  }
  return true;
}

bool readRoute(const rapidjson::Document& doc, bool allowAll, std::string& route, std::string& why) {
  auto it = doc.FindMember("route");
  if (it == doc.MemberEnd() || !it->value.IsString()) {
    why = "\"route\" must be a string";
    return false;
  }
  route.assign(it->value.GetString(), it->value.GetStringLength());
  if (!knownRoute(route) && !(allowAll && route == "*")) {
    why = "unknown route \"" + route + "\"";
    return false;
  }
  return true;
}

// Optional unsigned member; false (with why) when present but not a number in range.
bool readUnsigned(const rapidjson::Document& doc, const char* name, unsigned max, unsigned& out, std::string& why) {
  auto it = doc.FindMember(name);
  if (it == doc.MemberEnd()) return true;
  if (!it->value.IsUint() || it->value.GetUint() > max) {
    why = std::string("\"") + name + "\" must be a number from 0 to " + std::to_string(max);
    return false;
  }
  out = it->value.GetUint();
  return true;
}

bool readStatus(const rapidjson::Document& doc, int& status, std::string& why) {
  auto it = doc.FindMember("status");
  if (it == doc.MemberEnd()) return true;
  if (!it->value.IsInt() || it->value.GetInt() < 100 || it->value.GetInt() > 599) {
    why = "\"status\" must be an HTTP status from 100 to 599";
    return false;
  }
  status = it->value.GetInt();
  return true;
}

Response programReply(State& state, const std::string& body) {
  rapidjson::Document doc;
  std::string why;
  ProgrammedReply reply;
  if (!parseObject(body, doc, why) || !readRoute(doc, false, reply.route, why) ||
      !readStatus(doc, reply.status, why) || !readUnsigned(doc, "count", 1000000, reply.count, why)) {
    return refuse(why);
  }
  auto json = doc.FindMember("json");
  if (json != doc.MemberEnd()) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
    json->value.Accept(writer);
    reply.json.assign(buffer.GetString(), buffer.GetSize());
  }
  state.addReply(reply);
  return ok();
}

Response programFault(State& state, const std::string& body) {
  rapidjson::Document doc;
  std::string why;
  Fault fault;
  if (!parseObject(body, doc, why) || !readRoute(doc, true, fault.route, why) ||
      !readStatus(doc, fault.status, why) || !readUnsigned(doc, "delayMs", kMaxDelayMs, fault.delayMs, why) ||
      !readUnsigned(doc, "count", 1000000, fault.count, why)) {
    return refuse(why);
  }
  auto raw = doc.FindMember("body");
  if (raw != doc.MemberEnd()) {
    if (!raw->value.IsString()) return refuse("\"body\" must be a string");
    fault.hasBody = true;
    fault.body.assign(raw->value.GetString(), raw->value.GetStringLength());
  }
  auto close = doc.FindMember("close");
  if (close != doc.MemberEnd()) {
    if (!close->value.IsBool()) return refuse("\"close\" must be true or false");
    fault.close = close->value.GetBool();
  }
  state.addFault(fault);
  return ok();
}

}  // namespace

Response handleControl(State& state, const Http::Request& request, const std::string& path) {
  struct Op {
    const char* path;
    const char* method;
  };
  static const Op ops[] = {{"/_sim/reset", "POST"}, {"/_sim/requests", "GET"}, {"/_sim/reply", "POST"},
                           {"/_sim/fault", "POST"}, {"/_sim/push", "POST"}, {"/_sim/pushes", "GET"}};
  for (const Op& op : ops) {
    if (path != op.path) continue;
    if (request.method != op.method) {
      return {false, 405, Json::controlError(std::string("use ") + op.method)};
    }
    if (path == "/_sim/reset") {
      state.reset();
      return ok();
    }
    if (path == "/_sim/requests") return {false, 200, state.requestsJson()};
    if (path == "/_sim/reply") return programReply(state, request.body);
    if (path == "/_sim/push") return programPush(state, request.body);
    if (path == "/_sim/pushes") return pushesJson(state);
    return programFault(state, request.body);
  }
  return {false, 404, Json::controlError("no such control operation")};
}

}  // namespace CloudSim
