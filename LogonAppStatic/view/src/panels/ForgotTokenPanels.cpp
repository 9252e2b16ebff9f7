// The two forgot-token panels. Activation: the activation code in six boxes, the hours and
// verification-code boxes, Enter, the error labels and the how-to link. Authentication: the
// countdown of the forgot-token period (the true hours left, however many), Enter and the
// how-to link. The checks, calls and times are ForgotTokenLogic's.

#include <algorithm>
#include <array>

#include "Korvath/Logger.h"
#include "Korvath/View/AboutDialog.h"
#include "Korvath/View/Button.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/Editbox.h"
#include "Korvath/View/ErrorMessage.h"
#include "Korvath/View/ForgotTokenLogic.h"
#include "Korvath/View/Panels.h"
#include "PanelCommon.h"
#include "Korvath/View/ViewUtils.h"
#include "Win32Helpers.h"

namespace Korvath {
namespace View {

namespace {

constexpr const char* kActivationClass = "Korvath::View::ForgotTokenActivationPanel";
constexpr const char* kAuthenticationClass = "Korvath::View::ForgotTokenAuthenticationPanel";
constexpr UINT kLoginInformationId = 0;  // a plain label, never addressed

// The link to the how-to window, right-aligned along the bottom of the panel's room.
HWND createHowToLink(HWND panel, HMODULE module, const char* where) {
  HWND link = Panels::createLabel(panel, module, Panels::text(435), WS_EX_APPWINDOW,
                                  WS_CHILD | WS_VISIBLE | SS_NOTIFY | SS_RIGHT | SS_NOPREFIX, 0, 0,
                                  Panels::px(380) - 5, Panels::px(16) + 1, kHowToLinkId, Panels::px(16) - 1, FW_NORMAL);
  if (link != nullptr) {
    RECT r;
    GetWindowRect(link, &r);
    SetWindowPos(link, nullptr, 0, Panels::usableBottom(panel) - (r.bottom - r.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  } else {
    KV_LOG_LAST_ERROR("%s: Failed to create \"How to use forgot token mode\" link [0x%08x]", where);
  }
  return link;
}

// The how-to window over the dialog; the panel's thread keeps serving the dialog meanwhile.
void openHowTo(HWND panel, HMODULE module) {
  HowToUseForgotTokenDialog::start(module, GetAncestor(panel, GA_ROOT));
  if (HWND howTo = HowToUseForgotTokenDialog::window()) PostMessageW(howTo, WM_CLOSE, 0, 0);
}

// WM_COMMAND of a forgot-token panel: its Enter button (`enterId`, `enterAction` on `enter`) and
// the how-to link, once the click timer has run out. False for any other command.
bool onEnterOrHowTo(const Panels::PanelState& state, WPARAM command, UINT enterId, HWND enter,
                    const Panels::ControlAction& enterAction) {
  if (command != enterId && command != kHowToLinkId) return false;
  if (!Panels::clickTimerRunOut(state.clickTimer)) return true;
  if (command == enterId) {
    Panels::runAction(enter, enterAction);
  } else {
    openHowTo(state.panel, state.module);
  }
  return true;
}

HRESULT labelResult(HWND label, const char* where) {
  return label != nullptr ? S_OK : KV_LOG_LAST_ERROR("Failed in %s: 0x%08x", where);
}

// The hours and verification-code boxes, one above the other, as wide as the wider of them.
void sameWidth(HWND a, HWND b) {
  if (a == nullptr || b == nullptr) return;
  const RECT ra = Panels::rectInParent(a);
  const RECT rb = Panels::rectInParent(b);
  const RECT& wider = (ra.right - ra.left) >= (rb.right - rb.left) ? ra : rb;
  for (HWND box : {a, b}) {
    const RECT r = Panels::rectInParent(box);
    SetWindowPos(box, nullptr, wider.left, r.top, wider.right - wider.left, r.bottom - r.top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

}  // namespace

// ======================================================================== activation panel

// The six one-character boxes of the activation code, read out to the administrator.
struct ActivationCodeBoxes {
  HRESULT error = S_OK;
  HWND parent = nullptr;
  HMODULE module = nullptr;
  std::string code;
  std::array<Editbox, ForgotTokenActivationLogic::kCodeBoxes> boxes;

  // The row at `top`; its height.
  int side = 0;
  HRESULT create(HWND parentWindow, HMODULE moduleHandle, int top) {
    parent = parentWindow;
    module = moduleHandle;
    HFONT font = Utils::Font::createFont(Panels::px(16) + 10, FW_SEMIBOLD);
    // Square boxes as high as the font needs (never smaller than designed), the row centred
    // where the design puts it: gaps of 8, and 25 between the third and the fourth box.
    side = std::max(Panels::px(30) - 3, Panels::editHeightFor(parent, font));
    const int gap = Panels::px(8);
    const int middleGap = Panels::px(25);
    const int designWidth = 6 * (Panels::px(30) - 3) + 4 * gap + middleGap;
    const int width = 6 * side + 4 * gap + middleGap;
    int x = Panels::px(75) + (designWidth - width) / 2;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      boxes[i] = Editbox(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_CENTER, x, top, side, side, parent,
                         kFirstActivationCodeBoxId + static_cast<UINT>(i), module);
      if (boxes[i].error != S_OK) error = boxes[i].error;
      if (HWND edit = boxes[i].window()) {
        makeMouseBlind(edit);
        if (font != nullptr) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
      }
      x += side + (i == 2 ? middleGap : gap);
    }
    return error;
  }

  void setCode(const std::string& newCode) {
    code = newCode;
    const auto characters = ForgotTokenActivationLogic::activationCodeBoxes(code);
    for (std::size_t i = 0; i < boxes.size(); ++i) {
      const std::wstring character(characters[i].begin(), characters[i].end());
      if (HWND edit = boxes[i].window()) SetWindowTextW(edit, character.c_str());
    }
  }
};

struct ForgotTokenActivationPanel::State : Panels::PanelState {
  static constexpr const char* kWhere = kActivationClass;
  HWND activationLabel = nullptr;
  ActivationCodeBoxes codeBoxes;
  Editbox verificationBox;
  Editbox hoursBox;
  Button enter;
  ErrorMessage errorMessage;
  HWND link = nullptr;
  std::unique_ptr<ForgotTokenActivationLogic> logic;
  Panels::ControlAction boxAction;
  Panels::ControlAction enterAction;

  HRESULT addComponents();
  void generateActivationCode();
  void buttonEnterOnClick();
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
};

// Top to bottom at the design places, each element moved down below the one above it when
// that one needs more room than designed (taller fonts, longer words).
HRESULT ForgotTokenActivationPanel::State::addComponents() {
  HRESULT result = S_OK;
  activationLabel = Panels::createLabel(panel, module, Panels::text(402), 0, WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX,
                                        0, Panels::px(20), Panels::px(380), Panels::px(35), kActivationCodeLabelId,
                                        Panels::px(16) + 12, FW_SEMIBOLD);
  result |= labelResult(activationLabel, kActivationClass);
  int top =
      std::max(Panels::px(65),
               activationLabel != nullptr ? static_cast<int>(Panels::rectInParent(activationLabel).bottom) + 4 : 0);
  result |= codeBoxes.create(panel, module, top);
  top = std::max(Panels::px(130), top + codeBoxes.side + 4);
  const int hoursHeight = Panels::createCodeBox(hoursBox, panel, module, Panels::px(90), top, kTimeDurationBoxId, 401);
  result |= hoursBox.error;
  top = std::max(Panels::px(160), top + hoursHeight + 4);
  const int verificationHeight =
      Panels::createCodeBox(verificationBox, panel, module, Panels::px(90), top, kActivationVerificationBoxId, 400);
  result |= verificationBox.error;
  top = std::max(Panels::px(200), top + verificationHeight + 4);
  sameWidth(hoursBox.window(), verificationBox.window());
  result |= Panels::createEnterButton(enter, panel, module, top, kActivationEnterButtonId);
  top = std::max(Panels::px(240), top + Panels::px(22) + 4);
  link = createHowToLink(panel, module, kActivationClass);
  const int linkTop =
      link != nullptr ? static_cast<int>(Panels::rectInParent(link).top) : Panels::px(360) - (Panels::px(16) + 1);
  // The request-ID line stands above the link, one line of its font high.
  const int requestIdLine = std::max(Panels::px(16), Panels::textHeight(panel, Utils::Font::createFont(Panels::px(16) - 2, FW_NORMAL),
                                                                        L"Ag", Panels::px(380)));
  result |= Panels::createErrorLabels(
      errorMessage, panel, module, ErrorKind::ForgotTokenActivation, top,
      std::min(Panels::px(360) - (Panels::px(16) + 1) - (Panels::px(16) + 10), linkTop - requestIdLine - 2));
  if (link == nullptr) result |= E_FAIL;
  return result;
}

void ForgotTokenActivationPanel::State::generateActivationCode() {
  errorMessage.hide();
  const ErrorText error = logic->generateActivationCode();
  codeBoxes.setCode(logic->activationCode());
  Panels::showError(errorMessage, error);
}

void ForgotTokenActivationPanel::State::buttonEnterOnClick() {
  // Enter in a box or on the button arrives here without a WM_COMMAND: the click timer holds
  // for it as well, so that codes are not tried faster than the button allows.
  if (!Panels::clickTimerRunOut(clickTimer)) return;
  Panels::enable(enter.button, enter.label, false);
  errorMessage.hide();
  UpdateWindow(panel);
  Panels::startClickTimer(clickTimer);
  const std::string shownCode = logic->activationCode();
  const PanelOutcome outcome = logic->buttonEnterOnClick(hoursBox.getText(), verificationBox.getText());
  if (outcome.signedIn) {
    PostMessageW(dialog, WM_CLOSE, 0, 0);
  } else {
    if (logic->activationCode() != shownCode) {
      // A new activation code: a verification code given for the old one cannot be right.
      codeBoxes.setCode(logic->activationCode());
      Panels::clearText(verificationBox);
    }
    Panels::showError(errorMessage, outcome.error);
  }
  Panels::enable(enter.button, enter.label, true);
}

LRESULT ForgotTokenActivationPanel::State::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kMsgDigitToPanel:
      // Into the hours box, unless one of the boxes has the focus (the digit reached it itself).
      if (GetFocus() != verificationBox.window()) Panels::appendDigit(hoursBox.window(), wParam);
      return 0;
    case WM_COMMAND:
      if (onEnterOrHowTo(*this, wParam, kActivationEnterButtonId, enter.button, enterAction)) return 0;
      break;
    default:
      break;
  }
  return DefWindowProcW(panel, message, wParam, lParam);
}

ForgotTokenActivationPanel::ForgotTokenActivationPanel() : state_(new State) {}

ForgotTokenActivationPanel::~ForgotTokenActivationPanel() {
  KV_LOG_DEBUG("%s - Destroying forgot token activation panel.", kActivationClass);
  Panels::closePanel(state_->panel);
}

HRESULT ForgotTokenActivationPanel::create(HWND dialog, HMODULE module, Service::KvService* service,
                                           Korvath::Utils::Timer* clickTimer, std::atomic<bool>* internetStatus,
                                           const std::string& userName) {
  State& s = *state_;
  s.logic.reset(new ForgotTokenActivationLogic(service, internetStatus, userName));
  const HRESULT opened = Panels::openPanel(s, dialog, module, clickTimer,
                                           {kForgotTokenActivationPanelClass, kForgotTokenActivationPanelId,
                                            "%s: Failed to register forgot token activation panel class [0x%08x]",
                                            "%s: Create forgot token activation panel failed [0x%08x]"});
  if (s.panel == nullptr) return opened;
  const HRESULT components = s.addComponents();
  s.enterAction.onEnter = [&s]() { s.buttonEnterOnClick(); };
  s.enterAction.keepsFocus = true;
  if (components == S_OK) {
    s.boxAction.digitsOnly = true;
    s.boxAction.onEnter = [&s]() {
      HWND focus = GetFocus();
      s.buttonEnterOnClick();
      if (focus != nullptr && IsWindow(focus)) SetFocus(focus);
    };
    Panels::subclassControl(s.hoursBox.window(), &s.boxAction);
    Panels::subclassControl(s.verificationBox.window(), &s.boxAction);
    Panels::subclassControl(s.enter.button, &s.enterAction);
  }
  return components;
}

HWND ForgotTokenActivationPanel::window() const { return state_->panel; }

void ForgotTokenActivationPanel::clearBoxes() {
  Panels::clearText(state_->verificationBox);
  Panels::clearText(state_->hoursBox);
}

void ForgotTokenActivationPanel::generateActivationCode() {
  if (state_->panel != nullptr) state_->generateActivationCode();
}

// ==================================================================== authentication panel

struct ForgotTokenAuthenticationPanel::State : Panels::PanelState {
  static constexpr const char* kWhere = kAuthenticationClass;
  Button enter;
  HWND activatedLabel = nullptr;
  HWND expiresInLabel = nullptr;
  Editbox hoursBox;
  Editbox minutesBox;
  HWND hoursLabel = nullptr;
  HWND minutesLabel = nullptr;
  HWND loginInformation = nullptr;
  HWND expiredLabel = nullptr;  // in the login information's place once the period is over
  HWND link = nullptr;
  std::wstring shownHours;  // what the hours box shows (or is about to)
  std::unique_ptr<ForgotTokenAuthenticationLogic> logic;
  Panels::ControlAction enterAction;

  HRESULT addComponents();
  void refreshExpiresIn();
  void layout();
  int placeCountdown(int top);
  void showExpired(bool expired);
  void buttonEnterOnClick();
  LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
};

HRESULT ForgotTokenAuthenticationPanel::State::addComponents() {
  HRESULT result = S_OK;
  const int s16 = Panels::px(16);
  result |= Panels::createEnterButton(enter, panel, module, Panels::px(270), kForgotTokenEnterButtonId);
  const DWORD labelStyle = WS_CHILD | WS_VISIBLE | SS_CENTER | SS_NOPREFIX;
  activatedLabel = Panels::createLabel(panel, module, Panels::text(444), 0, labelStyle, 0, Panels::px(30),
                                       Panels::px(380), 2 * s16 + 28, kActivatedLabelId,
                                       s16 + 12, FW_SEMIBOLD);
  expiresInLabel = Panels::createLabel(panel, module, Panels::text(434), 0, labelStyle, 0, Panels::px(95),
                                       Panels::px(380), Panels::px(25), kExpiresInLabelId,
                                       s16, FW_SEMIBOLD);
  HFONT countdownFont = Utils::Font::createFont(s16 + 10, FW_NORMAL);
  for (auto* box : {&hoursBox, &minutesBox}) {
    *box = Editbox(WS_CHILD | WS_VISIBLE | WS_BORDER | ES_CENTER, 0, Panels::px(120), Panels::px(45), Panels::px(30),
                   panel, box == &hoursBox ? kHoursBoxId : kMinutesBoxId, module);
    result |= box->error;
    if (HWND edit = box->window()) {
      makeMouseBlind(edit);
      if (countdownFont != nullptr) SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(countdownFont), FALSE);
    }
  }
  // Placed and sized under their boxes by placeCountdown; half the panel at most.
  hoursLabel = Panels::createLabel(panel, module, Panels::text(452), 0, labelStyle, 0, 0, Panels::px(380) / 2 - Panels::px(5),
                                   s16 + 1, kHoursLabelId, s16 - 1, FW_SEMIBOLD);
  minutesLabel = Panels::createLabel(panel, module, Panels::text(453), 0, labelStyle, 0, 0,
                                     Panels::px(380) / 2 - Panels::px(5), s16 + 1, kMinutesLabelId, s16 - 1, FW_SEMIBOLD);
  loginInformation = Panels::createLabel(panel, module, Panels::text(454), 0, labelStyle, 0, Panels::px(195),
                                         Panels::px(380), static_cast<int>(3.5 * s16), kLoginInformationId, s16,
                                         FW_NORMAL);
  // Hidden until the period is over; red as every panel's error label.
  const ErrorText expired = ForgotTokenAuthenticationLogic::expiredError();
  expiredLabel = Panels::createLabel(panel, module, Panels::text(errorTextId(expired.resultCode(), expired.kind())), 0,
                                     WS_CHILD | SS_CENTER | SS_NOPREFIX, 0, Panels::px(195), Panels::px(380), s16,
                                     kErrorMessageLabelId, s16 - 1, FW_NORMAL);
  link = createHowToLink(panel, module, kAuthenticationClass);
  for (HWND label : {activatedLabel, expiresInLabel, hoursLabel, minutesLabel, loginInformation, expiredLabel, link}) {
    result |= labelResult(label, kAuthenticationClass);
  }
  layout();
  return result;
}

// Top to bottom at the design places, each element moved down below the one above it when
// that one needs more room than designed (the titles wrap to two lines in some languages, and
// the Noto fonts are taller than the design heights); if the Enter button would then reach the
// link, the whole column moves up into the top margin.
void ForgotTokenAuthenticationPanel::State::layout() {
  auto heightOf = [](HWND window) {
    const RECT r = Panels::rectInParent(window);
    return static_cast<int>(r.bottom - r.top);
  };
  auto place = [](HWND window, int top) {
    if (window == nullptr) return;
    const RECT r = Panels::rectInParent(window);
    SetWindowPos(window, nullptr, r.left, top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
  };
  for (int pass = 0, shift = 0; pass < 2; ++pass) {
    int top = Panels::px(30) - shift;
    place(activatedLabel, top);
    top = std::max(Panels::px(95) - shift, top + heightOf(activatedLabel));
    place(expiresInLabel, top);
    top = std::max(Panels::px(120) - shift, top + heightOf(expiresInLabel));
    top = placeCountdown(top);
    top = std::max(Panels::px(195) - shift, top + 4);
    place(loginInformation, top);
    place(expiredLabel, top);
    top = std::max(Panels::px(270) - shift, top + std::max(heightOf(loginInformation), heightOf(expiredLabel)) + 4);
    place(enter.button, top);
    const RECT linkRect = link != nullptr ? Panels::rectInParent(link) : RECT{0, Panels::px(360), 0, Panels::px(360)};
    const int overflow = top + heightOf(enter.button) + 4 - linkRect.top;
    if (overflow <= 0 || pass == 1) break;
    shift = std::min(overflow, Panels::px(30) - Panels::px(5));
  }
}

// The two boxes at `top`, as wide and high as their text needs (the hours may have three
// digits), side by side about the panel's middle, each with its unit label below it. Returns
// the bottom of the labels.
int ForgotTokenAuthenticationPanel::State::placeCountdown(int top) {
  HWND hours = hoursBox.window();
  HWND minutes = minutesBox.window();
  if (hours == nullptr || minutes == nullptr) return top;
  HFONT font = reinterpret_cast<HFONT>(SendMessageW(hours, WM_GETFONT, 0, 0));
  const std::wstring shown = shownHours.empty() ? L"00" : shownHours;
  // Room for the digits, the edit control's margins and its border.
  const int margins = 2 * GetSystemMetrics(SM_CXEDGE) + Panels::textWidth(hours, font, L"0");
  const int hoursWidth = std::max(Panels::px(45), Panels::textWidth(hours, font, shown) + margins);
  const int minutesWidth = std::max(Panels::px(45), Panels::textWidth(hours, font, L"00") + margins);
  const int height = std::max(Panels::px(30), Panels::editHeightFor(hours, font));
  const int middle = Panels::px(380) / 2;
  const int gap = Panels::px(10) / 2;
  SetWindowPos(hours, nullptr, middle - gap - hoursWidth, top, hoursWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
  SetWindowPos(minutes, nullptr, middle + gap, top, minutesWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
  int bottom = top + height;
  for (HWND label : {hoursLabel, minutesLabel}) {
    if (label == nullptr) continue;
    const bool isHours = label == hoursLabel;
    HFONT unitFont = reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0));
    const std::wstring caption = Panels::text(isHours ? 452 : 453);
    const int boxWidth = isHours ? hoursWidth : minutesWidth;
    // Centred under its box, never reaching past the middle gap into the other one's.
    const int width = std::min(std::max(boxWidth, Panels::textWidth(label, unitFont, caption) + 2), middle - gap);
    const int left = isHours ? std::min(middle - gap - hoursWidth / 2 - width / 2, middle - gap - width)
                             : std::max(middle + gap + minutesWidth / 2 - width / 2, middle + gap);
    const int labelHeight = std::max(Panels::px(16) + 1, Panels::textHeight(label, unitFont, caption, width));
    SetWindowPos(label, nullptr, left, top + height + 3, width, labelHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    // A centred static does not repaint itself whole when it narrows: the old text would stay.
    InvalidateRect(label, nullptr, TRUE);
    bottom = std::max(bottom, top + height + 3 + labelHeight);
  }
  return bottom;
}

void ForgotTokenAuthenticationPanel::State::refreshExpiresIn() {
  std::u16string hours;
  std::u16string minutes;
  const bool running = logic->refreshExpiresIn(hours, minutes);
  const std::wstring h(hours.begin(), hours.end());
  const std::wstring m(minutes.begin(), minutes.end());
  // The boxes are sized for the new hours first: an edit box refuses text wider than itself.
  shownHours = h;
  layout();
  if (HWND edit = hoursBox.window()) SetWindowTextW(edit, h.c_str());
  if (HWND edit = minutesBox.window()) SetWindowTextW(edit, m.c_str());
  showExpired(!running);
  // Sooner than the usual 30 s when the period ends sooner, so that its end shows when it comes.
  SetTimer(panel, kExpiryTimerId, logic->nextRefreshMs(), nullptr);
}

// Once the period is over the panel says so where it told the user that Enter lets them in.
void ForgotTokenAuthenticationPanel::State::showExpired(bool expired) {
  if (loginInformation != nullptr) ShowWindow(loginInformation, expired ? SW_HIDE : SW_SHOW);
  if (expiredLabel != nullptr) ShowWindow(expiredLabel, expired ? SW_SHOW : SW_HIDE);
}

void ForgotTokenAuthenticationPanel::State::buttonEnterOnClick() {
  const PanelOutcome outcome = logic->buttonEnterOnClick();
  if (!outcome.signedIn) {
    // Refused: the period is over, and the countdown shows it.
    refreshExpiresIn();
    return;
  }
  PostMessageW(dialog, WM_CLOSE, 0, 0);
  Panels::startClickTimer(clickTimer);
}

LRESULT ForgotTokenAuthenticationPanel::State::handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS:
      if (enter.button != nullptr) SetFocus(enter.button);
      return 0;
    case WM_TIMER:
      if (wParam != kExpiryTimerId) break;
      refreshExpiresIn();
      return 0;
    case WM_COMMAND:
      if (onEnterOrHowTo(*this, wParam, kForgotTokenEnterButtonId, enter.button, enterAction)) return 0;
      break;
    case WM_DESTROY:
      KillTimer(panel, kExpiryTimerId);
      break;
    default:
      break;
  }
  return DefWindowProcW(panel, message, wParam, lParam);
}

ForgotTokenAuthenticationPanel::ForgotTokenAuthenticationPanel() : state_(new State) {}

ForgotTokenAuthenticationPanel::~ForgotTokenAuthenticationPanel() {
  KV_LOG_DEBUG("%s - Destroying forgot token authentication panel.", kAuthenticationClass);
  Panels::closePanel(state_->panel);
}

HRESULT ForgotTokenAuthenticationPanel::create(HWND dialog, HMODULE module, Service::KvService* service,
                                               Korvath::Utils::Timer* clickTimer, const std::string& userName) {
  State& s = *state_;
  s.logic.reset(new ForgotTokenAuthenticationLogic(service, userName));
  const HRESULT opened = Panels::openPanel(s, dialog, module, clickTimer,
                                           {kForgotTokenAuthenticationPanelClass, kForgotTokenAuthenticationPanelId,
                                            "%s: Register forgot token authentication panel failed [0x%08x]",
                                            "%s: Create Forgot Token Authentication Panel failed [0x%08x]"});
  if (s.panel == nullptr) return opened;
  const HRESULT components = s.addComponents();
  s.enterAction.onEnter = [&s]() { s.buttonEnterOnClick(); };
  s.enterAction.keepsFocus = true;
  Panels::subclassControl(s.enter.button, &s.enterAction);
  SetTimer(s.panel, kExpiryTimerId, s.logic->nextRefreshMs(), nullptr);
  return components;
}

HWND ForgotTokenAuthenticationPanel::window() const { return state_->panel; }

void ForgotTokenAuthenticationPanel::refreshExpiresIn() {
  if (state_->panel != nullptr) state_->refreshExpiresIn();
}

}  // namespace View
}  // namespace Korvath
