#pragma once

// The red error labels of a panel (ids 200 and 201): the sentence for a result code chosen by
// the panel's kind, the service's error code and the request identifier, or one of the
// panel's own messages. The text itself is composed by ErrorText (KvDialogLogic); this is its
// pair of windows.

#include <windows.h>

#include <cstdint>
#include <string>

#include "Korvath/KvResult.h"
#include "Korvath/View/ErrorText.h"

namespace Korvath {
namespace View {

class ErrorMessage {
 public:
  ErrorMessage() = default;
  ~ErrorMessage();
  // The labels know their component (ofLabel), so it is never copied.
  ErrorMessage(const ErrorMessage&) = delete;
  ErrorMessage& operator=(const ErrorMessage&) = delete;

  // Creates the two hidden "Static" labels across the panel's width: the message label at
  // messageTop, messageHeight high, and the request-ID label at requestIdTop. Returns (and
  // keeps in error()) the HRESULT of a label that could not be created, else S_OK.
  HRESULT createErrorMessageComponent(HWND parent, HMODULE module, ErrorKind kind, int messageTop,
                                      int requestIdTop, int messageHeight);
  // From now on the message ends at `bottom` and grows upwards as far as its text needs, up to
  // the panel's top (the error panel's message stands just above its OK button).
  void endMessageAt(int bottom) { messageBottom_ = bottom; }
  // From now on a message that needs more room than it has below its top first rises as far as
  // `top` (just below the control above it), before its font gets smaller.
  void mayRiseTo(int top) { riseTop_ = top; }
  // The text shown by the next show().
  ErrorText& text() { return text_; }
  void clear() { text_.clear(); }
  // Sets label 200 to the message text and label 201 to the request-ID text and shows both.
  // The labels fit their texts (the Noto fonts are taller than the design heights, and some
  // languages need more lines): the request-ID label is one line of its font, a smaller font
  // when the identifier would wrap, moved up when it would leave the panel's room; the message
  // label grows down to it (into its place when there is no identifier, the line then hidden),
  // or up from the bottom it was given (endMessageAt); it rises above its top where it may
  // (mayRiseTo), and gets a smaller font, a pixel at a time, when the text still does not fit.
  // The room ends above the dialog's "Sign-in Options" label where that reaches into the panel.
  void show();
  // Clears the text, takes the result's code, cloud error code and request identifier, shows.
  void showResult(const Model::KvResult& result);
  // Clears the text, takes the panel's own message (a string-table id), shows.
  void showMessage(int textId);
  // Hides both labels.
  void hide();
  HRESULT error() const { return error_; }
  HWND messageLabel() const { return messageLabel_; }
  HWND requestIdLabel() const { return requestIdLabel_; }
  // The component whose message label `label` is, while both exist; null for any other window.
  // Call it on the thread of the label: the component is that thread's.
  static ErrorMessage* ofLabel(HWND label);

 private:
  ErrorText text_;
  HWND parent_ = nullptr;
  HMODULE module_ = nullptr;
  HRESULT error_ = S_OK;
  HWND messageLabel_ = nullptr;
  HWND requestIdLabel_ = nullptr;
  // The design geometry, from which show() grows the labels.
  int messageTop_ = 0;
  int messageHeight_ = 0;
  int requestIdTop_ = 0;
  // The message's bottom when it grows upwards (endMessageAt); 0: it grows down from its top.
  int messageBottom_ = 0;
  // How far up the message may rise when it needs the room (mayRiseTo); 0: it stays at its top.
  int riseTop_ = 0;
};

}  // namespace View
}  // namespace Korvath
