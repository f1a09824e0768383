// Files on every system: reading at offsets, names that never open or are
// never written over, and the output file that leaves the old file or the new
// one and never a temporary file.
#include <gtest/gtest.h>

#include <string>

#include "files_test_support.h"
#include "system/files.h"

namespace {

using filestest::NameCase;
using filestest::Naming;
using filestest::WriteOutput;
using testfiles::Bytes;
using testfiles::ReadBytes;
using testfiles::ScratchFolder;
using testfiles::WriteBytes;
namespace fs = std::filesystem;

Bytes Counting(int count) {
  Bytes bytes(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(NameIsRefused, OnlyWhatNeverNamesAFile) {
  const std::string k300(300, 'a');
  for (const std::string& name : {std::string(""), std::string("a*b.wav"), std::string("a?.wav"),
                                  std::string("*"), k300 + "*", std::string("a\0b", 3)}) {
    EXPECT_TRUE(NameIsRefused(name)) << name;
  }
  // Blanks, paths, every script, bytes that are not UTF-8 and any length
  // are the file system's to judge: never changed, never shortened.
  for (const std::string& name :
       {std::string("in.wav"), std::string(" my file .wav "), std::string("/tmp/x/in.wav"),
        std::string("caf\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x8E\xB5.wav"), std::string("caf\xE9.wav"),
        k300}) {
    EXPECT_FALSE(NameIsRefused(name)) << name;
  }
}

TEST(ReadingFile, ReadsAtOffsetsAndShortAtTheEnd) {
  ScratchFolder folder;
  WriteBytes(folder / "f", Counting(100));
  const FileHandle file = OpenFileForReading(folder / "f");
  ASSERT_NE(file, kNoFile);
  EXPECT_TRUE(IsRegularFile(file));
  EXPECT_EQ(FileSizeOf(file), 100);
  std::uint8_t buffer[10] = {};
  EXPECT_EQ(ReadFileAt(file, 90, buffer, 10), 10);
  EXPECT_EQ(buffer[0], 90);
  EXPECT_EQ(buffer[9], 99);
  buffer[5] = 0xEE;
  EXPECT_EQ(ReadFileAt(file, 95, buffer, 10), 5);
  EXPECT_EQ(buffer[4], 99);
  EXPECT_EQ(buffer[5], 0xEE) << "bytes beyond the end are left as they were";
  EXPECT_EQ(ReadFileAt(file, 1000, buffer, 10), 0) << "the end of the file is no error";
  EXPECT_EQ(ReadFileAt(file, -1, buffer, 10), kReadFailed);
  EXPECT_EQ(ReadFileAt(file, 3, buffer, 1), 1)
      << "reading at offsets does not depend on earlier reads";
  EXPECT_EQ(buffer[0], 3);
  CloseFile(file);
  EXPECT_EQ(ReadFileAt(kNoFile, 0, buffer, 10), kReadFailed);
  EXPECT_EQ(FileSizeOf(kNoFile), 0);
  EXPECT_FALSE(IsRegularFile(kNoFile));
}

TEST(ReadingFile, NamesAreUsedWholeInEveryScriptAndLength) {
  ScratchFolder folder;
  // Well beyond the 260 characters of a plain Windows path.
  std::string deep = "\u00e9\u65e5\u672c\U0001F3B5";
  for (int level = 0; level < 6; ++level)
    deep += "/" + std::string(50, static_cast<char>('a' + level));
  fs::create_directories(testfiles::FromUtf8(folder / deep).parent_path());
  const std::string name = folder / deep;
  ASSERT_GT(name.size(), 300u);
  ASSERT_TRUE(WriteOutput(name, Counting(7)));
  const FileHandle file = OpenFileForReading(name);
  ASSERT_NE(file, kNoFile);
  std::uint8_t buffer[7] = {};
  EXPECT_EQ(ReadFileAt(file, 0, buffer, 7), 7);
  EXPECT_EQ(buffer[6], 6);
  CloseFile(file);
  ASSERT_TRUE(WriteOutput(name, Counting(3))) << "a long name is replaced too";
  EXPECT_EQ(ReadBytes(name), Counting(3));
  // The C++ library of MinGW removes no path beyond 260 characters: each
  // folder gets a one-letter name, so that the scratch folder can go.
  fs::path level = testfiles::FromUtf8(folder / "\u00e9\u65e5\u672c\U0001F3B5");
  for (char letter = 'a'; letter < 'f'; ++letter) {
    const fs::path shorter = level / std::string(1, letter);
    fs::rename(level / std::string(50, letter), shorter);
    level = shorter;
  }
}

// ---- names that never open or are never written over ------------------------------

std::vector<NameCase> NameCases() {
  std::vector<NameCase> names = {
      {"empty", [](const ScratchFolder&) { return std::string(); }},
      {"star", [](const ScratchFolder& f) { return f / "keep*"; }},
      {"question mark", [](const ScratchFolder& f) { return f / "keep?"; }},
      {"NUL character", [](const ScratchFolder& f) { return f / std::string("keep\0x", 6); }},
      {"folder", [](const ScratchFolder& f) { return f / "sub"; }},
      {"folder with separator", [](const ScratchFolder& f) { return f / "sub/"; }},
      {"new name with separator", [](const ScratchFolder& f) { return f / "new/"; }},
      {"missing folder on the way", [](const ScratchFolder& f) { return f / "nowhere/x"; }},
      {"file as a folder on the way", [](const ScratchFolder& f) { return f / "keep/x"; }},
  };
  for (const NameCase& name : filestest::SystemNameCases()) names.push_back(name);
  return names;
}

class NameCaseTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameCaseTest, IsNeverWrittenOverAndNothingChanges) {
  ScratchFolder folder;
  WriteBytes(folder / "keep", Counting(9));
  fs::create_directory(folder.path() / "sub");
  const std::string name = GetParam().name(folder);
  const std::set<std::string> before = folder.Entries();

  const FileHandle file = OpenFileForReading(name);
  EXPECT_EQ(file != kNoFile, GetParam().opensForReading);
  EXPECT_FALSE(IsRegularFile(file));
  CloseFile(file);
  OutputFile output;
  EXPECT_FALSE(CreateOutputFile(name, output));
  EXPECT_FALSE(CreateOutputFile(name, output, OutputNaming::kHiddenName));

  EXPECT_EQ(folder.Entries(), before);
  EXPECT_EQ(ReadBytes(folder / "keep"), Counting(9));
  EXPECT_TRUE(fs::is_directory(folder.path() / "sub"));
}

INSTANTIATE_TEST_SUITE_P(Names, NameCaseTest, ::testing::ValuesIn(NameCases()));

TEST(OutputFile, NameLongerThanTheSystemAllowsIsNotWrittenUnderAShorterOne) {
  ScratchFolder folder;
  EXPECT_FALSE(WriteOutput(folder / std::string(300, 'n'), Counting(3)));
  EXPECT_TRUE(folder.Entries().empty());
}

// ---- the output file ---------------------------------------------------------------

TEST_P(Naming, NewFileAndReplacedFileHoldExactlyTheNewBytes) {
  ASSERT_TRUE(WriteOutput(folder_ / "out", Counting(200), GetParam()));
  EXPECT_EQ(ReadBytes(folder_ / "out"), Counting(200));
  ASSERT_TRUE(WriteOutput(folder_ / "out", Counting(50), GetParam()));
  EXPECT_EQ(ReadBytes(folder_ / "out"), Counting(50)) << "no tail of the longer old file";
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"out"});
}

// Nothing of the new file stands at the name, nor is left behind, before it
// is named: at most a hidden temporary file beside the old one.
TEST_P(Naming, OldFileStandsUntilTheNewOneIsNamed) {
  const std::string name = folder_ / "out.wav";
  WriteBytes(name, Bytes(100, 0x11));
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(name, file, GetParam()));
  ASSERT_TRUE(AppendOutput(file, Counting(20).data(), 20));
  for (const std::string& entry : folder_.Entries()) {
    EXPECT_TRUE(entry == "out.wav" || entry.rfind(".ostrivale-", 0) == 0) << entry;
  }
  EXPECT_LE(folder_.Entries().size(), 2u);
  EXPECT_EQ(ReadBytes(name), Bytes(100, 0x11));
  AbandonOutputFile(file);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"out.wav"});
  EXPECT_EQ(ReadBytes(name), Bytes(100, 0x11));
}

// What stood at the name when the file was created may change while the
// pass runs: a folder put there is never replaced.
TEST_P(Naming, FolderThatAppearedMeanwhileIsNotReplaced) {
  const std::string name = folder_ / "out.wav";
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(name, file, GetParam()));
  ASSERT_TRUE(AppendOutput(file, Counting(7).data(), 7));
  ASSERT_TRUE(fs::create_directory(testfiles::FromUtf8(name)));
  EXPECT_TRUE(MakeOutputDurable(file));
  EXPECT_FALSE(NameOutputFile(file));
  AbandonOutputFile(file);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"out.wav"});
  EXPECT_TRUE(fs::is_directory(testfiles::FromUtf8(name)));
}

// A failed flush of the contents keeps the old file; of the name, after the rename, it is no
// failure.
DiskStep failingStep = DiskStep::kFileContents;
bool FailOneStep(DiskStep step, FileHandle) { return step != failingStep; }

TEST_P(Naming, FailedDiskStepLeavesTheOldFileOrNamesTheNewOne) {
  const std::string name = folder_ / "out.wav";
  for (const DiskStep step : {DiskStep::kFileContents, DiskStep::kFolderEntry}) {
    WriteBytes(name, Bytes(100, 0x11));
    failingStep = step;
    ObserveDiskSteps(FailOneStep);
    const bool written = WriteOutput(name, Counting(20), GetParam());
    ObserveDiskSteps(nullptr);
    EXPECT_EQ(written, step == DiskStep::kFolderEntry);
    EXPECT_EQ(ReadBytes(name), written ? Counting(20) : Bytes(100, 0x11));
    EXPECT_EQ(folder_.Entries(), std::set<std::string>{"out.wav"});
  }
}

INSTANTIATE_TEST_SUITE_P(Output, Naming,
                         ::testing::Values(OutputNaming::kUnnamedWherePossible,
                                           OutputNaming::kHiddenName),
                         filestest::NamingLabel);

}  // namespace
