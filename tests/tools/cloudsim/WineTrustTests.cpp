// Windows flavour: WinHTTP (under Wine) reaches the native simulator of the CTest
// fixture with certificate verification on, trusting the test CA through the host store,
// and the simulator records WinHTTP's headers in the order they were added.

#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

int simulatorPort() {
  const char* file = std::getenv("KV_CLOUDSIM_PORT_FILE");
  if (file == nullptr) return 0;
  std::ifstream in(file);
  int port = 0;
  in >> port;
  return port;
}

struct Reply {
  DWORD error = 0;
  DWORD status = 0;
  std::string body;
};

Reply send(const wchar_t* method, const std::wstring& path, const std::vector<std::wstring>& headers,
           const std::string& body) {
  Reply reply;
  HINTERNET session = WinHttpOpen(L"cloudsim-test", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY, WINHTTP_NO_PROXY_NAME,
                                  WINHTTP_NO_PROXY_BYPASS, 0);
  DWORD protocols = WINHTTP_FLAG_SECURE_PROTOCOL_TLS1_2;
  HINTERNET connect = nullptr;
  HINTERNET request = nullptr;
  bool ok = session != nullptr &&
            WinHttpSetOption(session, WINHTTP_OPTION_SECURE_PROTOCOLS, &protocols, sizeof protocols) &&
            (connect = WinHttpConnect(session, L"localhost", static_cast<INTERNET_PORT>(simulatorPort()), 0)) &&
            (request = WinHttpOpenRequest(connect, method, path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                          WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
  for (const std::wstring& h : headers) {
    ok = ok && WinHttpAddRequestHeaders(request, h.c_str(), static_cast<DWORD>(-1L), WINHTTP_ADDREQ_FLAG_ADD);
  }
  ok = ok &&
       WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0,
                          body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(body.data()),
                          static_cast<DWORD>(body.size()), static_cast<DWORD>(body.size()), 0) &&
       WinHttpReceiveResponse(request, nullptr);
  if (ok) {
    DWORD size = sizeof reply.status;
    WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                        &reply.status, &size, WINHTTP_NO_HEADER_INDEX);
    DWORD available = 0;
    while (WinHttpQueryDataAvailable(request, &available) && available > 0) {
      std::string chunk(available, '\0');
      DWORD read = 0;
      if (!WinHttpReadData(request, &chunk[0], available, &read)) break;
      reply.body.append(chunk.data(), read);
    }
  } else {
    reply.error = GetLastError();
  }
  if (request) WinHttpCloseHandle(request);
  if (connect) WinHttpCloseHandle(connect);
  if (session) WinHttpCloseHandle(session);
  return reply;
}

TEST(CloudSimUnderWine, WinHttpVerifiesTheSimulatorThroughTheHostStore) {
  ASSERT_NE(0, simulatorPort()) << "KV_CLOUDSIM_PORT_FILE not readable";
  Reply reset = send(L"POST", L"/_sim/reset", {}, "");
  ASSERT_EQ(0u, reset.error);
  EXPECT_EQ(200u, reset.status);
  EXPECT_EQ("{\"ok\":true}", reset.body);
}

TEST(CloudSimUnderWine, RecordsWinHttpHeadersInTheOrderAdded) {
  ASSERT_EQ(200u, send(L"POST", L"/_sim/reset", {}, "").status);
  const std::vector<std::wstring> headers = {L"Request-Id: wine-1", L"charset: UTF-8", L"Cache-Control: no-cache",
                                             L"Accept: application/json", L"Content-Type: application/json"};
  Reply config = send(L"POST", L"/desktoplogon/accounts/AC1000000001/resources/4242/config", headers,
                      "{\"data\":\"not sealed\"}");
  ASSERT_EQ(0u, config.error);
  EXPECT_EQ(400u, config.status);

  Reply records = send(L"GET", L"/_sim/requests", {}, "");
  ASSERT_EQ(200u, records.status);
  rapidjson::Document doc;
  doc.Parse(records.body.c_str());
  ASSERT_TRUE(doc.IsArray() && doc.Size() == 1) << records.body;
  std::vector<std::string> names;
  for (const auto& h : doc[0]["headers"].GetArray()) {
    std::string name = h[0].GetString();
    for (const char* wanted : {"Request-Id", "charset", "Cache-Control", "Accept", "Content-Type"}) {
      if (name == wanted) names.push_back(name + ": " + h[1].GetString());
    }
  }
  const std::vector<std::string> expected = {"Request-Id: wine-1", "charset: UTF-8", "Cache-Control: no-cache",
                                             "Accept: application/json", "Content-Type: application/json"};
  EXPECT_EQ(expected, names) << records.body;
  EXPECT_STREQ("{\"data\":\"not sealed\"}", doc[0]["body"].GetString());
}

}  // namespace
