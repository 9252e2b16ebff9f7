#include "Korvath/View/ErrorMessage.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "Korvath/Logger.h"
#include "Korvath/View/DialogMessages.h"
#include "Korvath/View/ViewUtils.h"
#include "PanelCommon.h"
#include "Win32Helpers.h"
#include "dialog/TextFit.h"

namespace Korvath {
namespace View {

namespace {

const char* const kClass = "Korvath::View::ErrorMessage";
// The smallest font a message or request identifier is shrunk to so that it fits its room.
constexpr int kMinMessageFontHeight = 10;

std::u16string lookup(int id) {
  const std::wstring wide = Panels::text(id);
  return std::u16string(wide.begin(), wide.end());
}

std::wstring wide(const std::u16string& text) { return std::wstring(text.begin(), text.end()); }

// The component of each message label: a window is all that the outside of a panel can name,
// and a text shown through the component gets the component's own layout.
std::mutex& componentsMutex() {
  static std::mutex mutex;
  return mutex;
}
std::map<HWND, ErrorMessage*>& components() {
  static std::map<HWND, ErrorMessage*> byLabel;
  return byLabel;
}

void forget(HWND label, const ErrorMessage* component) {
  std::lock_guard<std::mutex> lock(componentsMutex());
  auto found = components().find(label);
  if (found != components().end() && found->second == component) components().erase(found);
}

}  // namespace

ErrorMessage::~ErrorMessage() { forget(messageLabel_, this); }

ErrorMessage* ErrorMessage::ofLabel(HWND label) {
  if (label == nullptr || !IsWindow(label)) return nullptr;
  std::lock_guard<std::mutex> lock(componentsMutex());
  auto found = components().find(label);
  if (found == components().end()) return nullptr;
  // A label destroyed with its panel before the component went may have left its handle to a
  // window of another parent.
  return GetParent(label) == found->second->parent_ ? found->second : nullptr;
}

HRESULT ErrorMessage::createErrorMessageComponent(HWND parent, HMODULE module, ErrorKind kind, int messageTop,
                                                  int requestIdTop, int messageHeight) {
  forget(messageLabel_, this);
  parent_ = parent;
  module_ = module;
  text_ = ErrorText(kind);
  error_ = S_OK;
  messageTop_ = messageTop;
  messageHeight_ = messageHeight;
  requestIdTop_ = requestIdTop;
  const int width = Panels::px(380);
  // Hidden until there is something to say. SS_NOPREFIX: an "&" in a text is shown as it is.
  const DWORD style = WS_CHILD | SS_CENTER | SS_NOPREFIX;
  struct Label {
    HWND* window;
    int top;
    int height;
    UINT id;
    int fontHeight;
  } labels[] = {
      {&messageLabel_, messageTop, messageHeight, kErrorMessageLabelId, Panels::px(16) - 1},
      {&requestIdLabel_, requestIdTop, Panels::px(16), kRequestIdLabelId, Panels::px(16) - 2},
  };
  for (const Label& label : labels) {
    *label.window = CreateWindowExW(WS_EX_WINDOWEDGE, L"Static", L"", style, 0, label.top, width, label.height, parent,
                                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(label.id)), module, nullptr);
    if (*label.window == nullptr) {
      error_ = KV_LOG_LAST_ERROR("%s: Failed to create error message box [0x%08x]", kClass);
      continue;
    }
    HFONT font = Utils::Font::createFont(label.fontHeight, FW_NORMAL);
    if (font != nullptr) SendMessageW(*label.window, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  }
  if (messageLabel_ != nullptr) {
    std::lock_guard<std::mutex> lock(componentsMutex());
    components()[messageLabel_] = this;
  }
  return error_;
}

void ErrorMessage::show() {
  const std::wstring message = wide(text_.messageText(lookup));
  const std::wstring requestId = wide(text_.requestIdText(lookup));
  const int bottom = Panels::usableBottom(parent_);
  const int width = Panels::px(380);

  // The request-ID line keeps its place (as high as its font needs, inside the panel); the
  // message grows down to it. Without a request identifier the message may take that line's
  // place too, but no more: on the activation panel the how-to link stands right below it.
  int requestIdTop = requestIdTop_;
  int requestIdHeight = Panels::px(16);
  if (requestIdLabel_ != nullptr && requestId.empty()) {
    const HFONT font = Utils::Font::createFont(Panels::px(16) - 2, FW_NORMAL);
    requestIdHeight = std::max(requestIdHeight, Panels::textHeight(requestIdLabel_, font, L"Ag", width));
  }
  if (requestIdLabel_ != nullptr && !requestId.empty()) {
    // One line: an identifier that would wrap (at its hyphens) gets a smaller font instead.
    int fontHeight = Panels::px(16) - 2;
    HFONT font = Utils::Font::createFont(fontHeight, FW_NORMAL);
    while (Panels::textWidth(requestIdLabel_, font, requestId) > width - 4 && fontHeight > kMinMessageFontHeight) {
      font = Utils::Font::createFont(--fontHeight, FW_NORMAL);
    }
    if (font != nullptr) SendMessageW(requestIdLabel_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    requestIdHeight = std::max(requestIdHeight, Panels::textHeight(requestIdLabel_, font, requestId, width));
    requestIdTop = std::min(requestIdTop_, bottom - requestIdHeight);
  }
  if (messageLabel_ != nullptr) {
    // Growing upwards the room reaches the panel's top; growing down it ends at the request-ID
    // line (the panel's bottom without an identifier).
    const bool upwards = messageBottom_ > 0;
    const int roomEnd = upwards ? messageBottom_
                                : requestId.empty() ? std::min(bottom, requestIdTop + requestIdHeight) : requestIdTop;
    int top = upwards ? 0 : messageTop_;
    int room = roomEnd - top;
    int fontHeight = Panels::px(16) - 1;
    HFONT font = Utils::Font::createFont(fontHeight, FW_NORMAL);
    auto fits = [&](HFONT f, int& height) {
      height = Panels::textHeight(messageLabel_, f, message, width);
      return height <= room && Panels::wrappedWidth(messageLabel_, f, message, width) <= width;
    };
    int needed = 0;
    // More lines than the room below holds (a long sentence with the service's error code): the
    // message rises into the gap above it first, keeping its font.
    if (!fits(font, needed) && needed > room && !upwards && riseTop_ > 0 && riseTop_ < top) {
      top = riseTop_;
      room = roomEnd - top;
    }
    // Too long for the room even so, or a word wider than the label (Wine breaks Thai lines only
    // at spaces): a smaller font, one pixel at a time, rather than a cut line.
    while (!fits(font, needed) && fontHeight > kMinMessageFontHeight) font = Utils::Font::createFont(--fontHeight, FW_NORMAL);
    if (font != nullptr) SendMessageW(messageLabel_, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    const int height = upwards ? std::min(needed, std::max(room, 0))
                               : std::min(std::max(messageHeight_, needed), std::max(room, 0));
    // A sentence whose last line would hold one character (Japanese and Chinese break anywhere):
    // the same lines balanced in a narrower label, centred.
    const int messageWidth = endsWithLoneCharacter(messageLabel_, font, message, width, DT_CENTER)
                                 ? balancedWidth(messageLabel_, font, message, width, DT_CENTER)
                                 : width;
    SetWindowPos(messageLabel_, nullptr, (width - messageWidth) / 2, upwards ? messageBottom_ - height : top,
                 messageWidth, height, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(messageLabel_, message.c_str());
    ShowWindow(messageLabel_, SW_SHOW);
  }
  if (requestIdLabel_ != nullptr) {
    SetWindowPos(requestIdLabel_, nullptr, 0, requestIdTop, width, requestIdHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowTextW(requestIdLabel_, requestId.c_str());
    // An empty line is hidden: the message may stand in its place.
    ShowWindow(requestIdLabel_, requestId.empty() ? SW_HIDE : SW_SHOW);
  }
  if (parent_ != nullptr) UpdateWindow(parent_);
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
  if (messageLabel_ != nullptr) ShowWindow(messageLabel_, SW_HIDE);
  if (requestIdLabel_ != nullptr) ShowWindow(requestIdLabel_, SW_HIDE);
}

}  // namespace View
}  // namespace Korvath
