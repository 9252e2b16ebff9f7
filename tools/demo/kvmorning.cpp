// kvmorning: a morning at a reception desk, signed in through KvCredProv.dll. A test tool for
// the demo (tools/demo/windows-morning.sh installs the machine and runs it under Wine).
//
// This process plays LogonUI: the LogonUI stand-in (KvLogonUi) loads the registered providers
// and filters through COM, so the real DLL, its gate and its MFA dialog run here, and every
// sign-in blocks in GetSerialization while the dialog is up. A second thread plays the person
// at the desk: it waits for the dialog window, takes its screenshot and works it as a person
// would (an option button, the digits of a code, Enter, Back). The people's phones are the
// fixture's token secrets (a code is computed with the SDK's HOTP, as the phone does) and the
// simulator's control API (a push is approved or denied there, as on the phone).
//
//   kvmorning --fixture <json> --port <n> --screenshots <dir> --run <dir>
//
// --run: the runner's folder. The morning asks the runner to cut the network and to bring it
// back there (it writes "down" or "up" to network.request and waits until network.state says
// so) and leaves the agent's log there, opened, as agent-log.txt.
// Exit 0 only when every sign-in ends as expected and the agent's log holds no secret.

#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <rapidjson/document.h>

#include "AuthenticationSdk/Hotp.h"
#include "Commons/Encoding.h"
#include "Korvath/HttpsExchange.h"
#include "Korvath/LogonMessage.h"
#include "Korvath/Test/UiFixture.h"
#include "Korvath/View/DialogMessages.h"
#include "KvLogRead/SealedLog.h"
#include "KvLogonUi/LogonUi.h"

namespace {

using namespace Korvath::View;
using Korvath::Test::WindowDriver;
using Clock = std::chrono::steady_clock;

// Generous limits: a loaded machine is slow, but a step that never comes must not hang the run.
constexpr DWORD kDialogLimitMs = 120000;
constexpr DWORD kStepLimitMs = 60000;

enum class Act { Push, Otp, Nothing };

struct Step {
  const char* user;
  const char* her;      // "her" or "his"
  const char* factor;   // as the summary shows it
  Act act;
  bool approve;         // push: what the phone answers
  const char* network;  // "down" or "up" before this sign-in, or null
  bool signsIn;         // expected outcome
};

const Step kMorning[] = {
    {"alice", "her", "push", Act::Push, true, nullptr, true},
    {"bob", "his", "OTP", Act::Otp, false, nullptr, true},
    {"alice", "her", "OTP, offline", Act::Otp, false, "down", true},
    {"carol", "her", "push, denied", Act::Push, false, "up", false},
    {"dave", "his", "none (policy)", Act::Nothing, false, nullptr, true},
};

// The password wrapper's tile: the stand-in for Windows' password provider inside our wrapper.
const char* const kPasswordTile = "{BCB72349-6C97-4E3F-94B5-6EA045F85CA5}";

struct Token {
  std::vector<std::uint8_t> secret;
  unsigned digits = 6;
  CryptoSdk::HashAlgorithm algorithm = CryptoSdk::HashAlgorithm::Sha1;
  std::uint64_t counter = 0;
};

struct Options {
  std::string fixture;
  std::uint16_t port = 0;
  std::string screenshots;
  std::string run;
};

// What the fixture tells: each user's first token and the account's secrets (for the log check).
struct Fixture {
  std::map<std::string, Token> tokens;
  std::vector<std::string> secrets;
};

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

std::wstring wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

bool readFixture(const std::string& path, Fixture& out) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  rapidjson::Document doc;
  doc.Parse(text.str().c_str());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("accounts") || !doc["accounts"].IsArray() ||
      doc["accounts"].Empty())
    return false;
  const rapidjson::Value& account = doc["accounts"][0];
  for (const char* key : {"integrationKey", "masterPassword"})
    if (account.HasMember(key) && account[key].IsString()) out.secrets.push_back(account[key].GetString());
  if (!account.HasMember("users") || !account["users"].IsArray()) return false;
  for (const rapidjson::Value& user : account["users"].GetArray()) {
    if (!user.HasMember("login") || !user["login"].IsString() || !user.HasMember("authenticators") ||
        !user["authenticators"].IsArray() || user["authenticators"].Empty())
      continue;
    const rapidjson::Value& a = user["authenticators"][0];
    if (!a.IsObject() || !a.HasMember("secret") || !a["secret"].IsString()) return false;
    Token token;
    const std::string hex = a["secret"].GetString();
    if (!Commons::Hex::decode(hex, token.secret)) return false;
    out.secrets.push_back(hex);
    if (a.HasMember("otpDigits") && a["otpDigits"].IsUint()) token.digits = a["otpDigits"].GetUint();
    if (a.HasMember("otpAlgorithm") && a["otpAlgorithm"].IsUint())
      token.algorithm = static_cast<CryptoSdk::HashAlgorithm>(a["otpAlgorithm"].GetUint());
    if (a.HasMember("counter") && a["counter"].IsUint64()) token.counter = a["counter"].GetUint64();
    out.tokens[user["login"].GetString()] = token;
  }
  return true;
}

// The simulator's control API, over the agent's own HTTPS layer (WinHTTP, the run's CA).
bool control(std::uint16_t port, const std::string& method, const std::string& path, const std::string& body,
             std::string& answer) {
  Korvath::Cloud::HttpsExchange exchange;
  if (exchange.open("localhost", port, method, path, {"Content-Type: application/json"}) != 0) return false;
  const Korvath::Cloud::HttpsResult result = exchange.sendAndReceive(body);
  answer = result.body;
  return result.answered() && result.httpStatus == 200;
}

// The identifier of the push waiting on `login`'s phone, once the dialog has sent it.
std::string pendingPush(std::uint16_t port, const std::string& login, const std::atomic<bool>& done) {
  const ULONGLONG end = GetTickCount64() + kStepLimitMs;
  while (!done && GetTickCount64() < end) {
    std::string answer;
    rapidjson::Document pushes;
    if (control(port, "GET", "/_sim/pushes", "", answer) && !pushes.Parse(answer.c_str()).HasParseError() &&
        pushes.IsArray()) {
      for (const rapidjson::Value& p : pushes.GetArray()) {
        if (p.IsObject() && p.HasMember("login") && p["login"].IsString() && login == p["login"].GetString() &&
            p.HasMember("status") && p["status"].IsString() && std::string("pending") == p["status"].GetString() &&
            p.HasMember("transactionId") && p["transactionId"].IsString())
          return p["transactionId"].GetString();
      }
    }
    Sleep(200);
  }
  return std::string();
}

// Asks the runner to cut the network or bring it back, and waits until it has.
bool setNetwork(const std::string& dir, const std::string& state) {
  const std::string request = dir + "\\network.request";
  {
    std::ofstream out(request + ".tmp", std::ios::binary | std::ios::trunc);
    out << state << "\n";
  }
  if (!MoveFileExA((request + ".tmp").c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) return false;
  const ULONGLONG end = GetTickCount64() + kStepLimitMs;
  while (GetTickCount64() < end) {
    std::ifstream in(dir + "\\network.state");
    std::string now;
    if (in >> now && now == state) return true;
    Sleep(100);
  }
  return false;
}

// What the person at the desk saw and did during one sign-in.
struct Seen {
  bool dialog = false;
  std::vector<std::string> notes;  // what happened, screenshots included, in order
  std::string failure;  // empty when everything the person meant to do could be done
};

class Person {
 public:
  Person(const Options& options, const Step& step, const std::string& code, int number, const std::atomic<bool>& done)
      : options_(options), step_(step), code_(code), number_(number), done_(done) {}

  void run(Seen& seen) {
    seen_ = &seen;
    HWND dialog = nullptr;
    const ULONGLONG end = GetTickCount64() + (step_.act == Act::Nothing ? INFINITE : kDialogLimitMs);
    while (dialog == nullptr && !done_ && GetTickCount64() < end)
      dialog = Korvath::Test::waitForWindow(kMfaDialogClass, 100);
    if (dialog == nullptr) {
      if (step_.act != Act::Nothing && !done_) seen.failure = "no MFA dialog appeared";
      return;
    }
    seen.dialog = true;
    if (step_.act == Act::Nothing) {
      seen.failure = "an MFA dialog appeared";
    } else if (!work(dialog)) {
      // Whatever went wrong, the sign-in must end: the person closes the dialog (a refusal).
      if (IsWindow(dialog)) screenshot(dialog, "unexpected");
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
    if (!until([&] { return !IsWindow(dialog) || done_; }, kStepLimitMs)) {
      fail("the dialog did not close");
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    }
  }

 private:
  bool fail(const std::string& why) {
    if (seen_->failure.empty()) seen_->failure = why;
    return false;
  }
  void note(const std::string& line) { seen_->notes.push_back(line); }

  // Polls a condition that another thread makes true (a window shown or gone).
  static bool until(const std::function<bool()>& condition, DWORD limitMs) {
    const ULONGLONG end = GetTickCount64() + limitMs;
    while (!condition()) {
      if (GetTickCount64() >= end) return false;
      Sleep(20);
    }
    return true;
  }

  // Clicks until the click has its effect, as a person clicks again when nothing happens: the
  // dialog ignores clicks for a moment after Enter or Send Push.
  bool click(WindowDriver& driver, HWND button, const std::function<bool()>& happened) {
    const ULONGLONG end = GetTickCount64() + kStepLimitMs;
    while (button != nullptr && GetTickCount64() < end) {
      driver.click(button);
      if (until(happened, 2000)) return true;
    }
    return false;
  }

  // Keys go where the keyboard focus is, as a keyboard's do, and only as key presses: the
  // dialog's message loop makes the characters (TranslateMessage posts them while it handles
  // the key, so a second sync waits for them too).
  static bool press(WindowDriver& driver, UINT virtualKey) {
    HWND focus = driver.focus();
    return driver.key(focus != nullptr ? focus : driver.window(), virtualKey) && driver.sync();
  }

  // Saves what the dialog shows now, once Wine has finished painting it (two captures agree).
  void screenshot(HWND dialog, const std::string& what) {
    RedrawWindow(dialog, nullptr, nullptr, RDW_INVALIDATE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    Korvath::Test::Image shot = Korvath::Test::captureWindow(dialog);
    for (int i = 0; i < 30; ++i) {
      Sleep(100);
      Korvath::Test::Image again = Korvath::Test::captureWindow(dialog);
      if (again.pixels == shot.pixels) break;
      shot = std::move(again);
    }
    std::string name = std::to_string(number_) + "-" + step_.user + "-" + what + ".png";
    if (Korvath::Test::savePng(shot, wide(options_.screenshots + "\\" + name)))
      note("screenshot " + name);
    else
      fail("screenshot " + name + " could not be saved");
  }

  static bool shown(HWND parent, UINT id) {
    HWND window = GetDlgItem(parent, static_cast<int>(id));
    return window != nullptr && IsWindowVisible(window);
  }

  // The panel of the person's factor, choosing its option button when another panel is shown.
  HWND panel(WindowDriver& driver, UINT panelId, UINT optionCommand, const char* option) {
    HWND dialog = driver.window();
    if (!shown(dialog, panelId)) {
      note(std::string(step_.user) + " chooses " + option);
      if (!click(driver, driver.item(static_cast<int>(optionCommand)), [&] { return shown(dialog, panelId); }))
        return nullptr;
    }
    return GetDlgItem(dialog, static_cast<int>(panelId));
  }

  // What the panel's error label says, on one line.
  std::string says(WindowDriver& driver, HWND panel) {
    std::string text = narrow(driver.text(driver.item(static_cast<int>(kErrorMessageLabelId), panel)));
    for (char& c : text) c = c == '\n' || c == '\r' ? ' ' : c;
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
  }

  bool work(HWND dialog) {
    WindowDriver driver(dialog);
    // The first panel is made before the dialog is shown.
    if (!until([&] { return IsWindowVisible(dialog) != FALSE; }, kStepLimitMs)) return fail("the dialog was not shown");
    return step_.act == Act::Push ? push(driver) : otp(driver);
  }

  bool push(WindowDriver& driver) {
    HWND p = panel(driver, kPushPanelId, kCmdPush, "Push");
    if (p == nullptr) return fail("no push panel");
    HWND send = driver.item(static_cast<int>(kSendPushButtonId), p);
    if (send != nullptr && driver.isEnabled(send)) {
      note(std::string(step_.user) + " clicks Send Push");
      driver.click(send);
    } else {
      note("the dialog sends the push by itself (" + std::string(step_.her) + " automatic push is on)");
    }
    const std::string id = pendingPush(options_.port, step_.user, done_);
    if (id.empty()) return fail("no push reached the simulator");
    screenshot(driver.window(), "push-sent");
    std::string answer;
    const std::string decision = step_.approve ? "approve" : "deny";
    if (!control(options_.port, "POST", "/_sim/push",
                 "{\"transactionId\":\"" + id + "\",\"decision\":\"" + decision + "\"}", answer))
      return fail("the simulator did not take the decision: " + answer);
    note(std::string(step_.user) + "'s phone " + (step_.approve ? "approves" : "denies") + " the push");
    if (step_.approve) return true;
    HWND message = driver.item(static_cast<int>(kErrorMessageLabelId), p);
    if (!until([&] { return IsWindowVisible(message) && !driver.text(message).empty(); }, kStepLimitMs))
      return fail("the dialog did not say that the push was denied");
    note("the dialog says: \"" + says(driver, p) + "\"");
    screenshot(driver.window(), "push-denied");
    note(std::string(step_.user) + " clicks Back");
    HWND dialog = driver.window();
    return click(driver, driver.item(static_cast<int>(kCmdBack)), [dialog] { return !IsWindowVisible(dialog); });
  }

  bool otp(WindowDriver& driver) {
    HWND dialog = driver.window();
    if (shown(dialog, kPushPanelId)) {
      // The automatic push of the push panel shown first: the person sees how it ends.
      HWND p = GetDlgItem(dialog, static_cast<int>(kPushPanelId));
      HWND message = driver.item(static_cast<int>(kErrorMessageLabelId), p);
      if (until([&] { return IsWindowVisible(message) && !driver.text(message).empty(); }, kStepLimitMs)) {
        note("the dialog shows the push panel and says: \"" + says(driver, p) + "\"");
        screenshot(dialog, "push-unanswered");
      }
    }
    HWND p = panel(driver, kOtpPanelId, kCmdOtp, "One-Time Password");
    if (p == nullptr) return fail("no OTP panel");
    HWND box = driver.item(static_cast<int>(kOtpBoxId), p);
    if (box == nullptr) return fail("no OTP box");
    note(std::string(step_.user) + " types the " + std::to_string(code_.size()) + " digits " + step_.her + " phone shows");
    // A digit typed outside the box is put into it, and the box takes the focus.
    for (char digit : code_) press(driver, static_cast<UINT>(digit));
    const std::string typed = narrow(driver.text(box));
    if (typed != code_) return fail("the OTP box holds " + std::to_string(typed.size()) + " characters, not the code");
    screenshot(dialog, step_.network != nullptr ? "otp-offline" : "otp");
    note(std::string(step_.user) + " presses Enter");
    // Enter ends the dialog: nothing is left to wait for on its thread. (Without a focused
    // window, the dialog being inactive, the person has clicked into the box.)
    HWND focus = driver.focus();
    driver.post(focus != nullptr ? focus : box, WM_KEYDOWN, VK_RETURN, 1);
    driver.post(focus != nullptr ? focus : box, WM_KEYUP, VK_RETURN, static_cast<LPARAM>(0xC0000001));
    return true;
  }

  static std::string narrow(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
  }

  const Options& options_;
  const Step& step_;
  std::string code_;
  int number_;
  const std::atomic<bool>& done_;
  Seen* seen_ = nullptr;
};

struct Row {
  const Step* step;
  std::string outcome;
  double seconds;
  bool expected;
};

int usage() {
  std::fprintf(stderr, "usage: kvmorning --fixture <json> --port <n> --screenshots <dir> --run <dir>\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--fixture") options.fixture = value;
    else if (name == "--port") options.port = static_cast<std::uint16_t>(std::atoi(value.c_str()));
    else if (name == "--screenshots") options.screenshots = value;
    else if (name == "--run") options.run = value;
    else return usage();
  }
  Fixture fixture;
  if (argc != 9 || options.port == 0 || !readFixture(options.fixture, fixture)) return usage();
  CreateDirectoryA(options.screenshots.c_str(), nullptr);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;

  std::vector<Row> rows;
  std::vector<std::string> used;  // passwords and codes typed this morning, looked for in the log
  {
    KvLogonUi::LogonUi logonUi;
    int number = 0;
    for (const Step& step : kMorning) {
      ++number;
      say("");
      if (step.network != nullptr) {
        const bool down = std::string(step.network) == "down";
        say(down ? "-- the network is cut: the cloud service cannot be reached --"
                 : "-- the network is back --");
        if (!setNetwork(options.run, step.network)) {
          say("   the runner did not change the network");
          rows.push_back({&step, "not run: network unchanged", 0, false});
          continue;
        }
      }
      const std::string password = std::string("Desk-") + step.user + "-2024!";
      std::string code;
      if (step.act == Act::Otp) {
        Token& token = fixture.tokens[step.user];
        AuthenticationSdk::Hotp::generate(token.secret, token.counter++, token.digits, token.algorithm, code);
        used.push_back(code);
      }
      used.push_back(password);
      say("[" + std::to_string(number) + "] " + step.user + " types " + step.her + " password at the password tile");

      std::atomic<bool> done{false};
      Seen seen;
      Person person(options, step, code, number, done);
      std::thread desk([&] { person.run(seen); });
      KvLogonUi::SignIn request;
      KvLogonUi::parseGuid(kPasswordTile, request.tile);
      request.user = wide(step.user);
      request.password = wide(password);
      const Clock::time_point start = Clock::now();
      const KvLogonUi::Outcome outcome = logonUi.signIn(request);
      const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
      done = true;
      desk.join();

      say(std::string("    ") + (seen.dialog ? "the MFA dialog appears" : "no MFA dialog"));
      for (const std::string& note : seen.notes) say("    " + note);
      const KvLogonUi::Submission none;
      const KvLogonUi::Submission& s = outcome.submissions.empty() ? none : outcome.submissions.front();
      const Korvath::Authentication::LogonMessageNames names = Korvath::Authentication::readLogonMessageNames(s.bytes);
      const bool signedIn = s.hr == S_OK && s.response == CPGSR_RETURN_CREDENTIAL_FINISHED && names.readable &&
                            std::string(names.userName.begin(), names.userName.end()) == step.user;
      const bool refused = s.hr == E_ACCESSDENIED && s.bytes.empty() && s.response == CPGSR_NO_CREDENTIAL_NOT_FINISHED;
      std::string outcomeText;
      if (signedIn) {
        say("    LogonUI stand-in: GetSerialization hr=" + KvLogonUi::hr(s.hr) + ", a logon of " +
            std::to_string(s.bytes.size()) + " bytes for " + std::string(names.domain.begin(), names.domain.end()) +
            "\\" + step.user + ": " + step.user + " is signed in");
        outcomeText = seen.dialog ? "signed in" : "signed in, no dialog";
      } else if (refused) {
        say("    LogonUI stand-in: GetSerialization hr=" + KvLogonUi::hr(s.hr) +
            " (E_ACCESSDENIED), no credential: " + step.user + " is not signed in");
        outcomeText = "refused: E_ACCESSDENIED, no credential";
      } else {
        say("    LogonUI stand-in: GetSerialization hr=" + KvLogonUi::hr(s.hr) + " response=" +
            std::to_string(s.response) + " size=" + std::to_string(s.bytes.size()));
        outcomeText = "unexpected: hr " + KvLogonUi::hr(s.hr);
      }
      const bool expected = seen.failure.empty() && (step.signsIn ? signedIn : refused) &&
                            seen.dialog == (step.act != Act::Nothing);
      if (!seen.failure.empty()) say("    FAILED: " + seen.failure);
      rows.push_back({&step, outcomeText, seconds, expected});
    }
  }
  CoUninitialize();

  // The agent's log of the morning, opened with this machine's key: every record goes to
  // agent-log.txt, the info and error records to the screen; none may hold a password, a code
  // typed, a token secret or a key of the account.
  std::vector<KvLogRead::Record> records;
  std::string error;
  bool logClean = KvLogRead::readSealedLog("", records, error);
  std::vector<std::string> secrets = fixture.secrets;
  secrets.insert(secrets.end(), used.begin(), used.end());
  std::map<std::string, int> levels;
  int leaks = 0;
  const std::string logText = options.run + "\\agent-log.txt";
  std::ofstream text(logText, std::ios::trunc);
  std::vector<std::string> shown;
  for (const KvLogRead::Record& r : records) {
    std::string line = r.opened ? r.message : "<not opened>";
    bool leak = !r.opened;
    for (const std::string& secret : secrets) leak = leak || line.find(secret) != std::string::npos;
    if (leak) {
      ++leaks;
      line = "<withheld: it holds a secret or does not open>";
    }
    ++levels[r.level];
    text << r.asctime << " " << r.level << " " << line << "\n";
    if (r.level == "info" || r.level == "error") shown.push_back(r.level + " " + line);
  }
  say("");
  if (!logClean) {
    say("== the agent's log could not be read: " + error);
  } else {
    std::string counts;
    for (const auto& level : levels) counts += (counts.empty() ? "" : ", ") + std::to_string(level.second) + " " + level.first;
    say("== the agent's log, opened with this machine's key: " + std::to_string(records.size()) + " records (" + counts +
        ")");
    say("   its info and error records (every record: agent-log.txt in the run folder):");
    for (const std::string& line : shown) say(line);
  }
  logClean = logClean && leaks == 0 && !records.empty();
  say(logClean ? "-- no record holds a password, a code typed, a token secret or a key of the account"
               : "-- FAILED: " + std::to_string(leaks) + " record(s) hold a secret or do not open");

  say("");
  say("== the morning");
  std::printf("%-6s %-15s %-40s %8s  %s\n", "user", "factor", "outcome", "time", "");
  bool all = logClean;
  for (const Row& row : rows) {
    std::printf("%-6s %-15s %-40s %6.1f s  %s\n", row.step->user, row.step->factor, row.outcome.c_str(), row.seconds,
                row.expected ? "as expected" : "NOT AS EXPECTED");
    all = all && row.expected;
  }
  std::fflush(stdout);
  return all ? 0 : 1;
}
