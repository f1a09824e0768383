// Where the program's own file lies, to find the files shipped with it.
#pragma once

#include <string>
#include <vector>

// The folder of the running executable in UTF-8, ending in the system's
// separator ('/' or '\'), so that a file name can be appended as it is.
// Empty when the system does not tell.
std::string ExecutableFolder();

// The folders where the files shipped with the program lie, in the order to
// look in them (after the current folder), each ending in its separator.
//   POSIX: the executable's folder; share/ostrivale beside its bin folder
//     (an installed tree wherever it was unpacked); the data folder it was
//     built to be installed with (OSTRIVALE_DATA_DIR).
//   Windows: the executable's folder, where the zip puts them.
std::vector<std::string> ShippedFileFolders();
