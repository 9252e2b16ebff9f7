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
  const struct {
    std::uint16_t code;
    ErrorKind kind;
    std::int32_t cloudCode;
    std::wstring message;
    std::wstring requestLine;
  } rows[] = {
      {5116, ErrorKind::Otp, 0, L"The application cannot connect to the server. The server connection timed out. [5116]\n", L""},
      {5113, ErrorKind::QrCode, 12345678, L"QR code authentication failed.\nScan the QR code again and type the generated code above.\n", L""},
      {5113, ErrorKind::ForgotTokenActivation, 1234567890,
       L"Could not activate the 'Forgot Token' mode.\nError Code: 123.456.7890\n", L"Request ID:req-7"},
  };
  HWND panel = ui_.call([&] {
    return CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 440, 10, 380, 360, dialog_, nullptr, nullptr, nullptr);
  });
  for (const auto& row : rows) {
    SCOPED_TRACE(row.code);
    ErrorMessage labels;
    ui_.run([&] {
      labels.createErrorMessageComponent(panel, module_, row.kind, 240, 344, 62);
      labels.showResult(Model::KvResult(row.code, row.cloudCode, row.requestLine.empty() ? "" : "req-7"));
    });
    EXPECT_EQ(shown(panel, kErrorMessageLabelId), row.message);
    EXPECT_EQ(shown(panel, kRequestIdLabelId), row.requestLine);
    ui_.run([&] { DestroyWindow(labels.messageLabel()), DestroyWindow(labels.requestIdLabel()); });
  }
  ui_.run([&] { DestroyWindow(panel); });
}

}  // namespace
