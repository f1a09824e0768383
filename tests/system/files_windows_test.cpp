// Files on Windows only: devices and pipes by their names, the existence test
// that asks without sharing, the input that is the output, read-only files,
// the temporary file that goes with its handle and the attributes the output
// has.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "files_test_support.h"
#include "system/files.h"

namespace filestest {

std::vector<NameCase> SystemNameCases() {
  return {
      {"NUL device", [](const ScratchFolder&) { return std::string("NUL"); }},
      {"CON device in a folder", [](const ScratchFolder& f) { return f / "CON"; }},
      {"COM1 device", [](const ScratchFolder&) { return std::string("COM1"); }},
      {"pipe", [](const ScratchFolder&) { return std::string("\\\\.\\pipe\\ostrivale"); }},
  };
}

}  // namespace filestest

namespace {

using filestest::WriteOutput;
using testfiles::Bytes;
using testfiles::ReadBytes;
using testfiles::ScratchFolder;
using testfiles::WriteBytes;

std::wstring WideName(const std::string& name) { return testfiles::FromUtf8(name).wstring(); }

// The input is opened once and shared, so no other program is blocked while
// the dialogue waits; a file another program holds without sharing is not
// there to us.
TEST(ReadingFile, FileHeldWithoutSharingIsNotThereOneSharedIs) {
  ScratchFolder folder;
  WriteBytes(folder / "held", Bytes(4, 1));
  for (const DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ}}) {
    HANDLE other = CreateFileW(WideName(folder / "held").c_str(), GENERIC_READ, share, nullptr,
                               OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    const FileHandle reading = OpenFileForReading(folder / "held");
    EXPECT_EQ(reading != kNoFile, share != 0) << "share " << share;
    CloseFile(reading);
    CloseHandle(other);
  }
}

// A name in double quotes, as the console types a dropped file's name.
TEST(ReadingFile, NameInDoubleQuotesIsTheNameInside) {
  ScratchFolder folder;
  WriteBytes(folder / "my take.wav", Bytes(4, 1));
  const auto quoted = [](const std::string& name) {
    return std::string(1, '"').append(name).append(1, '"');
  };
  const FileHandle reading = OpenFileForReading(quoted(folder / "my take.wav"));
  EXPECT_NE(reading, kNoFile);
  CloseFile(reading);
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(quoted(folder / "new take.wav"), file));
  ASSERT_TRUE(AppendOutput(file, Bytes(3, 7).data(), 3));
  ASSERT_TRUE(MakeOutputDurable(file) && NameOutputFile(file));
  EXPECT_EQ(ReadBytes(folder / "new take.wav"), Bytes(3, 7));
}

// The job reads its input while the new file is written: the input's name
// may be the output's, and is replaced once the input is closed.
TEST(OutputFile, InputThatIsTheOutputIsReplacedOnceClosed) {
  ScratchFolder folder;
  const std::string name = folder / "in.wav";
  WriteBytes(name, Bytes{1, 2, 3, 4, 5, 6});
  const FileHandle input = OpenFileForReading(name);
  ASSERT_NE(input, kNoFile);
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(name, file));
  const Bytes next = {9, 8, 7};
  ASSERT_TRUE(AppendOutput(file, next.data(), 3));
  std::uint8_t got[2] = {};
  EXPECT_EQ(ReadFileAt(input, 4, got, 2), 2);
  CloseFile(input);
  ASSERT_TRUE(MakeOutputDurable(file) && NameOutputFile(file));
  EXPECT_EQ(ReadBytes(name), next);
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"in.wav"});
}

TEST(OutputFile, ReadOnlyFileIsNeverWrittenOver) {
  ScratchFolder folder;
  WriteBytes(folder / "locked", Bytes(4, 2));
  ASSERT_TRUE(SetFileAttributesW(WideName(folder / "locked").c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_FALSE(WriteOutput(folder / "locked", Bytes(2, 3)));
  EXPECT_EQ(ReadBytes(folder / "locked"), Bytes(4, 2));
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"locked"});
  SetFileAttributesW(WideName(folder / "locked").c_str(), FILE_ATTRIBUTE_NORMAL);
}

// The temporary file is hidden, and the system removes it when its handle
// closes, as it closes every handle of a process that ends, however it ends.
TEST(OutputFile, TemporaryFileIsHiddenAndGoesWithItsHandle) {
  ScratchFolder folder;
  WriteBytes(folder / "out.wav", Bytes(5, 7));
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(folder / "out.wav", file));
  ASSERT_TRUE(AppendOutput(file, Bytes(3, 1).data(), 3));
  EXPECT_TRUE(file.markedForDeletion);
  EXPECT_EQ(folder.Entries().size(), 2u);
  EXPECT_NE(GetFileAttributesW(WideName(file.temporaryPath).c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
  CloseHandle(reinterpret_cast<HANDLE>(file.handle));
  file.handle = kNoFile;
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"out.wav"});
  EXPECT_EQ(ReadBytes(folder / "out.wav"), Bytes(5, 7));
  AbandonOutputFile(file);
}

TEST(OutputFile, NewFileIsNotHidden) {
  ScratchFolder folder;
  ASSERT_TRUE(WriteOutput(folder / "new.wav", Bytes(2, 1)));
  EXPECT_EQ(GetFileAttributesW(WideName(folder / "new.wav").c_str()) & FILE_ATTRIBUTE_HIDDEN, 0u);
}

TEST(OutputFile, ReplacedFileKeepsItsAttributes) {
  ScratchFolder folder;
  WriteBytes(folder / "out", Bytes(4, 2));
  const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE;
  ASSERT_TRUE(SetFileAttributesW(WideName(folder / "out").c_str(), kept));
  ASSERT_TRUE(WriteOutput(folder / "out", Bytes(6, 3)));
  EXPECT_EQ(ReadBytes(folder / "out"), Bytes(6, 3));
  EXPECT_EQ(GetFileAttributesW(WideName(folder / "out").c_str()) & kept, kept);
}

}  // namespace
