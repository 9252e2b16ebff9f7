#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "Korvath/Model/ErrorResponse.h"
#include "Korvath/Model/ResponseData.h"
#include "Korvath/ResultCodes.h"

using Korvath::Model::ErrorResponse;
using Korvath::Model::ResponseData;

TEST(ResponseData, FillsTheDataString) {
  ResponseData record;
  EXPECT_EQ(record.fillFromJson(R"({"data":"c2VhbGVk\"x","other":1})"), 0);
  EXPECT_EQ(record.getData(), "c2VhbGVk\"x");
}

TEST(ResponseData, RefusesWhatIsNotAnEnvelope) {
  ResponseData record;
  record.setData("kept");
  EXPECT_EQ(record.fillFromJson(""), Korvath::KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON);
  EXPECT_EQ(record.fillFromJson("[]"), Korvath::KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"data":"x")"), Korvath::KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"data":"x"}{})"), Korvath::KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON);
  EXPECT_EQ(record.fillFromJson("{}"), Korvath::KV_ERROR_FILL_RESPONSE_DATA_DATA_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"data":5})"), Korvath::KV_ERROR_FILL_RESPONSE_DATA_DATA_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"data":{"a":"b"}})"), Korvath::KV_ERROR_FILL_RESPONSE_DATA_DATA_FROM_JSON);
  EXPECT_EQ(record.getData(), "kept");
}

TEST(ResponseData, DeepNestingIsRefusedNotACrash) {
  const std::string deep = std::string(200000, '[') + std::string(200000, ']');
  ResponseData record;
  EXPECT_EQ(record.fillFromJson(deep), Korvath::KV_ERROR_FILL_RESPONSE_DATA_FROM_JSON);
  ErrorResponse errors;
  EXPECT_EQ(errors.fillFromJson("{\"errors\":" + deep + "}"), Korvath::KV_ERROR_FILL_ERROR_FROM_JSON);
}

TEST(ResponseData, ToJsonEscapesEverything) {
  ResponseData record;
  record.setData("a\"b\\c\nd");
  EXPECT_EQ(record.toJson(), R"({"data":"a\"b\\c\nd"})");
  ResponseData back;
  ASSERT_EQ(back.fillFromJson(record.toJson()), 0);
  EXPECT_EQ(back.getData(), "a\"b\\c\nd");
}

TEST(ErrorResponse, FillsCodesFromTextAndNumbers) {
  ErrorResponse record;
  ASSERT_EQ(record.fillFromJson(R"({"errors":[{"code":"201015008","message":"User not found"},{"code":-7},{"code":"-2147483648","message":""}]})"),
            0);
  ASSERT_EQ(record.getErrors().size(), 3u);
  EXPECT_EQ(record.getErrors()[0].getCode(), 201015008);
  EXPECT_EQ(record.getErrors()[0].getMessage(), "User not found");
  EXPECT_EQ(record.getErrors()[1].getCode(), -7);
  EXPECT_EQ(record.getErrors()[1].getMessage(), "");
  EXPECT_EQ(record.getErrors()[2].getCode(), INT32_MIN);
}

TEST(ErrorResponse, RefusalCodes) {
  ErrorResponse record;
  EXPECT_EQ(record.fillFromJson("nope"), Korvath::KV_ERROR_FILL_ERROR_RESPONSE_FROM_JSON);
  EXPECT_EQ(record.fillFromJson("{}"), Korvath::KV_ERROR_FILL_ERROR_RESPONSE_ERRORS_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":[]})"), Korvath::KV_ERROR_FILL_ERROR_RESPONSE_ERRORS_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":["201015008"]})"), Korvath::KV_ERROR_FILL_ERROR_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":[{"message":"m"}]})"), Korvath::KV_ERROR_FILL_ERROR_CODE_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":[{"code":""}]})"), Korvath::KV_ERROR_FILL_ERROR_CODE_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":[{"code":" 12"}]})"), Korvath::KV_ERROR_FILL_ERROR_CODE_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":[{"code":"2147483648"}]})"), Korvath::KV_ERROR_FILL_ERROR_CODE_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":[{"code":1.5}]})"), Korvath::KV_ERROR_FILL_ERROR_CODE_FROM_JSON);
  EXPECT_EQ(record.fillFromJson(R"({"errors":[{"code":"1","message":3}]})"), Korvath::KV_ERROR_FILL_ERROR_MESSAGE_FROM_JSON);
  // A refused body leaves the record as it was.
  ASSERT_EQ(record.fillFromJson(R"({"errors":[{"code":"42"}]})"), 0);
  EXPECT_NE(record.fillFromJson(R"({"errors":[{"code":"43"},{"code":"x"}]})"), 0);
  ASSERT_EQ(record.getErrors().size(), 1u);
  EXPECT_EQ(record.getErrors()[0].getCode(), 42);
}

TEST(ErrorResponse, WritesWhatItReads) {
  // The simulator writes its error lists with this; the client must read them back alike.
  const ErrorResponse written({Korvath::Model::Error(201015008, "User \"x\" not found"), Korvath::Model::Error(-3, "")});
  EXPECT_EQ(written.toJson(),
            R"({"errors":[{"code":"201015008","message":"User \"x\" not found"},{"code":"-3","message":""}]})");
  ErrorResponse read;
  ASSERT_EQ(read.fillFromJson(written.toJson()), 0);
  ASSERT_EQ(read.getErrors().size(), 2u);
  EXPECT_EQ(read.getErrors()[0].getMessage(), "User \"x\" not found");
  EXPECT_EQ(read.getErrors()[1].getCode(), -3);
}
