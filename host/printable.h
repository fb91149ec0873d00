// Text the user gave (file names, option values) as hap-export prints it:
// a name must not be able to move the cursor, clear the screen or forge a
// line of its own on the user's terminal.
#pragma once
#include <string>
#include <string_view>

namespace host {

// The text with each control character (C0, DEL and the C1 range written
// as UTF-8) escaped as \n, \r, \t or \xHH, and each backslash doubled so an
// escape cannot be mistaken for the name's own characters. A text with none
// of these is returned as it is.
std::string printable(std::string_view text);

}  // namespace host
