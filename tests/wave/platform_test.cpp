// The platform's files: the new output file made without a name (or under a
// hidden one) and named only when complete, what it replaces and what it
// refuses, and reads by position.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <ostream>
#include <set>
#include <string>

#include "wave/platform.h"
#include "wave_test_support.h"

namespace {

using wavetest::Bytes;
using wavetest::RunInChild;

// The output file made the way the job makes it: created, written, made
// durable and named; abandoned at the first step that fails.
bool WriteOutput(const std::string& name, const Bytes& bytes,
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

const Bytes kNew = {'R', 'I', 'F', 'F', 1, 2, 3};

class Naming : public ::testing::TestWithParam<OutputNaming> {
 protected:
  wavetest::ScratchFolder folder_;
};

TEST_P(Naming, NewFileGetsTheOrdinaryMode) {
  for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{0}}) {
    const mode_t previous = umask(mask);
    const std::string name = folder_ / (std::to_string(mask) + "m.wav");
    EXPECT_TRUE(WriteOutput(name, kNew, GetParam()));
    umask(previous);
    EXPECT_EQ(wavetest::FileMode(name), 0666u & ~mask) << "umask " << mask;
    EXPECT_EQ(wavetest::ReadBytes(name), kNew);
  }
}

TEST_P(Naming, ReplacesALongerFileWholeAndKeepsItsModeWithoutSetId) {
  const std::string name = folder_ / "out.wav";
  wavetest::WriteBytes(name, Bytes(10000, 0xAB));
  chmod(name.c_str(), 04604);
  ASSERT_TRUE(WriteOutput(name, kNew, GetParam()));
  EXPECT_EQ(wavetest::ReadBytes(name), kNew);
  EXPECT_EQ(wavetest::FileMode(name), 0604u);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"out.wav"});
}

// Nothing of the new file can be seen, nor left behind, before it is named:
// without a name at all, or under a hidden name that an ending signal never
// outlives.
TEST_P(Naming, NothingNewIsVisibleUntilNamed) {
  const std::string name = folder_ / "out.wav";
  wavetest::WriteBytes(name, Bytes(100, 0x11));
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(name, file, GetParam()));
  ASSERT_TRUE(AppendOutput(file, kNew.data(), static_cast<std::int64_t>(kNew.size())));
  const std::set<std::string> during = folder_.Entries();
  if (GetParam() == OutputNaming::kUnnamedWherePossible) {
    EXPECT_EQ(during, std::set<std::string>{"out.wav"});
  } else {
    EXPECT_EQ(during.size(), 2u);
  }
  EXPECT_EQ(wavetest::ReadBytes(name), Bytes(100, 0x11));
  AbandonOutputFile(file);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"out.wav"});
  EXPECT_EQ(wavetest::ReadBytes(name), Bytes(100, 0x11));
}

// The input is read while the new file is written, and replaced at the end.
TEST_P(Naming, InputStaysReadableWhileItsNameIsReplaced) {
  const std::string name = folder_ / "in.wav";
  wavetest::WriteBytes(name, Bytes{1, 2, 3, 4, 5, 6});
  InputFile input;
  ASSERT_TRUE(OpenInputFile(name, input));
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(name, file, GetParam()));
  std::uint8_t got[4] = {};
  ASSERT_TRUE(AppendOutput(file, kNew.data(), 3));
  EXPECT_EQ(ReadInputAt(input, 2, got, 4), 4);
  EXPECT_EQ(Bytes(got, got + 4), (Bytes{3, 4, 5, 6}));
  ASSERT_TRUE(MakeOutputDurable(file) && NameOutputFile(file));
  EXPECT_EQ(ReadInputAt(input, 4, got, 4), 2) << "the old file stays readable to the end";
  CloseInputFile(input);
  EXPECT_EQ(wavetest::ReadBytes(name), Bytes(kNew.begin(), kNew.begin() + 3));
}

TEST_P(Naming, WritesThroughASymbolicLink) {
  wavetest::WriteBytes(folder_ / "real.wav", Bytes(100, 0x77));
  ASSERT_EQ(symlink("real.wav", (folder_ / "link.wav").c_str()), 0);
  ASSERT_TRUE(WriteOutput(folder_ / "link.wav", kNew, GetParam()));
  struct stat status {};
  ASSERT_EQ(lstat((folder_ / "link.wav").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(wavetest::ReadBytes(folder_ / "real.wav"), kNew);
  EXPECT_EQ(folder_.Entries(), (std::set<std::string>{"link.wav", "real.wav"}));
}

// What stood at the name when the file was created may change while the
// pass runs: a folder put there is never replaced.
TEST_P(Naming, FolderThatAppearedMeanwhileIsNotReplaced) {
  const std::string name = folder_ / "out.wav";
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(name, file, GetParam()));
  ASSERT_TRUE(AppendOutput(file, kNew.data(), static_cast<std::int64_t>(kNew.size())));
  ASSERT_EQ(mkdir(name.c_str(), 0755), 0);
  EXPECT_TRUE(MakeOutputDurable(file));
  EXPECT_FALSE(NameOutputFile(file));
  AbandonOutputFile(file);
  EXPECT_EQ(folder_.Entries(), std::set<std::string>{"out.wav"});
  struct stat status {};
  EXPECT_TRUE(stat(name.c_str(), &status) == 0 && S_ISDIR(status.st_mode));
}

INSTANTIATE_TEST_SUITE_P(Output, Naming,
                         ::testing::Values(OutputNaming::kUnnamedWherePossible, OutputNaming::kHiddenName),
                         [](const ::testing::TestParamInfo<OutputNaming>& naming) {
                           return naming.param == OutputNaming::kHiddenName ? std::string("HiddenName")
                                                                            : std::string("Unnamed");
                         });

// ---- names that cannot be written ----------------------------------------------

struct FailureCase {
  const char* label;
  // Prepares the folder and gives the output name.
  std::function<std::string(const wavetest::ScratchFolder&)> prepare;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.label; }

class OutputFailureTest : public ::testing::TestWithParam<FailureCase> {};

TEST_P(OutputFailureTest, NothingIsCreatedAndEverythingStaysAsItWas) {
  wavetest::ScratchFolder folder;
  wavetest::WriteBytes(folder / "keep.wav", Bytes(123, 0x5A));
  ASSERT_EQ(mkdir((folder / "sub").c_str(), 0755), 0);
  const std::string name = GetParam().prepare(folder);
  const std::set<std::string> before = folder.Entries();
  OutputFile file;
  EXPECT_FALSE(CreateOutputFile(name, file)) << GetParam().label;
  EXPECT_EQ(folder.Entries(), before) << GetParam().label;
  EXPECT_EQ(wavetest::ReadBytes(folder / "keep.wav"), Bytes(123, 0x5A));
  struct stat status {};
  EXPECT_EQ(stat((folder / "sub").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputFailureTest,
    ::testing::Values(
        FailureCase{"empty name", [](const wavetest::ScratchFolder&) { return std::string(); }},
        FailureCase{"star", [](const wavetest::ScratchFolder& f) { return f / "o*.wav"; }},
        FailureCase{"question mark", [](const wavetest::ScratchFolder& f) { return f / "o?.wav"; }},
        FailureCase{"missing folder",
                    [](const wavetest::ScratchFolder& f) { return f / "nowhere/out.wav"; }},
        FailureCase{"name of a folder", [](const wavetest::ScratchFolder& f) { return f / "sub"; }},
        FailureCase{"trailing slash", [](const wavetest::ScratchFolder& f) { return f / "sub/"; }},
        FailureCase{"new name with trailing slash",
                    [](const wavetest::ScratchFolder& f) { return f / "new/"; }},
        FailureCase{"folder part is a file",
                    [](const wavetest::ScratchFolder& f) { return f / "keep.wav/out.wav"; }},
        FailureCase{"name of a pipe",
                    [](const wavetest::ScratchFolder& f) {
                      mkfifo((f / "pipe").c_str(), 0644);
                      return f / "pipe";
                    }},
        FailureCase{"dangling link", [](const wavetest::ScratchFolder& f) {
                      if (symlink("nowhere/x.wav", (f / "dangling").c_str()) != 0) return std::string();
                      return f / "dangling";
                    }}));

TEST(OutputFile, NameLongerThanTheSystemAllowsIsNotWrittenUnderAShorterOne) {
  wavetest::ScratchFolder folder;
  const std::string typed = folder / std::string(300, 'n');
  EXPECT_FALSE(WriteOutput(typed, kNew));
  EXPECT_TRUE(folder.Entries().empty());
}

TEST(OutputFile, DeviceIsNeverReplaced) {
  // A null device of our own in the scratch folder: the name must be refused,
  // not renamed over.
  wavetest::ScratchFolder folder;
  const std::string device = folder / "null";
  if (mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0) {
    GTEST_SKIP() << "no device node can be made here (mknod needs root): " << std::strerror(errno);
  }
  OutputFile file;
  EXPECT_FALSE(CreateOutputFile(device, file));
  struct stat status {};
  ASSERT_EQ(lstat(device.c_str(), &status), 0);
  EXPECT_TRUE(S_ISCHR(status.st_mode));
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"null"});
}

int WriteUnderFileSizeLimit(const std::string& name, OutputNaming naming) {
  rlimit limit{};
  limit.rlim_cur = 1000;
  limit.rlim_max = RLIM_INFINITY;
  if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
  return WriteOutput(name, Bytes(30000, 0x42), naming) ? 3 : 0;
}

TEST(OutputFile, WriteFailingPartWayKeepsTheOldFileOrLeavesNoNewOne) {
  for (OutputNaming naming : {OutputNaming::kUnnamedWherePossible, OutputNaming::kHiddenName}) {
    wavetest::ScratchFolder folder;
    const std::string name = folder / "out.wav";
    EXPECT_EQ(RunInChild([&] { return WriteUnderFileSizeLimit(name, naming); }), 0);
    EXPECT_TRUE(folder.Entries().empty());
    const Bytes old(5000, 0x3C);
    wavetest::WriteBytes(name, old);
    EXPECT_EQ(RunInChild([&] { return WriteUnderFileSizeLimit(name, naming); }), 0);
    EXPECT_EQ(wavetest::ReadBytes(name), old);
    EXPECT_EQ(folder.Entries(), std::set<std::string>{"out.wav"});
  }
}

// Runs as a user the folder and file protections apply to.
int WriteAsUnprivilegedUser(const testenv::UnprivilegedUser& user, const std::string& name) {
  if (!testenv::BecomeUnprivileged(user)) return 2;
  return WriteOutput(name, kNew) ? 3 : 0;
}

TEST(OutputFile, ProtectionsOfFileAndFolderAreKept) {
  testenv::UnprivilegedUser user;
  if (const std::string why = testenv::FindUnprivilegedUser(user); !why.empty()) GTEST_SKIP() << why;
  wavetest::ScratchFolder folder;
  ASSERT_EQ(mkdir((folder / "open").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((folder / "closed").c_str(), 0555), 0);
  chmod((folder / "open").c_str(), 0777);
  chmod(folder.path().c_str(), 0755);
  const Bytes old(77, 0x21);
  wavetest::WriteBytes(folder / "open/readonly.wav", old);
  chmod((folder / "open/readonly.wav").c_str(), 0444);
  // A read-only file in a folder anyone may write: not replaced.
  EXPECT_EQ(RunInChild([&] { return WriteAsUnprivilegedUser(user, folder / "open/readonly.wav"); }), 0)
      << "2: the user could not be changed";
  EXPECT_EQ(wavetest::ReadBytes(folder / "open/readonly.wav"), old);
  EXPECT_EQ(folder.Entries(), (std::set<std::string>{"closed", "open"}));
  // A folder that may not be written: nothing made in it. An ordinary user
  // names an unnamed file through /proc, which must work too.
  EXPECT_EQ(RunInChild([&] { return WriteAsUnprivilegedUser(user, folder / "closed/new.wav"); }), 0)
      << "2: the user could not be changed";
  DIR* dir = opendir((folder / "closed").c_str());
  ASSERT_NE(dir, nullptr);
  int entries = 0;
  while (readdir(dir) != nullptr) ++entries;
  closedir(dir);
  EXPECT_EQ(entries, 2);  // "." and ".." only
  EXPECT_EQ(RunInChild([&] { return WriteOutput(folder / "open/new.wav", kNew) ? 0 : 1; }), 0);
  EXPECT_EQ(RunInChild([&] {
              if (!testenv::BecomeUnprivileged(user)) return 2;
              return WriteOutput(folder / "open/mine.wav", kNew) ? 0 : 1;
            }),
            0);
  EXPECT_EQ(wavetest::ReadBytes(folder / "open/mine.wav"), kNew);
}

// ---- ending signals and the hidden name -------------------------------------------

// In a child: a hidden name exists, SIGTERM arrives and waits; the file is
// abandoned, and the signal then ends the child with nothing left.
int TerminatedWhileHiddenNameExists(const std::string& name) {
  OutputFile file;
  if (!CreateOutputFile(name, file, OutputNaming::kHiddenName)) return 2;
  if (OutputEndingSignalWaiting(file)) return 3;
  signal(SIGHUP, SIG_IGN);
  raise(SIGHUP);  // ignored: ends nothing, so does not count
  if (OutputEndingSignalWaiting(file)) return 4;
  raise(SIGTERM);
  if (!OutputEndingSignalWaiting(file)) return 5;
  AbandonOutputFile(file);
  return 6;  // not reached: SIGTERM ends the child here
}

TEST(OutputFile, HeldSignalEndsTheProgramOnceTheHiddenNameIsGone) {
  wavetest::ScratchFolder folder;
  EXPECT_EQ(RunInChild([&] { return TerminatedWhileHiddenNameExists(folder / "out.wav"); }),
            1000 + SIGTERM);
  EXPECT_TRUE(folder.Entries().empty());
}

// ---- input ---------------------------------------------------------------------

TEST(InputFile, ReadsByPositionUpToTheEnd) {
  wavetest::ScratchFolder folder;
  wavetest::WriteBytes(folder / "in.wav", Bytes{10, 11, 12, 13, 14});
  InputFile input;
  ASSERT_TRUE(OpenInputFile(folder / "in.wav", input));
  std::uint8_t got[8] = {};
  EXPECT_EQ(ReadInputAt(input, 1, got, 3), 3);
  EXPECT_EQ(Bytes(got, got + 3), (Bytes{11, 12, 13}));
  EXPECT_EQ(ReadInputAt(input, 3, got, 8), 2);
  EXPECT_EQ(ReadInputAt(input, 9, got, 8), 0);
  CloseInputFile(input);
  EXPECT_EQ(ReadInputAt(input, 0, got, 8), 0);
  EXPECT_FALSE(OpenInputFile(folder / "missing.wav", input));
  EXPECT_TRUE(InputFileOpens(folder / "in.wav"));
  EXPECT_FALSE(InputFileOpens(folder.path()));
}

}  // namespace
