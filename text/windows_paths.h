// Full Windows paths as the file functions take them. Pure, so that the
// rules are tested on every system (wine does not hold paths to the 260
// characters that Windows does).
#pragma once

#include <string>

// Paths from this length on get the \\?\ prefix, which lifts the MAX_PATH
// (260) limit. 248 is the limit for folder names, and leaves room for a
// temporary name beside a file; shorter paths go without the prefix and keep
// every rule of the plain form.
constexpr std::size_t kLongPathLength = 248;

// `fullPath` (absolute, as GetFullPathNameW gives it) with the \\?\ prefix
// when it is long: \\?\C:\... for a drive, \\?\UNC\server\share\... for a
// network path. A path that has the prefix already stays as it is.
std::u16string LongPathForm(const std::u16string& fullPath);

// True when `fullPath` names a device rather than a file: GetFullPathNameW
// gives \\.\NUL, \\.\CON, \\.\COM1 for the reserved names in any folder, and
// \\.\ is how pipes and devices are named.
bool IsDevicePath(const std::u16string& fullPath);
