#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "Korvath/KvException.h"
#include "Korvath/RESTClient.h"
#include "Korvath/ResultCodes.h"

using Korvath::RESTClient;
using Korvath::Model::Error;

namespace {

// Every row of the cloud-code table.
const std::vector<std::pair<std::int32_t, std::uint16_t>> kTable = {
    {201005001, 5113}, {201005002, 5114}, {201005003, 5116}, {201005004, 5115}, {201005012, 5108},
    {201015001, 5114}, {201015002, 5114}, {201015003, 5114}, {201015004, 5108}, {201015007, 5039},
    {201015008, 5103}, {201015009, 5105}, {201015010, 5127}, {201015011, 5106}, {201045000, 5114},
    {201045001, 5113}, {201045002, 5113}, {201045003, 5113}, {201045005, 5113}, {201045006, 5113},
    {201045009, 5113}, {201045010, 5113}, {201045004, 5121}, {201045007, 5114}, {201045008, 5116},
    {201055001, 5114}, {201055002, 5114}, {201055003, 5114}, {201055006, 5105}, {201055007, 5103},
    {201055008, 5119}, {201055009, 5106}, {201105001, 5140}, {201105002, 5141}, {201105003, 5108},
    {201105007, 5142}, {201105008, 5143}, {202001001, 5107}, {202001002, 5039}, {202001003, 5113},
    {202001010, 5114}, {202001030, 5114}, {202001031, 5114}, {202001032, 5114}, {202001033, 5114},
    {202001020, 5119}, {202002001, 5107}, {202002002, 5039}, {202002010, 5107}, {202002020, 5107},
    {202002011, 5117}, {202002012, 5113}, {202002021, 5113}, {202002040, 5113}, {202002013, 5114},
    {202002030, 5114}, {202002031, 5114}, {202002032, 5114}, {202006001, 5113}, {202006002, 5105},
    {202006003, 5105}, {202006004, 5103}, {202006005, 5107},
};

}  // namespace

TEST(CloudErrorMapping, EveryRowOfTheTable) {
  EXPECT_EQ(kTable.size(), 63u);
  for (const auto& row : kTable) {
    EXPECT_EQ(RESTClient::mapCloudErrorCode(row.first), row.second) << row.first;
  }
}

TEST(CloudErrorMapping, CodesWithoutARowGive9999) {
  for (std::int32_t code : {201105006, 0, -1, 123, 201005000, 201005005, 202006006, 201045011, 2147483647}) {
    EXPECT_EQ(RESTClient::mapCloudErrorCode(code), 9999) << code;
  }
}

TEST(CloudErrorMapping, ReadErrorListEmptyBodyThrows9999) {
  try {
    RESTClient::readErrorList("");
    FAIL() << "no exception";
  } catch (const Korvath::Exception::KvException& e) {
    EXPECT_EQ(e.code(), 9999);
  }
}

TEST(CloudErrorMapping, ReadErrorListUnreadableBodyGivesEmptyList) {
  // Every refusal of the record is an empty list (the refusals themselves: CloudRecordsTest).
  for (const char* body : {"<html>Bad gateway</html>", R"({"errors":[]})", R"({"errors":[{"code":"12x"}]})"}) {
    EXPECT_TRUE(RESTClient::readErrorList(body).empty()) << body;
  }
}

TEST(CloudErrorMapping, HigherCodeIsLookedAtFirst) {
  auto list = RESTClient::readErrorList(
      R"({"errors":[{"code":"201015008","message":"a"},{"code":"202002011","message":"b"},{"code":"5","message":"c"}]})");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].getCode(), 202002011);
  EXPECT_EQ(list[0].getMessage(), "b");
  EXPECT_EQ(list[1].getCode(), 201015008);
  EXPECT_EQ(list[2].getCode(), 5);
  EXPECT_EQ(RESTClient::getErrorResponse(list, 5219), 5117);
}

TEST(CloudErrorMapping, UnknownHigherCodeIsSkipped) {
  auto list = RESTClient::readErrorList(R"({"errors":[{"code":"999","message":""},{"code":"201055008","message":""}]})");
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.front().getCode(), 201055008);
  EXPECT_EQ(RESTClient::getErrorResponse(list, 5219), 5119);
  // A known code below an unknown higher one still decides.
  std::vector<Error> mixed = {Error(300000000, "unknown"), Error(201015009, "locked")};
  EXPECT_EQ(RESTClient::getErrorResponse(mixed, 5219), 5105);
}

TEST(CloudErrorMapping, NoKnownCodeGivesTheDefault) {
  std::vector<Error> list = {Error(123, "x")};
  EXPECT_EQ(RESTClient::getErrorResponse(list, 5219), 5219);
  EXPECT_EQ(RESTClient::getErrorResponse(list, 5223), 5223);
}

TEST(CloudErrorMapping, EmptyListGivesCommunicationFailure) {
  EXPECT_EQ(RESTClient::getErrorResponse({}, 5219), 5114);
}
