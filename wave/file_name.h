// File names as typed at the prompts, turned into names for the file system.
#pragma once

#include <string>

// A typed name holds 8-bit characters (U+0020-U+00FF). The file system gets
// its first 255 characters encoded as UTF-8. Empty when the name cannot be
// opened at all: empty, or holding "*" or "?".
std::string FileSystemName(const std::string& typedName);
