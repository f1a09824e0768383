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
const std::string k254(254, 'b');

INSTANTIATE_TEST_SUITE_P(
    Names, FileSystemNameTest,
    ::testing::Values(
        NameCase{"plain", "in.wav", "in.wav"},
        NameCase{"blanks kept", " my file .wav ", " my file .wav "},
        NameCase{"path kept", "/tmp/x/in.wav", "/tmp/x/in.wav"},
        NameCase{"latin-1 e acute", std::string("caf\xE9.wav"), std::string("caf\xC3\xA9.wav")},
        NameCase{"0x80 and 0xFF", std::string("\x80\xFF"), std::string("\xC2\x80\xC3\xBF")},
        NameCase{"cut to 255 characters", k300, std::string(255, 'a')},
        // The 255th character is a two-byte one and is kept whole; the 256th goes.
        NameCase{"cut counts characters", k254 + "\xE9" + "zz", k254 + "\xC3\xA9"},
        NameCase{"empty", "", ""},
        NameCase{"star", "a*b.wav", ""},
        NameCase{"question mark", "a?.wav", ""},
        NameCase{"star alone", "*", ""},
        // Only the characters that are used count: a wildcard cut off is harmless.
        NameCase{"wildcard beyond the cut", k300 + "*", std::string(255, 'a')},
        NameCase{"wildcard at 255", k254 + "?", ""},
        NameCase{"NUL inside", std::string("a\0b", 3), ""}));

}  // namespace
