// Names as people type them, through the real program in plain mode: every
// script, bytes that are not UTF-8, names longer than the system allows,
// paths longer than 255 characters, and how the answers may end.
#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <ostream>
#include <string>

#include "tests/app/app_test_support.h"

namespace fs = std::filesystem;

namespace {

using apptest::MakeWave;
using apptest::ReadFile;
using apptest::Row;
using apptest::RunResult;
using apptest::WriteFile;

const std::string kNotFound = "ERROR: File not found. Please enter a valid filename\n";
const std::string kNotWritten = "ERROR: The output file could not be written\n";

std::string EndedAt(const std::string& prompt) {
  return "ERROR: input ended at the prompt \"" + prompt + "\"\n";
}

// The program runs in the work folder, which holds only what a test puts
// there, with the input recording and filter B.
class Names : public apptest::WorkFolderTest {
 protected:
  void SetUp() override {
    WorkFolderTest::SetUp();
    if (HasFatalFailure()) return;
    WriteFile(work_ / "FilterB.dat", apptest::ImpulseText({"65536"}, 19, "0", "\n"));
    WriteFile(work_ / "in.wav", Recording());
  }

  static std::string Recording() { return MakeWave(1, 96000, {100, -100, 2000}); }
};

struct ScriptCase {
  const char* label;
  std::string name;   // as typed and as the file is called
  std::string shown;  // as the screen shows it
};

void PrintTo(const ScriptCase& c, std::ostream* os) { *os << c.label; }

class NamesInEveryScript : public Names, public ::testing::WithParamInterface<ScriptCase> {};

TEST_P(NamesInEveryScript, OpenTheInputAndWriteTheOutput) {
  const ScriptCase& c = GetParam();
  WriteFile(work_ / c.name, Recording());
  const std::string output = "out " + c.name;
  const RunResult r = Run(c.name + "\nB\n" + output + "\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(Row(r, 8), "   Input file?   " + c.shown);
  EXPECT_EQ(Row(r, 23), "   Output file?  out " + c.shown);
  EXPECT_EQ(ReadFile(work_ / output).size(), 44u + 21 * 3 + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, NamesInEveryScript,
    ::testing::Values(ScriptCase{"Latin-1", "caf\xc3\xa9 \xc3\xbf.wav", "caf\xc3\xa9 \xc3\xbf.wav"},
                      ScriptCase{"Central European",
                                 "\xc5\x81\xc3\xb3"
                                 "d\xc5\xba \xc5\x91.wav",
                                 "\xc5\x81\xc3\xb3"
                                 "d\xc5\xba \xc5\x91.wav"},
                      ScriptCase{"Cyrillic", "\xd0\x97\xd0\xb0\xd0\xbf\xd0\xb8\xd1\x81\xd1\x8c.wav",
                                 "\xd0\x97\xd0\xb0\xd0\xbf\xd0\xb8\xd1\x81\xd1\x8c.wav"},
                      ScriptCase{"Greek", "\xce\x97\xcf\x87\xce\xbf\xcf\x82.wav",
                                 "\xce\x97\xcf\x87\xce\xbf\xcf\x82.wav"},
                      ScriptCase{"CJK", "\xe9\x8c\xb2\xe9\x9f\xb3 \xe6\x97\xa5\xe6\x9c\xac.wav",
                                 "\xe9\x8c\xb2\xe9\x9f\xb3 \xe6\x97\xa5\xe6\x9c\xac.wav"},
                      ScriptCase{"emoji", "\xf0\x9f\x8e\xb5 take 1.wav",
                                 "\xf0\x9f\x8e\xb5 take 1.wav"},
                      // A decomposed name (e and a combining acute) is kept whole; the
                      // mark takes no cell of the screen.
                      ScriptCase{"decomposed", "cafe\xcc\x81.wav", "cafe.wav"},
                      // A legacy name in Latin-1 bytes opens as those bytes.
                      ScriptCase{"Latin-1 bytes", "caf\xe9.wav", "caf\xef\xbf\xbd.wav"}));

TEST_F(Names, BytesThatAreNotUtf8NeverNameAnotherFile) {
  WriteFile(work_ / "caf\xef\xbf\xbd.wav", Recording());  // the replacement character
  WriteFile(work_ / "caf.wav", Recording());
  const RunResult r = Run("caf\xe9.wav\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, kNotFound + EndedAt("Input file?"));
}

TEST_F(Names, NameLongerThanTheSystemAllowsOpensNothingElse) {
  WriteFile(work_ / std::string(255, 'z'), Recording());
  const RunResult r = Run(std::string(296, 'z') + ".wav\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, kNotFound + EndedAt("Input file?"));
}

TEST_F(Names, OutputNameLongerThanTheSystemAllowsIsReportedAndWritesNothing) {
  const RunResult r = Run("in.wav\nB\n" + std::string(1396, 'o') + ".wav\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, kNotWritten);
  // Nothing beside the filter and the recording: no file under a shorter name.
  EXPECT_EQ(std::distance(fs::directory_iterator(work_), fs::directory_iterator()), 2);
}

TEST_F(Names, PathLongerThan255CharactersOpensAndIsWritten) {
  const std::string folder =
      std::string(100, 'd') + "/" + std::string(100, 'e') + "/" + std::string(100, 'f');
  fs::create_directories(work_ / folder);
  const std::string input = folder + "/in \xe6\x97\xa5.wav";
  const std::string output = folder + "/out \xf0\x9f\x8e\xb5.wav";
  ASSERT_GT(input.size(), 255u);
  WriteFile(work_ / input, Recording());
  const RunResult r = Run(input + "\nB\n" + output + "\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(ReadFile(work_ / output).substr(0, 4), "RIFF");
}

struct EndingCase {
  const char* label;
  std::string keys;
  int status;
  std::string errors;
};

void PrintTo(const EndingCase& c, std::ostream* os) { *os << c.label; }

class PlainEndings : public Names, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(PlainEndings, StatusAndStandardError) {
  const EndingCase& c = GetParam();
  const RunResult r = Run(c.keys);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.errors, c.errors);
  EXPECT_EQ(fs::exists(work_ / "out.wav"), c.status == 0);
}

const std::string kFilter = "Select whether to apply filter";

INSTANTIATE_TEST_SUITE_P(
    Cases, PlainEndings,
    ::testing::Values(EndingCase{"no line end after the last answer", "in.wav\nB\nout.wav", 0, ""},
                      EndingCase{"CR LF line ends", "in.wav\r\nB\r\nout.wav\r\n", 0, ""},
                      EndingCase{"no input at all", "", 1, EndedAt("Input file?")},
                      EndingCase{"after a rejected input file", "missing.wav\n", 1,
                                 kNotFound + EndedAt("Input file?")},
                      EndingCase{"at the filter question", "in.wav\n", 1, EndedAt(kFilter)},
                      EndingCase{"after a wrong filter answer", "in.wav\nx\n", 1,
                                 "ERROR: You must respond either B or F\n" + EndedAt(kFilter)},
                      EndingCase{"at the output prompt", "in.wav\nB\n", 1,
                                 EndedAt("Output file?")}));

}  // namespace
