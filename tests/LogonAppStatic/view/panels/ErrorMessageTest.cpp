// The two red labels of a panel as the user reads them: the sentence chosen by result code and
// panel kind, the service's error code when it has nine digits or more, and the request ID.
// (Every row of the table is the logic's test; these go through the real labels.)
#include <windows.h>

#include <gtest/gtest.h>

#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/ErrorMessage.h"
#include "PanelsTestSupport.h"

using namespace Korvath;
using namespace Korvath::View;

namespace {

using ErrorLabels = PanelsTest::PanelSim;

TEST_F(ErrorLabels, ShowTheSentenceOfTheCodeForThePanelKind) {
  const std::wstring failed413 = L"Advanced authentication using Push failed.\nPlease try again or use another authentication option.\n";
  const struct {
    std::uint16_t code;
    ErrorKind kind;
    std::int32_t cloudCode;
    const char* requestId;
    std::wstring message;
    std::wstring requestLine;
  } rows[] = {
      {5119, ErrorKind::Push, 0, "", L"The Push notification was denied.\n", L""},
      {5116, ErrorKind::Otp, 0, "", L"The application cannot connect to the server. The server connection timed out. [5116]\n", L""},
      {5113, ErrorKind::Otp, 0, "", L"OTP authentication failed.\nType your OTP again.\n", L""},
      {5113, ErrorKind::QrCode, 0, "", L"QR code authentication failed.\nScan the QR code again and type the generated code above.\n", L""},
      {5113, ErrorKind::Push, 12345678, "", failed413, L""},
      {5113, ErrorKind::ForgotTokenActivation, 0, "", L"Could not activate the 'Forgot Token' mode.\n", L""},
      {5113, ErrorKind::ErrorPanel, 0, "", L"The user name or password is not correct.\n", L""},
      {5113, ErrorKind::Push, 1234567890, "req-7", failed413 + L"Error Code: 123.456.7890\n", L"Request ID:req-7"},
      {9999, ErrorKind::Otp, 0, "", L"Unexpected error [9999]\n", L""},
  };
  HWND panel = ui_.call([&] {
    return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 440, 10, 380, 360, dialog_, nullptr, nullptr, nullptr);
  });
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    ErrorMessage labels;
    ui_.run([&] {
      labels.createErrorMessageComponent(panel, module_, row.kind, 240, 344, 62);
      labels.showResult(Model::KvResult(row.code, row.cloudCode, row.requestId));
    });
    EXPECT_EQ(shown(panel, kErrorMessageLabelId), row.message);
    EXPECT_EQ(shown(panel, kRequestIdLabelId), row.requestLine);
    ui_.run([&] {
      DestroyWindow(labels.messageLabel());
      DestroyWindow(labels.requestIdLabel());
    });
  }
  ui_.run([&] { DestroyWindow(panel); });
}

}  // namespace
