// How the program starts, which differs between systems: main on POSIX,
// wmain on Windows, whose command line is UTF-16 (a name dropped on the
// program's icon may hold any character). Both hand the arguments after the
// program's own name to ProgramMain as UTF-8, and end the process with what
// it returns.
#pragma once

#include <string>
#include <vector>

// Defined by the program (app/main.cpp).
int ProgramMain(const std::vector<std::string>& arguments);
