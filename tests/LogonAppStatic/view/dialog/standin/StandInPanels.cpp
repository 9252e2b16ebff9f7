// TEST-ONLY STAND-IN of the panels and of ErrorMessage (see StandIn.h); delete when the real
// ones land on main.

#include <stdexcept>
#include <string>

#include "Korvath/Utils/LanguageUtil.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/ErrorMessage.h"
#include "Korvath/View/Panels.h"
#include "Korvath/View/ViewUtils.h"
#include "StandIn.h"

namespace Korvath {
namespace Test {
namespace StandIn {

std::atomic<bool> throwOnCreate{false};

namespace {

int scaled(double v) { return static_cast<int>(View::Utils::getScaleFactor() * v); }

LRESULT CALLBACK panelProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == View::kMsgDigitToPanel) {
    wchar_t text[256] = {};
    GetWindowTextW(window, text, 250);
    const std::wstring digits = std::wstring(text) + static_cast<wchar_t>(L'0' + (wParam % 10));
    SetWindowTextW(window, digits.c_str());
    return 0;
  }
  if (message == WM_CTLCOLORSTATIC) {
    SetBkColor(reinterpret_cast<HDC>(wParam), View::kBackgroundColour);
    return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

HWND createPanel(HWND dialog, HMODULE module, const wchar_t* className, UINT id) {
  if (throwOnCreate) throw std::runtime_error("stand-in panel: creation failed");
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = panelProc;
  wc.hInstance = module;
  wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
  wc.lpszClassName = className;
  RegisterClassExW(&wc);
  HWND panel = CreateWindowExW(WS_EX_CONTROLPARENT, className, L"", WS_CHILD | WS_VISIBLE, scaled(440), scaled(10), scaled(380),
                               scaled(360), dialog, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), module, nullptr);
  const std::wstring label = std::wstring(L"[stand-in] ") + className;
  CreateWindowExW(0, L"STATIC", label.c_str(), WS_CHILD | WS_VISIBLE | SS_CENTER, 0, scaled(170), scaled(380), scaled(20), panel,
                  nullptr, module, nullptr);
  return panel;
}

void destroy(HWND window) {
  if (window != nullptr && IsWindow(window)) DestroyWindow(window);
}

}  // namespace
}  // namespace StandIn
}  // namespace Test

namespace View {

using Test::StandIn::createPanel;
using Test::StandIn::destroy;

struct PushPanel::State { HWND window = nullptr; };
PushPanel::PushPanel() : state_(new State()) {}
PushPanel::~PushPanel() { destroy(state_->window); }
HRESULT PushPanel::create(HWND dialog, HMODULE module, Service::KvService*, Korvath::Utils::Timer*, std::atomic<bool>*,
                          const std::string&, bool) {
  state_->window = createPanel(dialog, module, kPushPanelClass, kPushPanelId);
  return S_OK;
}
HWND PushPanel::window() const { return state_->window; }
void PushPanel::hideErrorLabels() {}
void PushPanel::focusSendPush() {}

struct OtpPanel::State { HWND window = nullptr; };
OtpPanel::OtpPanel() : state_(new State()) {}
OtpPanel::~OtpPanel() { destroy(state_->window); }
HRESULT OtpPanel::create(HWND dialog, HMODULE module, Service::KvService*, Korvath::Utils::Timer*, std::atomic<bool>*,
                         const std::string&) {
  state_->window = createPanel(dialog, module, kOtpPanelClass, kOtpPanelId);
  return S_OK;
}
HWND OtpPanel::window() const { return state_->window; }
void OtpPanel::clearCode() {}

struct QrCodePanel::State { HWND window = nullptr; };
QrCodePanel::QrCodePanel() : state_(new State()) {}
QrCodePanel::~QrCodePanel() { destroy(state_->window); }
HRESULT QrCodePanel::create(HWND dialog, HMODULE module, Service::KvService*, Korvath::Utils::Timer*, std::atomic<bool>*,
                            const std::string&) {
  state_->window = createPanel(dialog, module, kQrCodePanelClass, kQrCodePanelId);
  return S_OK;
}
HWND QrCodePanel::window() const { return state_->window; }
void QrCodePanel::hideErrorLabels() {}
void QrCodePanel::clearCode() {}
Model::KvResult QrCodePanel::generateQrCode() { return Model::KvResult(); }

struct ForgotTokenActivationPanel::State { HWND window = nullptr; };
ForgotTokenActivationPanel::ForgotTokenActivationPanel() : state_(new State()) {}
ForgotTokenActivationPanel::~ForgotTokenActivationPanel() { destroy(state_->window); }
HRESULT ForgotTokenActivationPanel::create(HWND dialog, HMODULE module, Service::KvService*, Korvath::Utils::Timer*,
                                           std::atomic<bool>*, const std::string&) {
  state_->window = createPanel(dialog, module, kForgotTokenActivationPanelClass, kForgotTokenActivationPanelId);
  return S_OK;
}
HWND ForgotTokenActivationPanel::window() const { return state_->window; }
void ForgotTokenActivationPanel::clearBoxes() {}
void ForgotTokenActivationPanel::generateActivationCode() {}

struct ForgotTokenAuthenticationPanel::State { HWND window = nullptr; };
ForgotTokenAuthenticationPanel::ForgotTokenAuthenticationPanel() : state_(new State()) {}
ForgotTokenAuthenticationPanel::~ForgotTokenAuthenticationPanel() { destroy(state_->window); }
HRESULT ForgotTokenAuthenticationPanel::create(HWND dialog, HMODULE module, Service::KvService*, Korvath::Utils::Timer*,
                                               const std::string&) {
  state_->window = createPanel(dialog, module, kForgotTokenAuthenticationPanelClass, kForgotTokenAuthenticationPanelId);
  return S_OK;
}
HWND ForgotTokenAuthenticationPanel::window() const { return state_->window; }
void ForgotTokenAuthenticationPanel::refreshExpiresIn() {}

// ErrorMessage: the two red labels, with the texts ErrorText composes.
namespace {
std::u16string lookup(int id) {
  const std::wstring text = Korvath::Utils::LanguageUtil::GetWText(static_cast<UINT>(id));
  return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}
HWND errorLabel(HWND parent, HMODULE module, UINT id, int y, int height, int font) {
  HWND label = CreateWindowExW(WS_EX_WINDOWEDGE, L"Static", L"", WS_CHILD | SS_CENTER, 0, y, Test::StandIn::scaled(380), height,
                               parent, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), module, nullptr);
  SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(View::Utils::Font::createFont(font, 400)), FALSE);
  return label;
}
}  // namespace

HRESULT ErrorMessage::createErrorMessageComponent(HWND parent, HMODULE module, ErrorKind kind, int messageTop,
                                                  int requestIdTop, int messageHeight) {
  parent_ = parent;
  module_ = module;
  text_ = ErrorText(kind);
  const int s16 = Test::StandIn::scaled(16);
  messageLabel_ = errorLabel(parent, module, kErrorMessageLabelId, messageTop, messageHeight, s16 - 1);
  requestIdLabel_ = errorLabel(parent, module, kRequestIdLabelId, requestIdTop, s16, s16 - 2);
  error_ = messageLabel_ != nullptr && requestIdLabel_ != nullptr ? S_OK : E_FAIL;
  return error_;
}

void ErrorMessage::show() {
  const std::u16string message = text_.messageText(lookup);
  const std::u16string requestId = text_.requestIdText(lookup);
  SetWindowTextW(messageLabel_, reinterpret_cast<const wchar_t*>(message.c_str()));
  ShowWindow(messageLabel_, SW_SHOW);
  SetWindowTextW(requestIdLabel_, reinterpret_cast<const wchar_t*>(requestId.c_str()));
  ShowWindow(requestIdLabel_, SW_SHOW);
  UpdateWindow(parent_);
}

void ErrorMessage::showResult(const Model::KvResult& result) {
  text_ = ErrorText::fromResult(text_.kind(), result);
  show();
}

void ErrorMessage::showMessage(int textId) {
  text_ = ErrorText::fromMessage(text_.kind(), textId);
  show();
}

void ErrorMessage::hide() {
  ShowWindow(messageLabel_, SW_HIDE);
  ShowWindow(requestIdLabel_, SW_HIDE);
}

}  // namespace View
}  // namespace Korvath
