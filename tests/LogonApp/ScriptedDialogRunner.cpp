#include "ScriptedDialogRunner.h"

#include <stdexcept>

#include "DialogRunner.h"

namespace {
ScriptedDialog::Verdict g_verdict = ScriptedDialog::Verdict::Refuse;
std::vector<ScriptedDialog::Dialog> g_dialogs;
}  // namespace

void ScriptedDialog::script(Verdict verdict) {
  g_verdict = verdict;
  g_dialogs.clear();
}

const std::vector<ScriptedDialog::Dialog>& ScriptedDialog::dialogs() { return g_dialogs; }

bool Korvath::Provider::runMfaDialog(const MfaDialogRequest& request) {
  g_dialogs.push_back({*request.userNames, *request.isRdpSession});
  if (g_verdict == ScriptedDialog::Verdict::Throw) throw std::runtime_error("the dialog failed");
  return g_verdict == ScriptedDialog::Verdict::Approve;
}
