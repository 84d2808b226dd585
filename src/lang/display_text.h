#pragma once

#include <string>
#include <string_view>

namespace vireo {

// Text that comes from outside the program (the names an IRD sends, machine
// names typed by the operator or read from the settings file), made fit to be
// shown: in a log line, a tree node, a window title, a message box or a tool's
// output. Every such place takes its text from here.
//
// The result is GBK and keeps the input byte for byte, except that
// - a control byte (0x00-0x1F, 0x7F) is written as a visible escape: \r, \n,
//   \t, or \x and two lower-case hex digits for the others;
// - a lead byte (0x81-0xFE) without a trail byte (0x40-0x7E, 0x80-0xFE) after
//   it, half a character, is written as \x and its two hex digits, so that it
//   cannot pair with whatever text follows it on the screen.
// So shown text never breaks a line, never moves the cursor of a terminal and
// never ends in half a character. A backslash of the input stays as it is.
//
// Stored names, and names sent back to the IRD, keep their own bytes; only
// what is shown passes through here.
std::string DisplayText(std::string_view text);

// A name for a JSON document: `text` is its display text in UTF-8; `hex` holds
// the name's own bytes in hex (two lower-case digits a byte) when `text`
// does not convert back to those bytes, and is empty when it does. Together
// they always give the name back.
struct JsonName
{
    std::string text;
    std::string hex;
};
JsonName NameForJson(std::string_view gbk);

} // namespace vireo
