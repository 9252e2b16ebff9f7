#include "ScriptedDialogRunner.h"

#include <stdexcept>

#include "DialogRunner.h"

namespace ScriptedDialog {

namespace {
struct Record {
  Verdict verdict = Verdict::Refuse;
  std::vector<std::vector<std::string>> names;
  std::vector<bool> rdp;
};
Record& record() {
  static Record r;
  return r;
}
}  // namespace

void script(Verdict verdict) {
  record() = Record();
  record().verdict = verdict;
}
int calls() { return static_cast<int>(record().names.size()); }
const std::vector<std::vector<std::string>>& names() { return record().names; }
const std::vector<bool>& rdp() { return record().rdp; }

}  // namespace ScriptedDialog

namespace Korvath {
namespace Provider {

bool runMfaDialog(const MfaDialogRequest& request) {
  auto& r = ScriptedDialog::record();
  r.names.push_back(request.userNames != nullptr ? *request.userNames : std::vector<std::string>());
  r.rdp.push_back(request.isRdpSession != nullptr && *request.isRdpSession);
  if (r.verdict == ScriptedDialog::Verdict::Throw) throw std::runtime_error("the dialog failed");
  return r.verdict == ScriptedDialog::Verdict::Approve;
}

}  // namespace Provider
}  // namespace Korvath
