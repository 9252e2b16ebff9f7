#pragma once

#include <string>

namespace Korvath {

// Removes secrets from a log message before it is written. The Logger applies it to
// every message; it is public so that its rules can be tested and relied upon.
//  1. JSON members whose key is sensitive (see docs/foundations.md: password, OTP,
//     authData, authenticationCode, blob, key, integrationKey, secret...) keep their key
//     and get the string value "***", whatever the value's type; so does a string
//     member "data" (the sealed body envelope).
//  2. Free text "<sensitive key>: value" or "<sensitive key>=value" (also "verification
//     code: value") loses everything from the value to the end of the message.
//  3. Any run of 40 or more Base64/hex characters holding both a letter and a digit
//     (sealed bodies, blobs, keys, digests) becomes "***".
std::string redactSecrets(const std::string& message);

}  // namespace Korvath
