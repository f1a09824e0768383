// File names as typed at the prompts, turned into names for the file system.
#pragma once

#include <string>

// The typed name (UTF-8, or bytes as a script gave them) goes to the file
// system unchanged and whole: it is never shortened, so a name the system
// refuses as too long fails to open instead of naming another file. Empty
// when the name cannot be opened at all: empty, or holding "*", "?" or a NUL.
std::string FileSystemName(const std::string& typedName);
