// What the file tests of both systems share: the output file written the
// job's way, the two ways of naming it, and names that never open.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "system/files.h"
#include "tests/test_files.h"

namespace filestest {

using testfiles::Bytes;
using testfiles::ScratchFolder;

// The output file made the way the job makes it: created, written, made
// durable and named; abandoned at the first step that fails.
inline bool WriteOutput(const std::string& name, const Bytes& bytes,
                        OutputNaming naming = OutputNaming::kUnnamedWherePossible) {
  OutputFile file;
  if (!CreateOutputFile(name, file, naming)) return false;
  if (AppendOutput(file, bytes.data(), static_cast<std::int64_t>(bytes.size())) &&
      MakeOutputDurable(file) && NameOutputFile(file)) {
    return true;
  }
  AbandonOutputFile(file);
  return false;
}

// Tests that hold for both ways of naming the new file.
class Naming : public ::testing::TestWithParam<OutputNaming> {
 protected:
  ScratchFolder folder_;
};

inline std::string NamingLabel(const ::testing::TestParamInfo<OutputNaming>& naming) {
  return naming.param == OutputNaming::kHiddenName ? "HiddenName" : "Unnamed";
}

// A name that the output never writes over, made in a folder that holds the
// file "keep" and the folder "sub". Some such names still open for reading
// (a POSIX device or pipe: they read what they hold, which is no wave header).
struct NameCase {
  const char* label;
  std::function<std::string(const ScratchFolder&)> name;
  bool opensForReading = false;
};

inline void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

// The names of this system only (files_posix_test.cpp, files_windows_test.cpp).
std::vector<NameCase> SystemNameCases();

}  // namespace filestest
