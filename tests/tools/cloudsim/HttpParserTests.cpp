#include "Http.h"

#include <gtest/gtest.h>

using CloudSim::Http::HeadStatus;
using CloudSim::Http::parseHead;
using CloudSim::Http::Request;

TEST(CloudSimHttp, KeepsHeadersInWireOrderWithDuplicates) {
  Request r;
  ASSERT_EQ(HeadStatus::Ok,
            parseHead("POST /a?b=1 HTTP/1.1\r\nZeta: 1\r\nalpha:2 \r\nZeta: 3\r\nContent-Length: 4", r));
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("/a?b=1", r.target);
  const std::vector<std::pair<std::string, std::string>> headers = {
      {"Zeta", "1"}, {"alpha", "2"}, {"Zeta", "3"}, {"Content-Length", "4"}};
  EXPECT_EQ(headers, r.headers);
  EXPECT_EQ(4u, r.contentLength);
  EXPECT_EQ("/a", CloudSim::Http::pathOf(r.target));
}

// Malformed heads are refused as bad requests; chunked bodies, other versions and lengths over
// 1 MiB as what the simulator does not serve.
TEST(CloudSimHttp, RefusesMalformedOrUnservedHeads) {
  const HeadStatus bad = HeadStatus::Bad;
  const std::pair<const char*, HeadStatus> rows[] = {
      {"GET /x HTTP/1.1\r\n folded: value", bad},  // obsolete line folding
      {"GET /x HTTP/1.1\r\nName : value", bad},    // blank before the colon
      {"GET /x HTTP/1.1\r\nNo colon here", bad},
      {"GET x HTTP/1.1", bad},    // target must begin with '/'
      {"GET /x  HTTP/1.1", bad},  // two blanks
      {"GET /x HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2", bad},
      {"GET /x HTTP/1.1\r\nContent-Length: -1", bad},
      {"GET /x HTTP/1.1\r\nA: b\nC: d", bad},  // bare LF
      {"GET /x FOO/1.1", bad},
      {"POST /x HTTP/1.1\r\nTransfer-Encoding: chunked", HeadStatus::Unsupported},
      {"GET /x HTTP/2.0", HeadStatus::Unsupported},
      {"POST /x HTTP/1.1\r\nContent-Length: 1048577", HeadStatus::TooLarge},
      {"POST /x HTTP/1.1\r\nContent-Length: 99999999999999999999", HeadStatus::TooLarge},
      {"POST /x HTTP/1.1\r\nContent-Length: 1048576", HeadStatus::Ok},
  };
  for (const auto& row : rows) {
    Request r;
    EXPECT_EQ(row.second, parseHead(row.first, r)) << row.first;
  }
}
