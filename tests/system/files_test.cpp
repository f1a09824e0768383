// Files: reading at offsets, names that never open, and the replacing write
// that leaves the old file or the new one and never a temporary file.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "system/files.h"
#include "system_test_support.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

using systemtest::Bytes;
using systemtest::ReadBytes;
using systemtest::ScratchFolder;
using systemtest::WriteBytes;
namespace fs = std::filesystem;

Bytes Counting(int count) {
  Bytes bytes(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(i);
  return bytes;
}

TEST(ReadingFile, ReadsAtOffsetsAndShortAtTheEnd) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "f", Counting(100));
  const FileHandle file = OpenFileForReading(folder / "f");
  ASSERT_NE(file, kNoFile);
  std::uint8_t buffer[10] = {};
  EXPECT_EQ(ReadFileAt(file, 90, buffer, 10), 10);
  EXPECT_EQ(buffer[0], 90);
  EXPECT_EQ(buffer[9], 99);
  buffer[5] = 0xEE;
  EXPECT_EQ(ReadFileAt(file, 95, buffer, 10), 5);
  EXPECT_EQ(buffer[4], 99);
  EXPECT_EQ(buffer[5], 0xEE) << "bytes beyond the end are left as they were";
  EXPECT_EQ(ReadFileAt(file, 1000, buffer, 10), 0);
  EXPECT_EQ(ReadFileAt(file, 3, buffer, 1), 1) << "reading at offsets does not depend on earlier reads";
  EXPECT_EQ(buffer[0], 3);
  CloseFile(file);
}

TEST(ReadingFile, NamesAreUsedWholeInEveryScriptAndLength) {
  ScratchFolder folder;
  // Well beyond the 260 characters of a plain Windows path.
  std::string deep = "\u00e9\u65e5\u672c\U0001F3B5";
  for (int level = 0; level < 6; ++level) deep += "/" + std::string(50, static_cast<char>('a' + level));
  fs::create_directories(systemtest::FromUtf8(folder / deep).parent_path());
  const std::string name = folder / deep;
  ASSERT_GT(name.size(), 300u);
  ASSERT_TRUE(WriteFileReplacing(name, Counting(7).data(), 7));
  EXPECT_TRUE(FileOpensForReading(name));
  const FileHandle file = OpenFileForReading(name);
  ASSERT_NE(file, kNoFile);
  std::uint8_t buffer[7] = {};
  EXPECT_EQ(ReadFileAt(file, 0, buffer, 7), 7);
  EXPECT_EQ(buffer[6], 6);
  CloseFile(file);
}

TEST(ReadingFile, FileHeldOpenIsThereOnlyWhereNothingIsExclusive) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "held", Counting(4));
  const FileHandle other = OpenFileForReading(folder / "held");
  ASSERT_NE(other, kNoFile);
#ifdef _WIN32
  EXPECT_FALSE(FileOpensForReading(folder / "held")) << "the existence test asks without sharing";
#else
  EXPECT_TRUE(FileOpensForReading(folder / "held"));
#endif
  CloseFile(other);
  EXPECT_TRUE(FileOpensForReading(folder / "held"));
}

// Names that never open for reading, and never get written over.
struct RefusedName {
  const char* label;
  std::function<std::string(const ScratchFolder&)> name;
};

void PrintTo(const RefusedName& c, std::ostream* os) { *os << c.label; }

std::vector<RefusedName> RefusedNames() {
  std::vector<RefusedName> names = {
      {"empty", [](const ScratchFolder&) { return std::string(); }},
      {"star", [](const ScratchFolder& f) { return f / "keep*"; }},
      {"question mark", [](const ScratchFolder& f) { return f / "keep?"; }},
      {"NUL character", [](const ScratchFolder& f) { return f / std::string("keep\0x", 6); }},
      {"folder", [](const ScratchFolder& f) { return f / "sub"; }},
      {"folder with separator", [](const ScratchFolder& f) { return f / "sub/"; }},
      {"missing folder on the way", [](const ScratchFolder& f) { return f / "nowhere/x"; }},
      {"file as a folder on the way", [](const ScratchFolder& f) { return f / "keep/x"; }},
#ifdef _WIN32
      {"NUL device", [](const ScratchFolder&) { return std::string("NUL"); }},
      {"CON device in a folder", [](const ScratchFolder& f) { return f / "CON"; }},
      {"COM1 device", [](const ScratchFolder&) { return std::string("COM1"); }},
      {"pipe", [](const ScratchFolder&) { return std::string("\\\\.\\pipe\\ostrivale"); }},
#else
      {"null device", [](const ScratchFolder&) { return std::string("/dev/null"); }},
#endif
  };
  return names;
}

class RefusedNameTest : public ::testing::TestWithParam<RefusedName> {};

TEST_P(RefusedNameTest, NeitherOpensNorIsWrittenAndNothingChanges) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "keep", Counting(9));
  fs::create_directory(folder.path() / "sub");
  const std::set<std::string> before = folder.Entries();
  const std::string name = GetParam().name(folder);

  EXPECT_EQ(OpenFileForReading(name), kNoFile);
  EXPECT_FALSE(FileOpensForReading(name));
  const Bytes data = Counting(3);
  EXPECT_FALSE(WriteFileReplacing(name, data.data(), 3));
  ReplacingWrite write;
  EXPECT_FALSE(BeginReplacingWrite(name, write));

  EXPECT_EQ(folder.Entries(), before);
  EXPECT_EQ(ReadBytes(folder.path() / "keep"), Counting(9));
  EXPECT_TRUE(fs::is_directory(folder.path() / "sub"));
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedNameTest, ::testing::ValuesIn(RefusedNames()));

TEST(ReplacingWrite, NewFileAndReplacedFileHoldExactlyTheNewBytes) {
  ScratchFolder folder;
  const Bytes first = Counting(200);
  ASSERT_TRUE(WriteFileReplacing(folder / "out", first.data(), 200));
  EXPECT_EQ(ReadBytes(folder.path() / "out"), first);
  const Bytes second = Counting(50);
  ASSERT_TRUE(WriteFileReplacing(folder / "out", second.data(), 50));
  EXPECT_EQ(ReadBytes(folder.path() / "out"), second) << "no tail of the longer old file";
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"out"});
}

TEST(ReplacingWrite, HeaderWrittenLastAtItsOffsetAndAppendingGoesOn) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "out", Counting(3));
  ReplacingWrite write;
  ASSERT_TRUE(BeginReplacingWrite(folder / "out", write));
  EXPECT_TRUE(write.replacing);
  const Bytes body = {7, 8, 9};
  const Bytes header = {1, 2};
  ASSERT_TRUE(AppendToReplacingWrite(write, Bytes(2, 0).data(), 2));  // room for the header
  ASSERT_TRUE(AppendToReplacingWrite(write, body.data(), 3));
  ASSERT_TRUE(WriteAtInReplacingWrite(write, 0, header.data(), 2));
  ASSERT_TRUE(AppendToReplacingWrite(write, body.data(), 1));
  EXPECT_EQ(ReadBytes(folder.path() / "out"), Counting(3)) << "the old file stands until the finish";
  EXPECT_EQ(folder.Entries().size(), 2u);
  ASSERT_TRUE(FinishReplacingWrite(write));
  EXPECT_EQ(ReadBytes(folder.path() / "out"), (Bytes{1, 2, 7, 8, 9, 7}));
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"out"});
}

TEST(ReplacingWrite, AbandonedWriteLeavesTheOldFileAndNoTemporary) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "out", Counting(5));
  ReplacingWrite write;
  ASSERT_TRUE(BeginReplacingWrite(folder / "out", write));
  ASSERT_TRUE(AppendToReplacingWrite(write, Counting(20).data(), 20));
  AbandonReplacingWrite(write);
  EXPECT_EQ(ReadBytes(folder.path() / "out"), Counting(5));
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"out"});
}

#ifdef _WIN32
DWORD Attributes(const std::string& name) {
  return GetFileAttributesW(systemtest::FromUtf8(name).c_str());
}

TEST(ReplacingWrite, ReadOnlyFileIsNeverWrittenOver) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "locked", Counting(4));
  ASSERT_TRUE(SetFileAttributesW((folder.path() / "locked").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteFileReplacing(folder / "locked", Counting(2).data(), 2));
  EXPECT_EQ(ReadBytes(folder.path() / "locked"), Counting(4));
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"locked"});
  SetFileAttributesW((folder.path() / "locked").c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(ReplacingWrite, ReplacedFileKeepsItsAttributes) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "out", Counting(4));
  ASSERT_TRUE(SetFileAttributesW((folder.path() / "out").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
  ASSERT_TRUE(WriteFileReplacing(folder / "out", Counting(6).data(), 6));
  EXPECT_EQ(ReadBytes(folder.path() / "out"), Counting(6));
  EXPECT_EQ(Attributes(folder / "out") & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE),
            static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE));
}
#else
TEST(ReplacingWrite, ReplacedFileKeepsItsPermissions) {
  ScratchFolder folder;
  WriteBytes(folder.path() / "out", Counting(4));
  fs::permissions(folder.path() / "out", fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_TRUE(WriteFileReplacing(folder / "out", Counting(6).data(), 6));
  EXPECT_EQ(fs::status(folder.path() / "out").permissions(),
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}
#endif

}  // namespace
