// Files on POSIX only: permissions kept and given, unnamed files, symbolic
// links, pipes and devices, file size limits, other users, and the ending
// signal held while a hidden name exists.
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <dirent.h>

#include <cerrno>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "files_test_support.h"
#include "system/ending.h"
#include "system/files.h"
#include "tests/test_environment.h"

namespace filestest {

std::vector<NameCase> SystemNameCases() {
  return {
      {"null device", [](const ScratchFolder&) { return std::string("/dev/null"); }, true},
      {"name of a pipe",
       [](const ScratchFolder& f) {
         mkfifo((f / "pipe").c_str(), 0644);
         return f / "pipe";
       },
       true},
      {"dangling link",
       [](const ScratchFolder& f) {
         if (symlink("nowhere/x.wav", (f / "dangling").c_str()) != 0) return std::string();
         return f / "dangling";
       }},
  };
}

}  // namespace filestest

namespace {

using filestest::Naming;
using filestest::WriteOutput;
using testenv::FileMode;
using testenv::RunInChild;
using testfiles::Bytes;
using testfiles::ReadBytes;
using testfiles::ScratchFolder;
using testfiles::WriteBytes;

const Bytes kNew = {'R', 'I', 'F', 'F', 1, 2, 3};

// pread on a pipe is an error (ESPIPE), never the end of a file.
TEST(ReadingFile, APipeFailsRatherThanEnds) {
  ScratchFolder folder;
  ASSERT_EQ(mkfifo((folder / "pipe").c_str(), 0644), 0);
  const FileHandle pipe = OpenFileForReading(folder / "pipe");
  ASSERT_NE(pipe, kNoFile);
  std::uint8_t byte = 0;
  EXPECT_EQ(ReadFileAt(pipe, 0, &byte, 1), kReadFailed);
  CloseFile(pipe);
}

TEST_P(Naming, NewFileGetsTheOrdinaryMode) {
  for (mode_t mask : {mode_t{022}, mode_t{027}, mode_t{0}}) {
    const mode_t previous = umask(mask);
    const std::string name = folder_ / (std::to_string(mask) + "m.wav");
    EXPECT_TRUE(WriteOutput(name, kNew, GetParam()));
    umask(previous);
    EXPECT_EQ(FileMode(name), 0666u & ~mask) << "umask " << mask;
    EXPECT_EQ(ReadBytes(name), kNew);
  }
}

TEST_P(Naming, ReplacedFileKeepsItsModeWithoutSetId) {
  const std::string name = folder_ / "out.wav";
  WriteBytes(name, Bytes(10000, 0xAB));
  chmod(name.c_str(), 04604);
  ASSERT_TRUE(WriteOutput(name, kNew, GetParam()));
  EXPECT_EQ(ReadBytes(name), kNew);
  EXPECT_EQ(FileMode(name), 0604u);
}

// The input is read while the new file is written, and replaced at the end.
TEST_P(Naming, InputStaysReadableWhileItsNameIsReplaced) {
  const std::string name = folder_ / "in.wav";
  WriteBytes(name, Bytes{1, 2, 3, 4, 5, 6});
  const FileHandle input = OpenFileForReading(name);
  ASSERT_NE(input, kNoFile);
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(name, file, GetParam()));
  std::uint8_t got[4] = {};
  ASSERT_TRUE(AppendOutput(file, kNew.data(), 3));
  EXPECT_EQ(ReadFileAt(input, 2, got, 4), 4);
  EXPECT_EQ(Bytes(got, got + 4), (Bytes{3, 4, 5, 6}));
  ASSERT_TRUE(MakeOutputDurable(file) && NameOutputFile(file));
  EXPECT_EQ(ReadFileAt(input, 4, got, 4), 2) << "the old file stays readable to the end";
  CloseFile(input);
  EXPECT_EQ(ReadBytes(name), Bytes(kNew.begin(), kNew.begin() + 3));
}

TEST_P(Naming, WritesThroughASymbolicLink) {
  WriteBytes(folder_ / "real.wav", Bytes(100, 0x77));
  ASSERT_EQ(symlink("real.wav", (folder_ / "link.wav").c_str()), 0);
  ASSERT_TRUE(WriteOutput(folder_ / "link.wav", kNew, GetParam()));
  struct stat status {};
  ASSERT_EQ(lstat((folder_ / "link.wav").c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_EQ(ReadBytes(folder_ / "real.wav"), kNew);
  EXPECT_EQ(folder_.Entries(), (std::set<std::string>{"link.wav", "real.wav"}));
}

// As root: a link in a sticky folder that anyone may write, pointing at a
// 0600 file of root's elsewhere, is followed only when it is ours or the
// folder owner's (also when reached through a link of ours); refused, the
// file is untouched and nothing is made.
TEST(OutputFile, LinkInASharedFolderIsFollowedOnlyWhenOursOrTheFolderOwners) {
  const passwd* nobody = geteuid() == 0 ? getpwnam("nobody") : nullptr;
  if (nobody == nullptr) GTEST_SKIP() << "needs root, and a user \"nobody\" to own links";
  const uid_t root = 0;
  const uid_t other = nobody->pw_uid;
  const struct {
    mode_t folderMode;
    uid_t folderOwner, linkOwner;
    bool throughOurLink, followed;
  } cases[] = {{01777, root, other, false, false},
               {01777, root, other, true, false},
               {01777, root, root, false, true},
               {01777, other, other, false, true},
               {0777, root, other, false, true}};
  const Bytes old(100, 0x5A);
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    ScratchFolder folder;
    const std::string shared = folder / "shared";
    const std::string link = shared + "/out.wav";
    ASSERT_EQ(mkdir(shared.c_str(), c.folderMode), 0);
    ASSERT_EQ(chmod(shared.c_str(), c.folderMode), 0);
    ASSERT_EQ(chown(shared.c_str(), c.folderOwner, 0), 0);
    WriteBytes(folder / "secret.wav", old);
    ASSERT_EQ(chmod((folder / "secret.wav").c_str(), 0600), 0);
    ASSERT_EQ(symlink((folder / "secret.wav").c_str(), link.c_str()), 0);
    ASSERT_EQ(lchown(link.c_str(), c.linkOwner, 0), 0);
    ASSERT_EQ(symlink(link.c_str(), (folder / "mine.wav").c_str()), 0);
    EXPECT_EQ(WriteOutput(c.throughOurLink ? folder / "mine.wav" : link, kNew), c.followed);
    EXPECT_EQ(ReadBytes(folder / "secret.wav"), c.followed ? kNew : old);
    EXPECT_EQ(folder.Entries(), (std::set<std::string>{"mine.wav", "secret.wav", "shared"}));
  }
}

// What each disk step flushed, and what stood under the output's name then.
std::string observedName;
ino_t observedFolder = 0;
std::vector<std::string> seenSteps;

bool RecordDiskStep(DiskStep step, FileHandle handle) {
  struct stat flushed {};
  struct stat named {};
  fstat(static_cast<int>(handle), &flushed);
  std::string seen = step == DiskStep::kFileContents ? "contents of " : "entries of ";
  seen += S_ISDIR(flushed.st_mode) && flushed.st_ino == observedFolder
              ? "the folder"
              : "a file of " + std::to_string(flushed.st_size) + " bytes";
  seen += lstat(observedName.c_str(), &named) == 0 ? ", name holds " + std::to_string(named.st_size)
                                                   : ", name free";
  seenSteps.push_back(seen);
  return true;
}

// The file's bytes reach the disk while the name is free or holds the old
// file, and its folder is flushed once the name holds the new file.
TEST_P(Naming, NewContentReachesTheDiskBeforeTheNameAndTheFolderAfter) {
  observedName = folder_ / "out.wav";
  struct stat folder {};
  ASSERT_EQ(stat(folder_.path().c_str(), &folder), 0);
  observedFolder = folder.st_ino;
  for (const std::string before : {"free", "holds 5000"}) {
    if (before != "free") WriteBytes(observedName, Bytes(5000, 0x11));
    seenSteps.clear();
    ObserveDiskSteps(RecordDiskStep);
    EXPECT_TRUE(WriteOutput(observedName, kNew, GetParam()));
    ObserveDiskSteps(nullptr);
    EXPECT_EQ(seenSteps, (std::vector<std::string>{"contents of a file of 7 bytes, name " + before,
                                                   "entries of the folder, name holds 7"}));
  }
}

TEST(OutputFile, UnnamedFileIsNowhereUntilNamed) {
  ScratchFolder folder;
  OutputFile file;
  ASSERT_TRUE(CreateOutputFile(folder / "out.wav", file));
  ASSERT_TRUE(AppendOutput(file, kNew.data(), static_cast<std::int64_t>(kNew.size())));
  EXPECT_TRUE(file.temporaryPath.empty()) << "this file system has no unnamed files";
  EXPECT_TRUE(folder.Entries().empty());
  ASSERT_TRUE(MakeOutputDurable(file) && NameOutputFile(file));
  EXPECT_EQ(folder.Entries(), std::set<std::string>{"out.wav"});
}

TEST(OutputFile, DeviceIsNeverReplaced) {
  // A null device of our own in the scratch folder: the name must be refused,
  // not renamed over.
  ScratchFolder folder;
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
    ScratchFolder folder;
    const std::string name = folder / "out.wav";
    EXPECT_EQ(RunInChild([&] { return WriteUnderFileSizeLimit(name, naming); }), 0);
    EXPECT_TRUE(folder.Entries().empty());
    const Bytes old(5000, 0x3C);
    WriteBytes(name, old);
    EXPECT_EQ(RunInChild([&] { return WriteUnderFileSizeLimit(name, naming); }), 0);
    EXPECT_EQ(ReadBytes(name), old);
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
  if (const std::string why = testenv::FindUnprivilegedUser(user); !why.empty())
    GTEST_SKIP() << why;
  ScratchFolder folder;
  ASSERT_EQ(mkdir((folder / "open").c_str(), 0777), 0);
  ASSERT_EQ(mkdir((folder / "closed").c_str(), 0555), 0);
  chmod((folder / "open").c_str(), 0777);
  chmod(folder.path().c_str(), 0755);
  const Bytes old(77, 0x21);
  WriteBytes(folder / "open/readonly.wav", old);
  chmod((folder / "open/readonly.wav").c_str(), 0444);
  // A read-only file in a folder anyone may write: not replaced.
  EXPECT_EQ(RunInChild([&] { return WriteAsUnprivilegedUser(user, folder / "open/readonly.wav"); }),
            0)
      << "2: the user could not be changed";
  EXPECT_EQ(ReadBytes(folder / "open/readonly.wav"), old);
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
  EXPECT_EQ(ReadBytes(folder / "open/mine.wav"), kNew);
}

// ---- ending signals and the hidden name -------------------------------------------

// In a child: a hidden name stands beside the old file; HUP, ignored from the
// start as under nohup, stays ignored; the signal waits, and ends the child
// (through the ending handler) once the file is abandoned.
int SignalledWhileHiddenNameExists(const std::string& name, int signalNumber) {
  const rlimit noCore{0, 0};
  setrlimit(RLIMIT_CORE, &noCore);  // QUIT, XCPU: no core file
  signal(SIGHUP, SIG_IGN);
  RestoreBeforeEnding([] {});
  OutputFile file;
  if (!CreateOutputFile(name, file, OutputNaming::kHiddenName)) return 2;
  raise(SIGHUP);
  if (EndingEventWaiting()) return 3;
  raise(signalNumber);
  if (!EndingEventWaiting()) return 4;
  AbandonOutputFile(file);
  return 5;  // not reached: the signal ends the child here
}

TEST(OutputFile, HeldSignalEndsTheProgramOnceTheHiddenNameIsGone) {
  const int signals[] = {SIGTERM, SIGINT,  SIGQUIT, SIGUSR1, SIGUSR2,  SIGALRM, SIGVTALRM,
                         SIGPROF, SIGXCPU, SIGIO,   SIGPWR,  SIGRTMIN, SIGRTMAX};
  for (const int signalNumber : signals) {
    ScratchFolder folder;
    WriteBytes(folder / "out.wav", kNew);
    EXPECT_EQ(RunInChild(
                  [&] { return SignalledWhileHiddenNameExists(folder / "out.wav", signalNumber); }),
              1000 + signalNumber);
    EXPECT_EQ(folder.Entries(), std::set<std::string>{"out.wav"}) << "signal " << signalNumber;
    EXPECT_EQ(ReadBytes(folder / "out.wav"), kNew);
  }
}

}  // namespace
