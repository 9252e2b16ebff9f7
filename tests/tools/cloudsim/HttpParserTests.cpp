#include "Http.h"

#include <gtest/gtest.h>

using CloudSim::Http::HeadStatus;
using CloudSim::Http::Request;
using CloudSim::Http::parseHead;

TEST(CloudSimHttp, KeepsHeadersInWireOrderWithDuplicates) {
  Request r;
  ASSERT_EQ(HeadStatus::Ok, parseHead("POST /a?b=1 HTTP/1.1\r\nZeta: 1\r\nalpha:2 \r\nZeta: 3\r\nContent-Length: 4", r));
  EXPECT_EQ("POST", r.method);
  EXPECT_EQ("/a?b=1", r.target);
  ASSERT_EQ(4u, r.headers.size());
  EXPECT_EQ((std::pair<std::string, std::string>("Zeta", "1")), r.headers[0]);
  EXPECT_EQ((std::pair<std::string, std::string>("alpha", "2")), r.headers[1]);
  EXPECT_EQ((std::pair<std::string, std::string>("Zeta", "3")), r.headers[2]);
  EXPECT_EQ(4u, r.contentLength);
  EXPECT_EQ("/a", CloudSim::Http::pathOf(r.target));
}

TEST(CloudSimHttp, RefusesMalformedHeads) {
  const char* bad[] = {
      "GET /x HTTP/1.1\r\n folded: value",               // obsolete line folding
      "GET /x HTTP/1.1\r\nName : value",                 // blank before the colon
      "GET /x HTTP/1.1\r\nNo colon here",
      "GET x HTTP/1.1",                                  // target must begin with '/'
      "GET /x  HTTP/1.1",                                // two blanks
      "GET /x HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2",
      "GET /x HTTP/1.1\r\nContent-Length: -1",
      "GET /x HTTP/1.1\r\nA: b\nC: d",                   // bare LF
      "GET /x FOO/1.1",
  };
  for (const char* head : bad) {
    Request r;
    EXPECT_EQ(HeadStatus::Bad, parseHead(head, r)) << head;
  }
}

TEST(CloudSimHttp, RefusesChunkedBodiesOtherVersionsAndHugeLengths) {
  Request r1;
  EXPECT_EQ(HeadStatus::Unsupported, parseHead("POST /x HTTP/1.1\r\nTransfer-Encoding: chunked", r1));
  Request r2;
  EXPECT_EQ(HeadStatus::Unsupported, parseHead("GET /x HTTP/2.0", r2));
  Request r3;
  EXPECT_EQ(HeadStatus::TooLarge, parseHead("POST /x HTTP/1.1\r\nContent-Length: 1048577", r3));
  Request r4;
  EXPECT_EQ(HeadStatus::TooLarge, parseHead("POST /x HTTP/1.1\r\nContent-Length: 99999999999999999999", r4));
  Request r5;
  EXPECT_EQ(HeadStatus::Ok, parseHead("POST /x HTTP/1.1\r\nContent-Length: 1048576", r5));
}
