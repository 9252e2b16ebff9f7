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
  registry.values = {
      {"DesktopLogonHostPrefix", ""}, {"PolicyHostPrefix", ""}, {"DomainSuffix", ""}, {"Port", std::to_string(port)}};
  Korvath::Platform::setAgentRegistry(&registry);
  // What each operation makes of the failure is one decision for all (RESTClientLogicTest); a
  // refused chain is a TLS failure, 5114, where a connection that nothing answers would be 5124.
  RESTClient client("localhost", "prod");
  std::string out;
  const KvResult result = client.postConfig(CloudTest::kAccountId, CloudTest::kResourceId, CloudTest::seal("{}"), out);
  EXPECT_EQ(result.getResultCode(), 5114);
  EXPECT_EQ(result.getCloudErrorCode(), 0);
  EXPECT_EQ(out, "");
  Korvath::Platform::setAgentRegistry(nullptr);
}
