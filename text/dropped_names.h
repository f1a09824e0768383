// A file dropped on a terminal or a console window is typed as its name with
// marks around it: in one pair of quotes when the name holds a blank (double
// quotes in a Windows console and most terminals, single ones in GNOME
// Terminal and others), and in some terminals with one blank after it.
#pragma once

#include <string>
#include <string_view>

// The quotes each may put around a name: a Windows console's, and a terminal's.
constexpr std::string_view kConsoleQuotes = "\"";
constexpr std::string_view kTerminalQuotes = "\"'";

// `typed` without the marks of a dropped name: one blank after it left out,
// then one pair of the same one of `quotes` around it. Any other name stays
// as it is.
std::string WithoutDropMarks(std::string_view typed, std::string_view quotes);
