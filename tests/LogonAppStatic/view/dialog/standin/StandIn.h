#pragma once

// TEST-ONLY STAND-IN, to be deleted when the real panels and ErrorMessage land on main.
//
// Minimal panels of the classes of Panels.h (a window of the right class and id with a label
// naming it) and a minimal ErrorMessage, linked only into the dialog frame's tests, so that the
// frame can be tested before the panels exist. A stand-in panel keeps the digits the dialog
// forwards to it (kMsgDigitToPanel) as its window text.

#include <atomic>

namespace Korvath {
namespace Test {
namespace StandIn {

// When set, creating a panel throws (a failure the dialog's window procedure must contain).
extern std::atomic<bool> throwOnCreate;

}  // namespace StandIn
}  // namespace Test
}  // namespace Korvath
