// A simulator whose certificate comes from a CA that nobody trusts: every operation fails.

#include <gtest/gtest.h>

#include <string>

#include "CloudTestSupport.h"
#include "Korvath/RESTClient.h"

using Korvath::RESTClient;
using Korvath::Model::KvResult;

TEST(CloudUntrusted, UntrustedCertificateIsNeverSuccess) {
  const std::uint16_t port = CloudTest::portFromFileNamedBy("KV_CLOUDSIM_PORT_FILE");
  ASSERT_NE(port, 0) << "KV_CLOUDSIM_PORT_FILE does not name a port file";
  CloudTest::MapRegistry registry;
  registry.values = {{"DesktopLogonHostPrefix", ""}, {"PolicyHostPrefix", ""}, {"DomainSuffix", ""},
                     {"Port", std::to_string(port)}};
  Korvath::Platform::setAgentRegistry(&registry);
  {
    RESTClient client("localhost", "prod");
    const std::string sealed = CloudTest::seal("{}");
    const std::string a = CloudTest::kAccountId;
    const std::string r = CloudTest::kResourceId;
    std::string out[7];
    const KvResult results[] = {
        client.postConfig(a, r, sealed, out[0]),
        client.postTransaction(a, r, sealed, out[1]),
        client.postAuthentication(a, r, sealed, out[2]),
        client.postForgotTokenAuthenticationCode(a, r, sealed, out[3]),
        client.getPushResult(a, r, "0f8fad5b-d9cb-469f-a165-70867728950e", out[4]),
        client.postGetUserPolicy(a, r, sealed, out[5]),
        client.postGetUserPolicyOffline(a, r, sealed, out[6]),
    };
    for (int i = 0; i < 7; ++i) {
      EXPECT_EQ(results[i].getResultCode(), 5114) << i;
      EXPECT_EQ(results[i].getCloudErrorCode(), 0) << i;
      EXPECT_EQ(out[i], "") << i;
    }
  }
  // The same exchange fails at the transport, as a TLS failure (WinHTTP under Wine reports
  // the refused chain as a secure-channel error).
  Korvath::Cloud::HttpsExchange exchange;
  ASSERT_EQ(exchange.open("localhost", port, "POST", "/_sim/reset", {"Content-Type: application/json"}), 0u);
  const Korvath::Cloud::HttpsResult result = exchange.sendAndReceive("{}");
  EXPECT_FALSE(result.answered());
  EXPECT_TRUE(result.transportError == Korvath::Cloud::kHttpsErrorSecureFailure ||
              result.transportError == Korvath::Cloud::kHttpsErrorSecureChannel)
      << result.transportError;
  Korvath::Platform::setAgentRegistry(nullptr);
}
