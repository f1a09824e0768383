// Impulse files: the field rules, the search for the file and the load with
// its scaling and its failure box.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "filter/impulse_file.h"
#include "system/executable_folder.h"
#include "tests/test_files.h"

namespace {

// The coefficients of a text that reads, or empty for one refused as damaged.
std::vector<double> Parse(const std::string& text, int count) {
  // Filled with a marker first so that a coefficient left unwritten shows.
  std::vector<double> out(static_cast<std::size_t>(count), -777.0);
  if (ParseImpulseText(text, count, out.data()) != ImpulseVerdict::kRead) return {};
  return out;
}

const std::vector<double> kDamaged;  // the text cannot serve as the filter

std::vector<double> WithZeros(std::vector<double> leading, int count) {
  leading.resize(static_cast<std::size_t>(count), 0.0);
  return leading;
}

struct ParseCase {
  const char* name;
  std::string text;
  int count;
  std::vector<double> expected;  // kDamaged: refused
};

std::string Repeat(const std::string& piece, int times) {
  std::string out;
  for (int k = 0; k < times; ++k) out += piece;
  return out;
}

std::vector<ParseCase> ParseCases() {
  return {
      {"CR LF lines", Repeat("65536\r\n", 19), 19, std::vector<double>(19, 65536.0)},
      {"CR only lines", "1\r2\r3\r", 3, {1.0, 2.0, 3.0}},
      {"LF lines", "0.5\n0.25\n0.125\n", 3, {0.5, 0.25, 0.125}},
      {"mixed line ends", "1\r\n2\n3\r4\r\n5", 5, {1.0, 2.0, 3.0, 4.0, 5.0}},
      {"one line with commas", "0.5,0.25", 2, {0.5, 0.25}},
      {"tab inside a field is dropped", "1\t2,3", 2, {12.0, 3.0}},
      {"exponents and a leading plus", "1.5E-3\r\n1.5D-3\r\n+2\r\n", 3, {0.0015, 0.0015, 2.0}},
      {"blanks before fields", "   1,  2\r\n   3", 3, {1.0, 2.0, 3.0}},
      {"blanks inside a field", "1 2 3,4", 2, {1.0, 4.0}},
      {"trailing blanks before the comma", "7   ,8", 2, {7.0, 8.0}},
      {"more fields than wanted", "1,2,3,4,5", 3, {1.0, 2.0, 3.0}},
      {"number then text", "12abc,3", 2, {12.0, 3.0}},
      {"last field without a line end", "1\r\n2", 2, {1.0, 2.0}},
      {"quoted fields with commas", "\"1.5\",\"2.5\"", 2, {1.5, 2.5}},
      {"quoted field holds a comma and a line end", "\"3,5\r\n\",4", 2, {3.0, 4.0}},
      {"quoted fields on CR LF lines", "\"1\"\r\n\"2\"\r\n\"3\"\r\n", 3, {1.0, 2.0, 3.0}},
      {"quoted fields on LF lines", "\"1\"\n\"2\"\n\"3\"\n", 3, {1.0, 2.0, 3.0}},
      {"blanks after the closing quote", "\"1\"   ,  2", 2, {1.0, 2.0}},
      {"quote without its end", "\"6.5", 1, {6.5}},
      {"text right after the closing quote starts the next field", "\"1\"2,3", 3, {1.0, 2.0, 3.0}},
      {"quote inside an unquoted field is kept", "4\"5\",6", 2, {4.0, 6.0}},
      {"Ctrl-Z inside a quoted field ends it",
       "\"2\x1a"
       "5\",7",
       1,
       {2.0}},
      {"byte-order mark before CR LF lines",
       "\xEF\xBB\xBF"
       "1.5\r\n-2\r\n",
       2,
       {1.5, -2.0}},
      {"too small for a double: 0 or subnormal", "1e-999\n5e-324", 2, {0.0, 5e-324}},
      // Refused: fewer fields than wanted, or a field without a number.
      {"empty text", "", 15, kDamaged},
      {"only blanks", "     ", 2, kDamaged},
      {"fewer fields than wanted", "1\r\n2\r\n", 5, kDamaged},
      {"fewer on one line", "0.5,0.25", 31, kDamaged},
      {"a word for a field", "1\nabc\n3\n", 3, kDamaged},
      {"a sign alone", "-\n4\n.5\n", 3, kDamaged},
      {"a point alone", "1,.,3", 3, kDamaged},
      {"garbage bytes", std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18), 3, kDamaged},
      {"two commas in a row", "1,,2", 3, kDamaged},
      {"a comma at each line end", Repeat("1.5,\r\n", 12), 20, kDamaged},
      {"an empty line with CR LF", "1\r\n\r\n2\r\n3\r\n", 3, kDamaged},
      {"an empty line with LF", "1\n\n2\n3\n", 3, kDamaged},
      {"CR LF then LF is an empty line", "1\r\n\n2", 2, kDamaged},
      {"CR CR is an empty field", "1\r\r2", 3, kDamaged},
      {"comma at the very end", "1,", 2, kDamaged},
      {"empty quoted field", "\"\",5", 2, kDamaged},
      {"Ctrl-Z ends the data",
       "1,2\x1a"
       "3,4",
       3, kDamaged},
      {"Ctrl-Z at a field start",
       "1,\x1a"
       "5",
       2, kDamaged},
      {"Ctrl-Z after a carriage return", "1\r\x1a\n2", 2, kDamaged},
      {"byte-order mark cut short",
       "\xEF\xBB"
       "1,2",
       2, kDamaged},
      {"byte-order mark after the start",
       " \xEF\xBB\xBF"
       "1,2",
       2, kDamaged},
      {"beyond the range of a double", "1\r\n1e999\r\n3\r\n", 3, kDamaged},
      {"a field of 100000 digits", "1\n" + std::string(100000, '9') + "\n3\n", 3, kDamaged},
  };
}

TEST(ImpulseText, FieldRules) {
  for (const ParseCase& c : ParseCases()) {
    SCOPED_TRACE(c.name);
    const std::vector<double> got = Parse(c.text, c.count);
    ASSERT_EQ(got.size(), c.expected.size());
    for (std::size_t k = 0; k < got.size(); ++k) {
      EXPECT_EQ(got[k], c.expected[k]) << "coefficient " << k;
    }
  }
}

TEST(ImpulseText, ZeroCountWritesNothing) {
  double untouched = 5.0;
  ParseImpulseText("1,2,3", 0, &untouched);
  EXPECT_EQ(untouched, 5.0);
}

TEST(ImpulseText, AFieldOfAMegabyteIsOneValue) {
  std::string text = "0.5" + std::string(1 << 20, '1') + ",0.25";
  const std::vector<double> got = Parse(text, 2);
  EXPECT_EQ(got[0], std::strtod("0.511111111111111111", nullptr));
  EXPECT_EQ(got[1], 0.25);
}

TEST(ImpulseText, ManyLinesAreReadInTurn) {
  std::string text;
  for (int k = 0; k < 200000; ++k) text += std::to_string(k) + "\r\n";
  const std::vector<double> got = Parse(text, 200000);
  for (int k = 0; k < 200000; ++k) ASSERT_EQ(got[static_cast<std::size_t>(k)], k) << k;
}

// ---------------------------------------------------------------------------
// Files

// A fresh folder made the working folder for the test; the old one comes back
// after.
class InTemporaryFolder : public ::testing::Test {
 protected:
  void TearDown() override {
    for (const std::string& name : createdElsewhere_) std::remove(name.c_str());
  }
  void Write(const std::string& name, const std::string& content) {
    std::ofstream out(name, std::ios::binary);
    out << content;
  }

  testfiles::ScratchFolder folder_;
  testfiles::InFolder inFolder_{folder_.path()};
  std::vector<std::string> createdElsewhere_;  // files made outside the folder
};

FilterChoice ChoiceFor(char letter) {
  const FilterTableEntry* entry = FindFilter(letter);
  FilterChoice choice;
  choice.letter = entry->letter;
  choice.impulseFileName = entry->impulseFileName;
  choice.coefficientCount = entry->coefficientCount;
  return choice;
}

std::vector<double> Load(const FilterChoice& choice, ImpulseVerdict* verdict) {
  std::vector<double> out(static_cast<std::size_t>(choice.coefficientCount), -777.0);
  *verdict = LoadImpulseResponse(choice, out.data());
  return out;
}

struct FileCase {
  char letter;
  std::string text;
  std::vector<double> expected;  // scaled; kDamaged: refused
};

// The loader hands on the reader's verdict and scales only what reads; it
// shows nothing either way.
TEST_F(InTemporaryFolder, ChosenFileReadsOrIsRefused) {
  const FileCase cases[] = {
      {'B', Repeat("65536\r\n", 19), std::vector<double>(19, 1.0)},
      {'B', Repeat("65536\n", 19), std::vector<double>(19, 1.0)},
      {'D', "0.5\n0.25\n0.125\n" + Repeat("0\n", 12), WithZeros({0.5, 0.25, 0.125}, 15)},
      {'F', "0.5,0.25\r\n", kDamaged},
      {'E', Repeat("1,\r\n", 15), kDamaged},
      {'C', "", kDamaged},
      {'A', "\xEF\xBB\xBF" + Repeat("65536\r\n", 17), std::vector<double>(17, 1.0)},
      {'E', "-1e999\n" + Repeat("0\n", 19), kDamaged},
  };
  for (const FileCase& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 20));
    const FilterChoice choice = ChoiceFor(c.letter);
    Write(choice.impulseFileName, c.text);
    ImpulseVerdict verdict = ImpulseVerdict::kNotFound;
    const std::vector<double> h = Load(choice, &verdict);
    EXPECT_EQ(verdict, c.expected.empty() ? ImpulseVerdict::kDamaged : ImpulseVerdict::kRead);
    if (!c.expected.empty()) {
      EXPECT_EQ(h, c.expected);
    }
  }
}

TEST_F(InTemporaryFolder, ScaledLettersAre65536TimesSmaller) {
  // The same text under each letter: A, B and C divide by 2^16 exactly.
  std::string text;
  for (int k = 0; k < 31; ++k) text += std::to_string(k * 1000 + 1) + ".375e-1\r\n";
  for (const char letter : {'A', 'B', 'C', 'D', 'E', 'F'}) {
    SCOPED_TRACE(letter);
    FilterChoice choice = ChoiceFor(letter);
    Write(choice.impulseFileName, text);
    ImpulseVerdict verdict = ImpulseVerdict::kNotFound;
    const std::vector<double> h = Load(choice, &verdict);
    ASSERT_EQ(verdict, ImpulseVerdict::kRead);
    std::vector<double> plain(h.size());
    ParseImpulseText(text, choice.coefficientCount, plain.data());
    const bool scaled = letter == 'A' || letter == 'B' || letter == 'C';
    for (std::size_t k = 0; k < h.size(); ++k) {
      EXPECT_EQ(h[k], scaled ? plain[k] / 65536.0 : plain[k]) << k;
      EXPECT_NE(plain[k], 0.0);
    }
  }
}

TEST_F(InTemporaryFolder, TwelveMegabyteFileReadsInFull) {
  // Twelve megabytes, nearly all of them one field.
  std::string text = "0.5,0.25,.";
  text += std::string(12 << 20, '9');
  text += Repeat(",0", 17);
  Write("FilterE.dat", text);
  ImpulseVerdict verdict = ImpulseVerdict::kNotFound;
  const std::vector<double> h = Load(ChoiceFor('E'), &verdict);
  ASSERT_EQ(verdict, ImpulseVerdict::kRead);
  EXPECT_EQ(h[0], 0.5);
  EXPECT_EQ(h[1], 0.25);
  EXPECT_EQ(h[2], 1.0);  // .999... rounded
  for (std::size_t k = 3; k < h.size(); ++k) EXPECT_EQ(h[k], 0.0) << k;
}

TEST_F(InTemporaryFolder, LargeFileFieldsAcrossReadChunks) {
  // Fields that straddle the reader's chunk boundaries still read whole.
  std::string text(65531, ' ');
  text += "0.123456789\r\n";
  // The carriage return is the last byte of the second chunk of 65536 bytes,
  // its line feed the first of the third.
  text += std::string(65523, ' ') + "-7.5\r";
  text += "\n2.25\r\n" + Repeat("0\r\n", 12);
  Write("FilterD.dat", text);
  ImpulseVerdict verdict = ImpulseVerdict::kNotFound;
  const std::vector<double> h = Load(ChoiceFor('D'), &verdict);
  ASSERT_EQ(verdict, ImpulseVerdict::kRead);
  EXPECT_EQ(h, WithZeros({0.123456789, -7.5, 2.25}, 15));
}

TEST_F(InTemporaryFolder, MissingFileIsNotFoundAndLeavesTheArray) {
  FilterChoice choice = ChoiceFor('D');
  choice.impulseFileName = "FilterD-missing-for-test.dat";
  ImpulseVerdict verdict = ImpulseVerdict::kRead;
  const std::vector<double> h = Load(choice, &verdict);
  EXPECT_EQ(verdict, ImpulseVerdict::kNotFound);
  EXPECT_EQ(h, std::vector<double>(15, -777.0));
}

TEST_F(InTemporaryFolder, AFolderUnderTheNameIsNotAFile) {
  ASSERT_TRUE(std::filesystem::create_directory("FilterDir-for-test.dat"));
  FilterChoice choice = ChoiceFor('F');
  choice.impulseFileName = "FilterDir-for-test.dat";
  ImpulseVerdict verdict = ImpulseVerdict::kRead;
  Load(choice, &verdict);
  EXPECT_EQ(verdict, ImpulseVerdict::kNotFound);
  EXPECT_EQ(FindImpulseFile("FilterDir-for-test.dat"), "");
}

TEST_F(InTemporaryFolder, CurrentFolderComesFirst) {
  Write("FilterSearch-for-test.dat", "1\r\n");
  EXPECT_EQ(FindImpulseFile("FilterSearch-for-test.dat"), "FilterSearch-for-test.dat");
}

TEST_F(InTemporaryFolder, ExecutableFolderIsNext) {
  const std::string exeFolder = ExecutableFolder();
  ASSERT_FALSE(exeFolder.empty());
  const std::string name = "FilterBeside-" + folder_.path().filename().string() + ".dat";
  const std::string besideExe = exeFolder + name;
  {
    std::ofstream out(besideExe, std::ios::binary);
    if (!out) GTEST_SKIP() << "no file can be made beside the test program in " << exeFolder;
    out << "0.5,\"0.75\"";
  }
  createdElsewhere_.push_back(besideExe);
  EXPECT_EQ(FindImpulseFile(name), besideExe);

  FilterChoice choice;
  choice.letter = 'E';
  choice.impulseFileName = name;
  choice.coefficientCount = 2;
  ImpulseVerdict verdict = ImpulseVerdict::kNotFound;
  EXPECT_EQ(Load(choice, &verdict), std::vector<double>({0.5, 0.75}));
  EXPECT_EQ(verdict, ImpulseVerdict::kRead);

  // A file of the same name in the current folder wins.
  Write(name, "2\n3");
  EXPECT_EQ(FindImpulseFile(name), name);
  EXPECT_EQ(Load(choice, &verdict), std::vector<double>({2.0, 3.0}));
}

TEST_F(InTemporaryFolder, NoNameFindsNothing) {
  EXPECT_EQ(FindImpulseFile(""), "");
  EXPECT_EQ(FindImpulseFile("FilterNowhere-for-test.dat"), "");
}

}  // namespace

namespace {

// The impulse files shipped with the tool must read as intended under the
// field rules: M numbers each, one per line, none of them lost to a line end
// the reader does not split at, and a gain of 1 at 0 Hz once scaled.
TEST(ShippedImpulseFiles, EachGivesItsCoefficientsWithUnitGain) {
  testfiles::InFolder inData(OSTRIVALE_SOURCE_DIR "/data");
  for (const FilterTableEntry& entry : kFilterTable) {
    SCOPED_TRACE(entry.impulseFileName);
    ASSERT_EQ(FindImpulseFile(entry.impulseFileName), entry.impulseFileName);
    FilterChoice choice = ChoiceFor(entry.letter);
    ImpulseVerdict verdict = ImpulseVerdict::kNotFound;
    const std::vector<double> h = Load(choice, &verdict);
    ASSERT_EQ(verdict, ImpulseVerdict::kRead);
    long double gain = 0.0L;
    for (const double c : h) {
      EXPECT_TRUE(std::isfinite(c));
      EXPECT_NE(c, 0.0);
      EXPECT_LT(std::fabs(c), 2.0);
      gain += c;
    }
    EXPECT_NEAR(static_cast<double>(gain), 1.0, 1e-12);
  }
}

}  // namespace
