#include "wave/file_name.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

struct NameCase {
  const char* label;
  std::string typed;
  std::string expected;
};

void PrintTo(const NameCase& c, std::ostream* os) { *os << c.label; }

class FileSystemNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileSystemNameTest, MapsTypedName) {
  EXPECT_EQ(FileSystemName(GetParam().typed), GetParam().expected) << GetParam().label;
}

const std::string k300(300, 'a');

INSTANTIATE_TEST_SUITE_P(
    Names, FileSystemNameTest,
    ::testing::Values(
        NameCase{"plain", "in.wav", "in.wav"},
        NameCase{"blanks kept", " my file .wav ", " my file .wav "},
        NameCase{"path kept", "/tmp/x/in.wav", "/tmp/x/in.wav"},
        NameCase{"UTF-8 unchanged", "caf\xC3\xA9 \xC5\x91 \xE6\x97\xA5 \xF0\x9F\x8E\xB5.wav",
                 "caf\xC3\xA9 \xC5\x91 \xE6\x97\xA5 \xF0\x9F\x8E\xB5.wav"},
        // Bytes a script gave that are not UTF-8 stay those bytes.
        NameCase{"other bytes unchanged", "caf\xE9.wav", "caf\xE9.wav"},
        // Never shortened: the system refuses a name that is too long.
        NameCase{"300 characters whole", k300, k300},
        NameCase{"empty", "", ""},
        NameCase{"star", "a*b.wav", ""},
        NameCase{"question mark", "a?.wav", ""},
        NameCase{"star alone", "*", ""},
        NameCase{"wildcard after 300 characters", k300 + "*", ""},
        NameCase{"NUL inside", std::string("a\0b", 3), ""}));

}  // namespace
