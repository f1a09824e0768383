// The folder of the running program: where the files shipped beside it are.
#include <gtest/gtest.h>

#include <filesystem>

#include "system/executable_folder.h"
#include "tests/test_files.h"

namespace {

TEST(ExecutableFolder, EndsInASeparatorAndHoldsThisProgram) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_TRUE(folder.back() == '/' || folder.back() == '\\') << folder;
  bool found = false;
  for (const auto& entry : std::filesystem::directory_iterator(testfiles::FromUtf8(folder))) {
    found = found || entry.path().filename().string().rfind("system_tests", 0) == 0;
  }
  EXPECT_TRUE(found) << folder;
}

}  // namespace
