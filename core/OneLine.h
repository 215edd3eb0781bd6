#pragma once

#include <cstddef>
#include <string>

// Text from outside (a path, a process name) made fit for a one-line message: each control
// character (0x00 to 0x1F, 0x7F) is shown as \xHH, so that a name holding a line feed or an
// escape sequence can neither split the line nor act on the terminal. Everything else is kept.
std::string OneLine(const std::string& text);

// A value a reason quotes (a setting, part of a URL): every byte but printable ASCII as \xHH,
// and at most longest bytes of it, then "...".
std::string Printable(const std::string& text, std::size_t longest);
