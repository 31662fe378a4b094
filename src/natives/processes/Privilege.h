#pragma once
// Switches one privilege of the process token on or off.

namespace shipkit::natives {

// True when the token was adjusted without error (a privilege the token lacks fails).
bool setPrivilege(const wchar_t* name, bool enable);

}  // namespace shipkit::natives
