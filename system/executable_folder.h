// Where the program's own file lies, to find the files shipped beside it.
#pragma once

#include <string>

// The folder of the running executable in UTF-8, ending in the system's
// separator ('/' or '\'), so that a file name can be appended as it is.
// Empty when the system does not tell.
std::string ExecutableFolder();
