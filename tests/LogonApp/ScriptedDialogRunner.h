#pragma once

// The gate's tests link this definition of runMfaDialog in place of the real dialog: every
// call gives the scripted verdict and records what it was given.

#include <string>
#include <vector>

namespace ScriptedDialog {

enum class Verdict { Approve, Refuse, Throw };

struct Dialog {
  std::vector<std::string> names;
  bool rdp = false;
};

// Every following dialog gives `verdict`; forgets the dialogs so far.
void script(Verdict verdict);
// The dialogs run since, in order.
const std::vector<Dialog>& dialogs();

}  // namespace ScriptedDialog
