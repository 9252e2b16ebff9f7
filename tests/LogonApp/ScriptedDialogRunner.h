#pragma once

// The gate's tests link this definition of runMfaDialog in place of the real dialog: each
// call takes the next scripted verdict (the last one repeats) and records what it was given.

#include <string>
#include <vector>

namespace ScriptedDialog {

enum class Verdict { Approve, Refuse, Throw };

// Every following dialog gives `verdict`; clears the record.
void script(Verdict verdict);
// The dialogs run so far, the names each was given, and their Remote Desktop flags.
int calls();
const std::vector<std::vector<std::string>>& names();
const std::vector<bool>& rdp();

}  // namespace ScriptedDialog
