// Secret removal for log messages. The rules are deliberately broad: a log line that
// loses a harmless value is acceptable, a log line that carries a password is not.
#include "Korvath/LogRedaction.h"

#include <cctype>
#include <cstring>

namespace Korvath {

namespace {

const char* const kMask = "***";

std::string lower(const std::string& s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Keys whose values are secrets, compared in lower case with '_' and '-' removed.
bool isSensitiveKey(const std::string& rawKey) {
  std::string key;
  for (char c : lower(rawKey)) {
    if (c != '_' && c != '-' && c != ' ') key.push_back(c);
  }
  static const char* const kExact[] = {"password", "passwd", "pwd", "pin", "otp", "key", "secret",
                                       "blob", "authdata", "authcode", "authenticationdata",
                                       "authenticationcode", "verificationcode", "integrationkey",
                                       "masterpassword", "userpassword", "privatekey", "seed",
                                       "passcode", "configkey", "logkey", "requestkey"};
  for (const char* k : kExact) {
    if (key == k) return true;
  }
  // "enableRememberPassword" and "checkRememberPassword" are switches, not passwords.
  if (key.find("remember") != std::string::npos) return false;
  static const char* const kContained[] = {"password", "passwd", "secret", "blob", "integrationkey",
                                           "authdata", "authenticationdata", "authenticationcode",
                                           "verificationcode", "privatekey", "passcode"};
  for (const char* k : kContained) {
    if (key.find(k) != std::string::npos) return true;
  }
  return false;
}

// End (one past the closing quote, or the text's end when unterminated) of the JSON
// string starting at the quote at `start`.
std::size_t jsonStringEnd(const std::string& s, std::size_t start) {
  std::size_t i = start + 1;
  while (i < s.size()) {
    if (s[i] == '\\') {
      i += 2;
      continue;
    }
    if (s[i] == '"') return i + 1;
    ++i;
  }
  return s.size();
}

// Raw contents of a JSON string with its escapes resolved (only the ones that matter
// for finding nested JSON: \" \\ \/ and the control escapes).
std::string unescape(const std::string& s, std::size_t begin, std::size_t end) {
  std::string out;
  for (std::size_t i = begin; i < end; ++i) {
    if (s[i] == '\\' && i + 1 < end) {
      const char n = s[++i];
      switch (n) {
        case 'n': out.push_back('\n'); break;
        case 't': out.push_back('\t'); break;
        case 'r': out.push_back('\r'); break;
        case 'b': out.push_back('\b'); break;
        case 'f': out.push_back('\f'); break;
        default: out.push_back(n); break;
      }
    } else {
      out.push_back(s[i]);
    }
  }
  return out;
}

std::string escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out.push_back(c); break;
    }
  }
  return out;
}

// End of a JSON object or array starting at `start`, honouring strings; the text's
// end when it is not closed.
std::size_t bracketEnd(const std::string& s, std::size_t start) {
  int depth = 0;
  std::size_t i = start;
  while (i < s.size()) {
    const char c = s[i];
    if (c == '"') {
      i = jsonStringEnd(s, i);
      continue;
    }
    if (c == '{' || c == '[') ++depth;
    if (c == '}' || c == ']') {
      if (--depth == 0) return i + 1;
    }
    ++i;
  }
  return s.size();
}

std::size_t skipSpace(const std::string& s, std::size_t i) {
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n')) ++i;
  return i;
}

std::string redactJson(const std::string& s, int depth);

// A string value that is not itself a secret may hold JSON text (a transaction or
// geolocation record sent as text); its members are redacted too.
std::string redactNested(const std::string& s, std::size_t contentBegin, std::size_t contentEnd,
                         int depth) {
  const std::string raw = s.substr(contentBegin, contentEnd - contentBegin);
  if (raw.find("\\\"") == std::string::npos) return raw;
  if (depth >= 4) return kMask;  // nested deeper than any record of ours: not scanned, not kept
  const std::string inner = unescape(s, contentBegin, contentEnd);
  const std::string redacted = redactJson(inner, depth + 1);
  return redacted == inner ? raw : escape(redacted);
}

std::string redactJson(const std::string& s, int depth) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] != '"') {
      out.push_back(s[i++]);
      continue;
    }
    const std::size_t keyEnd = jsonStringEnd(s, i);
    const bool closed = keyEnd <= s.size() && keyEnd > i + 1 && s[keyEnd - 1] == '"';
    std::size_t colon = closed ? skipSpace(s, keyEnd) : s.size();
    if (!closed || colon >= s.size() || s[colon] != ':') {
      // A plain string: copy it, looking inside for nested JSON text.
      const std::size_t contentEnd = closed ? keyEnd - 1 : keyEnd;
      out.push_back('"');
      out += redactNested(s, i + 1, contentEnd, depth);
      if (closed) out.push_back('"');
      i = keyEnd;
      continue;
    }
    const std::string key = unescape(s, i + 1, keyEnd - 1);
    const std::size_t valueStart = skipSpace(s, colon + 1);
    out.append(s, i, valueStart - i);  // the key, the colon and the spaces
    i = valueStart;
    if (i >= s.size()) break;
    const bool sensitive = isSensitiveKey(key);
    const char c = s[i];
    if (c == '"') {
      const std::size_t valueEnd = jsonStringEnd(s, i);
      if (sensitive || lower(key) == "data") {
        out += "\"***\"";
        i = valueEnd;
      }
      // otherwise the loop copies the string (and looks inside it) on its next turn
      continue;
    }
    if (c == '{' || c == '[') {
      if (sensitive) {
        out += "\"***\"";
        i = bracketEnd(s, i);
      }
      continue;
    }
    std::size_t valueEnd = i;
    while (valueEnd < s.size() && std::strchr(",}] \t\r\n", s[valueEnd]) == nullptr) ++valueEnd;
    const std::string scalar = s.substr(i, valueEnd - i);
    // Switches are never secrets; numbers under a sensitive key may be (a numeric OTP).
    if (sensitive && scalar != "true" && scalar != "false" && scalar != "null") {
      out += "\"***\"";
    } else {
      out += scalar;
    }
    i = valueEnd;
  }
  return out;
}

bool isWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Quotes and backslashes around a key or a value: the same key may come as free text,
// as JSON, or as JSON escaped inside another string.
bool isQuoting(char c) { return c == '"' || c == '\'' || c == '\\'; }

bool startsWithWord(const std::string& s, std::size_t at, const char* word) {
  const std::size_t n = std::strlen(word);
  return s.compare(at, n, word) == 0 && (at + n >= s.size() || !isWordChar(s[at + n]));
}

// "password: x", "OTP=123456", "verification code: 123", "authData : 'abc'", and the
// same keys in JSON that the JSON pass could not read (escaped, single-quoted). The
// value runs to the end of the message: a password may hold blanks, commas, quotes,
// anything, and a cut that keeps its tail would leak it.
std::string redactFreeText(const std::string& s) {
  std::size_t i = 0;
  std::string previous;  // the word before, when only blanks stand between them
  while (i < s.size()) {
    if (!isWordChar(s[i])) {
      if (!isBlank(s[i])) previous.clear();
      ++i;
      continue;
    }
    std::size_t wordEnd = i;
    while (wordEnd < s.size() && isWordChar(s[wordEnd])) ++wordEnd;
    const std::string word = s.substr(i, wordEnd - i);
    // "verification code", "OTP code", "authentication code" name a secret as two words.
    const bool sensitive = isSensitiveKey(word) ||
                           (!previous.empty() && lower(word) == "code" &&
                            (isSensitiveKey(previous) || isSensitiveKey(previous + word)));
    previous = word;
    i = wordEnd;
    if (!sensitive) continue;
    std::size_t sep = i;
    while (sep < s.size() && (isBlank(s[sep]) || isQuoting(s[sep]))) ++sep;
    if (sep >= s.size() || (s[sep] != ':' && s[sep] != '=')) continue;
    std::size_t value = sep + 1;
    while (value < s.size() && (std::isspace(static_cast<unsigned char>(s[value])) || isQuoting(s[value]))) ++value;
    if (value >= s.size()) continue;
    // Already masked by the JSON pass, or a switch ("otp": true in a factor map).
    if (s.compare(value, 3, kMask) == 0 || startsWithWord(s, value, "true") ||
        startsWithWord(s, value, "false") || startsWithWord(s, value, "null")) {
      continue;
    }
    return s.substr(0, sep + 1) + (s[sep + 1] == ' ' ? " " : "") + kMask;
  }
  return s;
}

bool isBase64Char(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '+' || c == '/' || c == '=';
}

// Long Base64 or hex runs: sealed bodies, blobs, keys and digests. Paths look alike
// but have a slash every few characters and short segments; they are kept.
std::string redactLongRuns(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    if (!isBase64Char(s[i])) {
      out.push_back(s[i++]);
      continue;
    }
    std::size_t end = i;
    bool letter = false, digit = false;
    std::size_t slashes = 0, segment = 0, longestSegment = 0;
    while (end < s.size() && isBase64Char(s[end])) {
      const char c = s[end];
      if (std::isalpha(static_cast<unsigned char>(c))) letter = true;
      if (std::isdigit(static_cast<unsigned char>(c))) digit = true;
      if (c == '/') {
        ++slashes;
        segment = 0;
      } else if (++segment > longestSegment) {
        longestSegment = segment;
      }
      ++end;
    }
    const std::size_t length = end - i;
    const bool pathLike = slashes * 10 >= length && longestSegment < 24;
    if (length >= 40 && letter && digit && !pathLike) {
      out += kMask;
    } else {
      out.append(s, i, length);
    }
    i = end;
  }
  return out;
}

}  // namespace

std::string redactSecrets(const std::string& message) {
  return redactLongRuns(redactFreeText(redactJson(message, 0)));
}

}  // namespace Korvath
