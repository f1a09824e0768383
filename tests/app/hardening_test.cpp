// The real program against hostile input files, hostile impulse files,
// failing output, too little memory and signals: each case a process of the
// built program in plain mode (keys on standard input, the final screen on
// standard output, message boxes on standard error), or in a tmux pane for
// the terminal. Steps that cannot be timed from outside (a file changing
// between the header and the samples) run in-process through the wave API.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/app/app_test_support.h"
#include "tests/app/tmux_pane.h"

namespace fs = std::filesystem;

namespace {

const std::string kNotFound = "ERROR: File not found. Please enter a valid filename\n";
const std::string kNotWave = "ERROR: This is not a Wave file\n";
const std::string kNotPcm = "ERROR: This is not a PCM format Wave file\n";
const std::string kNot24Bit = "ERROR: This is not a 24-bit Wave file\n";
const std::string kNotWritten = "ERROR: The output file could not be written\n";
const std::string kNoMemory = "ERROR: Not enough memory for this recording\n";
const std::string kEndedAtInput = "ERROR: input ended at the prompt \"Input file?\"\n";
const std::string kEndedAtFilter =
    "ERROR: input ended at the prompt \"Select whether to apply filter\"\n";

using apptest::Entries;
using apptest::MakeWave;
using apptest::ReadFile;
using apptest::Row;
using apptest::RunOptions;
using apptest::RunResult;
using apptest::WaitUntil;
using apptest::WriteFile;

// The 24-bit codes of an output file, from offset 44 (a pad byte ignored).
std::vector<std::int32_t> Codes(const std::string& file) {
  std::vector<std::int32_t> codes;
  for (std::size_t at = 44; at + 3 <= file.size(); at += 3) {
    std::int32_t v = static_cast<unsigned char>(file[at]) |
                     static_cast<unsigned char>(file[at + 1]) << 8 |
                     static_cast<unsigned char>(file[at + 2]) << 16;
    codes.push_back(v > 8388607 ? v - 16777216 : v);
  }
  return codes;
}

// Expected size of a mono output of `frames` frames: header, data, pad byte.
std::size_t MonoOutputSize(std::size_t frames) { return 44 + 3 * frames + (3 * frames) % 2; }

// Bytes from a fixed seed: the same "random" file on every run.
std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes(count, '\0');
  for (char& c : bytes) c = static_cast<char>(generator() & 0xFF);
  return bytes;
}

class Hardening : public apptest::WorkFolderTest {};

// A rejected input file restarts at the banner; with no more keys the
// program then ends with status 1 and the screen holds the banner alone.
void ExpectRejected(const RunResult& r, const std::string& box) {
  if (!r.startFailure.empty()) return;  // reported as that by Finish
  ASSERT_TRUE(r.finished) << "the program hung";
  EXPECT_EQ(r.signal, 0) << "ended by signal " << r.signal << "\n" << r.errors;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, box + kEndedAtInput);
  EXPECT_EQ(r.rows.size(), 8u) << r.screen;
  EXPECT_EQ(r.rows.empty() ? "" : r.rows.back(), "   Input file?");
}

// ---- input files ---------------------------------------------------------

TEST_F(Hardening, EmptyInputFileIsNotAWaveFile) {
  WriteFile(work_ / "empty.wav", "");
  ExpectRejected(Run("empty.wav\n"), kNotWave);
}

struct CutHeader {
  std::size_t length;     // bytes of a valid mono 96000 header kept
  std::string box;        // the rejection, or empty when accepted
  std::string lengthRow;  // the Length row when accepted
};

class CutHeaders : public Hardening, public ::testing::WithParamInterface<CutHeader> {};

// Bytes beyond the end of a short file read as zero: the tests then refuse
// the file at the first field that is missing, or accept what is there.
TEST_P(CutHeaders, MissingBytesReadAsZero) {
  const CutHeader& c = GetParam();
  const std::string whole = MakeWave(1, 96000, std::vector<std::int32_t>(100, 7));
  WriteFile(work_ / "cut.wav", whole.substr(0, c.length));
  const RunResult r = Run("cut.wav\n");
  if (!c.box.empty()) {
    ExpectRejected(r, c.box);
    return;
  }
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);  // the keys end at the filter question
  EXPECT_EQ(r.errors, kEndedAtFilter);
  EXPECT_EQ(Row(r, 13), "                 Channels     1");
  EXPECT_EQ(Row(r, 14), "                 Sample rate  96000 Hz");
  EXPECT_EQ(Row(r, 16), c.lengthRow);
}

INSTANTIATE_TEST_SUITE_P(
    InputFiles, CutHeaders,
    ::testing::Values(CutHeader{1, kNotWave, ""}, CutHeader{11, kNotWave, ""},
                      CutHeader{12, kNotPcm, ""}, CutHeader{20, kNotPcm, ""},
                      CutHeader{21, kNot24Bit, ""}, CutHeader{34, kNot24Bit, ""},
                      // The low byte of the resolution is 24 and the rest zero.
                      CutHeader{35, "", "                 Length       0 samples"},
                      // The data size's low three bytes say 300 bytes: none is held.
                      CutHeader{43, "", "                 Length       0 samples"}),
    [](const ::testing::TestParamInfo<CutHeader>& cut) {
      return "Bytes" + std::to_string(cut.param.length);
    });

TEST_F(Hardening, HeaderOnlyGivesTheFilterTailOfDitherAlone) {
  WriteFile(work_ / "in.wav", MakeWave(1, 192000, {}));
  WriteIdentityImpulse('D', "1", 15);
  const RunResult r = Run("in.wav\nD\nout.wav\n");
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(Row(r, 16), "                 Length       0 samples");
  const std::string out = ReadFile(work_ / "out.wav");
  ASSERT_EQ(out.size(), MonoOutputSize(14));
  for (std::int32_t code : Codes(out)) EXPECT_LE(std::abs(code), 1);
}

TEST_F(Hardening, DataSizeZeroIgnoresTheBytesThatFollow) {
  std::string file = MakeWave(1, 192000, {}, 0) +
                     MakeWave(1, 192000, std::vector<std::int32_t>(100, 99999)).substr(44);
  WriteFile(work_ / "in.wav", file);
  WriteIdentityImpulse('D', "1", 15);
  const RunResult r = Run("in.wav\nD\nout.wav\n");
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(Row(r, 16), "                 Length       0 samples");
  const std::string out = ReadFile(work_ / "out.wav");
  ASSERT_EQ(out.size(), MonoOutputSize(14));
  for (std::int32_t code : Codes(out)) EXPECT_LE(std::abs(code), 1);
}

TEST_F(Hardening, CutCopyGivesTheSamplesItHolds) {
  // A million frames declared, two and two thirds present (a copy cut
  // short): three frames, the third sample's missing high byte zero, so it
  // is never negative. Nothing is made up after them.
  std::string file = MakeWave(1, 192000, {5000, -5000}, 3000000);
  file += std::string("\xFF\xFF", 2);
  WriteFile(work_ / "in.wav", file);
  WriteIdentityImpulse('D', "1", 15);
  const RunResult r = Run("in.wav\nD\nout.wav\n");
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(Row(r, 16), "                 Length       3 samples");
  const std::string out = ReadFile(work_ / "out.wav");
  ASSERT_EQ(out.size(), MonoOutputSize(3 + 14));
  const std::vector<std::int32_t> codes = Codes(out);
  EXPECT_LE(std::abs(codes[0] - 5000), 1);
  EXPECT_LE(std::abs(codes[1] + 5000), 1);
  EXPECT_LE(std::abs(codes[2] - 65535), 1);
  std::int32_t largest = 0;
  for (std::size_t i = 3; i < codes.size(); ++i) largest = std::max(largest, std::abs(codes[i]));
  EXPECT_LE(largest, 1) << "the filter's tail after the last sample must be dither alone";
}

TEST_F(Hardening, FoldersAndPathsThroughFilesAreNotFound) {
  fs::create_directory(work_ / "folder");
  WriteFile(work_ / "plain.wav", MakeWave(1, 96000, {1}));
  const RunResult r = Run("folder\nplain.wav/inner.wav\n.\n/\n");
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, kNotFound + kNotFound + kNotFound + kNotFound + kEndedAtInput);
  EXPECT_EQ(r.rows.size(), 8u);
}

TEST_F(Hardening, FileWithoutReadPermissionIsNotFound) {
  if (const std::string why = PrepareUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  WriteFile(work_ / "secret.wav", MakeWave(1, 96000, {1, 2, 3}));
  chmod((work_ / "secret.wav").c_str(), 0);  // only root may read it
  ExpectRejected(Run("secret.wav\n", {.unprivileged = true}), kNotFound);
}

// A named pipe has no writer: opening it for reading must not wait for
// one, and it holds no wave header either way.
TEST_F(Hardening, NamedPipeIsRefusedWithoutWaiting) {
  ASSERT_EQ(mkfifo((work_ / "pipe.wav").c_str(), 0644), 0);
  const RunResult r = Run("pipe.wav\n", {.guardSeconds = 30});
  ASSERT_TRUE(r.finished) << "the program waited on the pipe";
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.errors == kNotFound + kEndedAtInput || r.errors == kNotWave + kEndedAtInput)
      << r.errors;
}

TEST_F(Hardening, RandomBytesAreRefusedOrFilteredWithoutHarm) {
  // Random files of several lengths, and random headers that carry "WAVE".
  std::string keys;
  int files = 0;
  for (std::size_t length : {1u, 43u, 44u, 45u, 4096u, 100000u}) {
    for (unsigned seed = 1; seed <= 3; ++seed) {
      std::string bytes = RandomBytes(length, seed * 7919u + static_cast<unsigned>(length));
      if (seed == 3 && length >= 12) bytes.replace(8, 4, "WAVE");
      std::string name = "r";
      name.append(std::to_string(files++)).append(".wav");
      WriteFile(work_ / name, bytes);
      keys += name + "\n";
    }
  }
  const RunResult r = Run(keys);
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.signal, 0);
  EXPECT_EQ(r.status, 1);
  // One refusal per file, each one of the header messages, then the end of
  // the keys at the input prompt.
  ASSERT_TRUE(r.errors.ends_with(kEndedAtInput)) << r.errors;
  std::istringstream lines(r.errors.substr(0, r.errors.size() - kEndedAtInput.size()));
  int boxes = 0;
  for (std::string line; std::getline(lines, line);) {
    line += "\n";
    EXPECT_TRUE(line == kNotWave || line == kNotPcm || line == kNot24Bit ||
                line == "ERROR: This is not a 96kHz or 192kHz Wave file\n" ||
                line == "ERROR: This is not a mono or stereo Wave file\n")
        << line;
    ++boxes;
  }
  EXPECT_EQ(boxes, files);
}

TEST_F(Hardening, RandomSampleDataIsFilteredWhole) {
  std::string file = MakeWave(2, 96000, {}, 300000) + RandomBytes(300000, 42);
  WriteFile(work_ / "noise.wav", file);
  WriteIdentityImpulse('F', "1", 31);
  const RunResult r = Run("noise.wav\nF\nout.wav\n");
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.status, 0) << r.errors;
  const std::string out = ReadFile(work_ / "out.wav");
  ASSERT_EQ(out.size(), 44u + 6 * (50000 + 30));
  const std::vector<std::int32_t> codes = Codes(out);
  // The identity filter gives the input back within the dither step.
  for (std::size_t i = 0; i < 100000; i += 997) {
    const auto* b = reinterpret_cast<const unsigned char*>(file.data() + 44 + 3 * i);
    std::int32_t v = b[0] | b[1] << 8 | b[2] << 16;
    if (v > 8388607) v -= 16777216;
    const std::int32_t code = codes[i];
    // Near full scale the dither may saturate instead of wrapping.
    EXPECT_LE(std::abs(static_cast<std::int64_t>(code) - v), 1) << i;
  }
}

// ---- impulse files ---------------------------------------------------------

// Mono 192000 input 1000, -1000, 0, 0, ... through filter D (15 unscaled
// taps): with a single coefficient h the output is 1000 h, -1000 h, then
// silence.
class ImpulseFiles : public Hardening {
 protected:
  std::vector<std::int32_t> Filter(const std::string& impulseText) {
    std::vector<std::int32_t> samples(50, 0);
    samples[0] = 1000;
    samples[1] = -1000;
    WriteFile(work_ / "in.wav", MakeWave(1, 192000, samples));
    WriteFile(work_ / "FilterD.dat", impulseText);
    last_ = Run("in.wav\nD\nout.wav\n");
    EXPECT_TRUE(last_.finished);
    EXPECT_EQ(last_.signal, 0);
    EXPECT_EQ(last_.status, 0) << last_.errors;
    EXPECT_EQ(last_.errors, "");
    const std::string out = ReadFile(work_ / "out.wav");
    EXPECT_EQ(out.size(), MonoOutputSize(50 + 14));
    return Codes(out);
  }
  RunResult last_;
};

// A damaged FilterE.dat in the current folder, which is searched before the
// shipped files, ends the job as a missing one does, with its own box: no
// silence or noise passed off as the filtered recording, no output, status 1.
// A value beyond the range of a double is damage too: it would drive the output to full scale.
TEST_F(ImpulseFiles, DamagedFileEndsTheJob) {
  std::string cut;  // 5 of E's 20 lines: a copy cut short
  for (int i = 0; i < 5; ++i) cut += "0.125\r\n";
  std::string blankLine = "1\n\n";  // 20 lines, the second empty
  for (int i = 2; i < 20; ++i) blankLine += "0\n";
  const std::string zeros = blankLine.substr(3);  // the other 18 lines
  const std::string texts[] = {"",
                               cut,
                               blankLine,
                               RandomBytes(20000, 1),
                               RandomBytes(20000, 2),
                               RandomBytes(20000, 3),
                               "1e999\n0\n" + zeros,
                               "1\n-1e999\n" + zeros,
                               std::string(100000, '9') + "\n0\n" + zeros};
  WriteFile(work_ / "in.wav", MakeWave(1, 192000, {1000, -1000, 0, 0}));
  for (const std::string& text : texts) {
    SCOPED_TRACE(text.substr(0, 12));
    WriteFile(work_ / "FilterE.dat", text);
    const RunResult r = Run("in.wav\nE\nout.wav\n");
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(r.signal, 0);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors,
              "ERROR: Required filter .dat file is damaged. The program will now terminate\n");
    EXPECT_EQ(r.rows.size(), 27u);
    EXPECT_EQ(Row(r, 27), "   Loading impulse and input arrays...");
    EXPECT_EQ(Entries(work_), (std::set<std::string>{"FilterE.dat", "in.wav"}));
  }
}

struct HugeValue {
  std::string text;  // coefficient 0, the others 0
  bool fullScale;    // 1000 x value lies beyond full scale
};

class HugeValues : public ImpulseFiles, public ::testing::WithParamInterface<HugeValue> {};

// Values up to the largest double saturate at full scale: they never wrap
// round to the other sign or crash the conversion. (Beyond it the file is
// damaged, see above.)
TEST_P(HugeValues, SaturateAtFullScale) {
  const HugeValue& v = GetParam();
  const std::vector<std::int32_t> codes = Filter(apptest::ImpulseText({v.text}, 15));
  ASSERT_EQ(codes.size(), 64u);
  if (v.fullScale) {
    EXPECT_EQ(codes[0], 8388607);
    EXPECT_EQ(codes[1], -8388608);
  } else {
    EXPECT_LE(std::abs(codes[0]), 1);
    EXPECT_LE(std::abs(codes[1]), 1);
  }
  for (std::size_t i = 2; i < codes.size(); ++i) EXPECT_LE(std::abs(codes[i]), 1) << i;
}

INSTANTIATE_TEST_SUITE_P(ImpulseFiles, HugeValues,
                         ::testing::Values(HugeValue{"1e308", true},
                                           HugeValue{"1.7976931348623157e308", true},
                                           HugeValue{std::string("1").append(308, '0'), true},
                                           HugeValue{"8388.609", true},  // just past full scale
                                           HugeValue{"1e-400", false}, HugeValue{"-0", false}),
                         [](const ::testing::TestParamInfo<HugeValue>& value) {
                           std::string name = "Value" + std::to_string(value.index) + "_";
                           for (char c : value.param.text.substr(0, 24))
                             name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
                           return name;
                         });

TEST_F(ImpulseFiles, MoreThanTenMegabytesAreReadOnlyAsFarAsNeeded) {
  std::string text = apptest::ImpulseText({"0.5", "0.25"}, 15);
  text.reserve(text.size() + 11 * 1000 * 1000);
  while (text.size() < 11u * 1000 * 1000) text += "123456789,\r\n";
  const std::vector<std::int32_t> codes = Filter(text);
  ASSERT_EQ(codes.size(), 64u);
  EXPECT_LE(std::abs(codes[0] - 500), 1);
  EXPECT_LE(std::abs(codes[1] + 250), 1);  // 250 - 500
  EXPECT_LE(std::abs(codes[2] + 250), 1);
  for (std::size_t i = 3; i < codes.size(); ++i) EXPECT_LE(std::abs(codes[i]), 1) << i;
}

TEST_F(ImpulseFiles, FieldsOfAMegabyteConvertLikeShortOnes) {
  constexpr std::size_t kMega = 1 << 20;
  std::string text;
  // 1, then a megabyte of zero decimals.
  text.append("+1.").append(kMega, '0').append("\r\n");
  // Tabs inside a field are dropped.
  text.append(kMega, '\t').append("0.5\r\n");
  // Quoted, a megabyte of leading blanks.
  text.append("\"").append(kMega, ' ').append("0.25\"\r\n");
  // 1.25e-1048579: zero.
  text.append("0.").append(kMega, '0').append("125\r\n");
  // 1.77...e9: the digits past the 18th only set the magnitude.
  text.append("1").append(kMega - 1, '7').append("e-1048570\r\n");
  for (int i = 5; i < 15; ++i) text += "0\r\n";
  const std::vector<std::int32_t> codes = Filter(text);
  ASSERT_EQ(codes.size(), 64u);
  // 1000 h[k] - 1000 h[k-1]
  EXPECT_LE(std::abs(codes[0] - 1000), 1);
  EXPECT_LE(std::abs(codes[1] + 500), 1);
  EXPECT_LE(std::abs(codes[2] + 250), 1);
  EXPECT_LE(std::abs(codes[3] + 250), 1);
  EXPECT_EQ(codes[4], 8388607);  // 1000 x 1.78e9 saturates
  EXPECT_EQ(codes[5], -8388608);
  for (std::size_t i = 6; i < codes.size(); ++i) EXPECT_LE(std::abs(codes[i]), 1) << i;
}

// ---- output that cannot be written ----------------------------------------

// Mono 96000 input, 10000 samples, through filter F (31 unscaled taps): an
// output of 44 + 3 x 10030 bytes.
class FailingOutput : public Hardening {
 protected:
  void SetUp() override {
    Hardening::SetUp();
    std::vector<std::int32_t> samples;
    for (int i = 0; i < 10000; ++i) samples.push_back((i * 7919) % 200000 - 100000);
    input_ = MakeWave(1, 96000, samples);
    WriteFile(work_ / "in.wav", input_);
    WriteIdentityImpulse('F', "1", 31);
  }

  // Runs the job into `outputName` and checks the failure report: the box,
  // status 1, the screen ending at the writing status line, and the folder's
  // entries unchanged (no temporary file left).
  // The status line under which the failure is shown: the new file is made
  // while the inputs are loaded, and written while the pass runs.
  struct Step {
    const char* statusLine;
    std::size_t rows;
  };
  static constexpr Step kCreating = {"   Loading impulse and input arrays...", 26};
  static constexpr Step kWriting = {"   Convolving...", 29};

  void ExpectNotWritten(const std::string& outputName, RunOptions options = {},
                        const Step& step = kCreating) {
    const std::set<std::string> before = Entries(work_);
    options.guardSeconds = 60;
    const RunResult r = Run("in.wav\nF\n" + outputName + "\n", options);
    if (!r.startFailure.empty()) return;  // reported as that by Finish
    ASSERT_TRUE(r.finished) << "the program hung writing " << outputName;
    EXPECT_EQ(r.signal, 0) << "ended by signal " << r.signal;
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.errors, kNotWritten);
    EXPECT_EQ(r.rows.empty() ? "" : r.rows.back(), step.statusLine);
    EXPECT_EQ(r.rows.size(), step.rows);
    EXPECT_EQ(Entries(work_), before);
  }

  std::string input_;
};

TEST_F(FailingOutput, FolderThatDoesNotExist) {
  ExpectNotWritten("no-such-folder/out.wav");
  EXPECT_FALSE(fs::exists(work_ / "no-such-folder"));
}

TEST_F(FailingOutput, NameThatIsAFolder) {
  fs::create_directory(work_ / "sub");
  WriteFile(work_ / "sub" / "keep.wav", "kept");
  ExpectNotWritten("sub");
  ExpectNotWritten("sub/");
  EXPECT_TRUE(fs::is_directory(work_ / "sub"));
  EXPECT_EQ(Entries(work_ / "sub"), std::set<std::string>{"keep.wav"});
  EXPECT_EQ(ReadFile(work_ / "sub" / "keep.wav"), "kept");
}

TEST_F(FailingOutput, NameThatIsANamedPipe) {
  ASSERT_EQ(mkfifo((work_ / "out.wav").c_str(), 0644), 0);
  ExpectNotWritten("out.wav");
  struct stat status {};
  ASSERT_EQ(lstat((work_ / "out.wav").c_str(), &status), 0);
  EXPECT_TRUE(S_ISFIFO(status.st_mode)) << "the pipe was replaced by a file";
}

TEST_F(FailingOutput, FolderWithoutWritePermission) {
  if (const std::string why = PrepareUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  fs::create_directory(work_ / "closed");
  WriteFile(work_ / "closed" / "out.wav", "old contents");
  chmod((work_ / "closed").c_str(), 0555);
  ExpectNotWritten("closed/out.wav", {.unprivileged = true});
  EXPECT_EQ(ReadFile(work_ / "closed" / "out.wav"), "old contents");
  EXPECT_EQ(Entries(work_ / "closed"), std::set<std::string>{"out.wav"});
}

TEST_F(FailingOutput, ReadOnlyFileInAWritableFolder) {
  if (const std::string why = PrepareUnprivilegedRun(); !why.empty()) GTEST_SKIP() << why;
  fs::create_directory(work_ / "open");
  chmod((work_ / "open").c_str(), 0777);
  WriteFile(work_ / "open" / "out.wav", "old contents");
  ASSERT_EQ(chown((work_ / "open" / "out.wav").c_str(), user_.uid, user_.gid), 0);
  chmod((work_ / "open" / "out.wav").c_str(), 0444);
  ExpectNotWritten("open/out.wav", {.unprivileged = true});
  EXPECT_EQ(ReadFile(work_ / "open" / "out.wav"), "old contents");
  EXPECT_EQ(Entries(work_ / "open"), std::set<std::string>{"out.wav"});
  if (geteuid() != 0) return;  // as root, whom no permission stops, the owner's write bit decides
  for (const mode_t mode : {0444, 0464}) {
    chmod((work_ / "open" / "out.wav").c_str(), mode);
    ExpectNotWritten("open/out.wav");
  }
  EXPECT_EQ(ReadFile(work_ / "open" / "out.wav"), "old contents");
  chmod((work_ / "open" / "out.wav").c_str(), 0644);
  EXPECT_EQ(Run("in.wav\nF\nopen/out.wav\n").status, 0);  // replaced
}

TEST_F(FailingOutput, WriteFailingPartWayKeepsTheOldFile) {
  const std::string old(5000, 'o');
  WriteFile(work_ / "out.wav", old);
  ExpectNotWritten("out.wav", {.fileSize = 4096}, kWriting);  // the new file needs some 30 kB
  EXPECT_EQ(ReadFile(work_ / "out.wav"), old);
}

TEST_F(FailingOutput, WriteFailingPartWayOverTheInputKeepsTheInput) {
  ExpectNotWritten("in.wav", {.fileSize = 4096}, kWriting);
  EXPECT_EQ(ReadFile(work_ / "in.wav"), input_);
}

TEST_F(FailingOutput, TheInputFileItselfIsReplacedWhole) {
  const RunResult r = Run("in.wav\nF\nin.wav\n");
  ASSERT_TRUE(r.finished);
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors, "");
  EXPECT_EQ(ReadFile(work_ / "in.wav").size(), MonoOutputSize(10030));
  EXPECT_EQ(Entries(work_), (std::set<std::string>{"FilterF.dat", "in.wav"}));
}

// Ended by SIGTERM while the new file is being written: the old file stays
// and nothing half-written is left beside it.
TEST_F(Hardening, TerminatedWhileWritingLeavesNoTemporaryFile) {
  // Some 150 MB of output: long enough to stop the program while it writes.
  apptest::WriteFileOfSize(work_ / "in.wav", MakeWave(1, 192000, {1000, 2000}, 150000000),
                           44u + 150000000u);
  WriteIdentityImpulse('D', "1", 15);
  WriteFile(work_ / "out.wav", "old contents");
  const pid_t pid = Start("in.wav\nD\nout.wav\n");
  ASSERT_GT(pid, 0) << startFailure_;
  // Wait until the new file is being written: without a name while the pass
  // runs, or under a temporary name where the file system cannot do that.
  // Then stop the program there and end it.
  const std::set<std::string> known = {"in.wav", "FilterD.dat", "out.wav"};
  bool writing = WaitUntil(
      [&] {
        if (apptest::WritingUnnamedFile(pid, work_)) return true;
        for (const std::string& name : Entries(work_))
          if (known.count(name) == 0) return true;
        return false;
      },
      120);
  kill(pid, SIGSTOP);
  kill(pid, SIGTERM);
  kill(pid, SIGCONT);
  const RunResult r = Finish(pid);
  ASSERT_TRUE(writing) << "the new file was never seen being written; status " << r.status << " "
                       << r.errors;
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.signal, SIGTERM);
  EXPECT_EQ(Entries(work_), known) << "a half-written file was left behind";
  // Either the old file, or (when the signal waits until the new file is
  // complete) the whole new one: never a part of it.
  const std::uintmax_t size = fs::file_size(work_ / "out.wav");
  if (size != MonoOutputSize(50000000 + 14)) {
    EXPECT_EQ(ReadFile(work_ / "out.wav"), "old contents");
  }
}

// ---- memory ----------------------------------------------------------------

// The job streams through buffers of a few megabytes, whatever the length of
// the recording. Under an address-space limit that leaves the program room to
// start and run its dialogue but not those buffers, the job is refused with
// the memory box before anything is loaded, and nothing is written.
TEST_F(Hardening, TooLittleMemoryGetsTheMemoryBoxNotACrash) {
  if (apptest::kAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space: no RLIMIT_AS under it";
  }
  apptest::WriteFileOfSize(work_ / "in.wav", MakeWave(2, 192000, {1, 2, 3, 4}, 0xFFFFFFF0u),
                           std::uintmax_t{44} + 0xFFFFFFF0u);
  WriteIdentityImpulse('D', "1", 15);
  const RunResult r = Run("in.wav\nD\nout.wav\n", {.addressSpace = rlim_t{7} << 20});
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.signal, 0) << "ended by signal " << r.signal;
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, kNoMemory);
  // The 192000 filter question takes two rows: the output prompt is on row 24.
  EXPECT_EQ(r.rows.size(), 24u);
  EXPECT_EQ(Row(r, 24), "   Output file?  out.wav");
  EXPECT_EQ(Entries(work_), (std::set<std::string>{"FilterD.dat", "in.wav"}));
}

// ---- the terminal ----------------------------------------------------------

class TerminalSignals : public tmuxpane::PaneTest, public ::testing::WithParamInterface<int> {};

TEST_P(TerminalSignals, WhileALineIsTyped) {
  ASSERT_TRUE(StartAtInputPrompt()) << session_.Text();
  session_.Literal("half-typed na");
  ASSERT_TRUE(session_.WaitForText("half-typed na")) << session_.Text();
  EXPECT_EQ(session_.Format("#{alternate_on}"), "1");
  const pid_t pid = session_.ProgramPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, GetParam()), 0);
  ExpectTerminalRestored(GetParam());
}

TEST_P(TerminalSignals, WhileTheJobComputes) {
  // 50 million frames, a few of them sound and the rest silence held in a
  // sparse file: seconds of loading and convolving. The program is stopped
  // as soon as a computing status line shows, then sent the signal, then let
  // go.
  apptest::WriteFileOfSize(work_ / "in.wav", MakeWave(1, 192000, {1, 2, 3}, 150000000),
                           44u + 150000000u);
  WriteFile(work_ / "FilterD.dat", apptest::ImpulseText({"1"}, 15, "0.01"));
  ASSERT_TRUE(StartAtInputPrompt()) << session_.Text();
  ASSERT_TRUE(session_.Answer("Input file?", "in.wav") && session_.Answer("(minimum phase)", "D") &&
              session_.Answer("Output file?", "out.wav"))
      << session_.Text();
  ASSERT_TRUE(session_.WaitForText("Loading impulse and input arrays...")) << session_.Text();
  const pid_t pid = session_.ProgramPid();
  ASSERT_GT(pid, 0);
  ASSERT_EQ(kill(pid, SIGSTOP), 0);
  const std::string stopped = session_.Text();
  EXPECT_EQ(stopped.find("press any key"), std::string::npos)
      << "the job had already finished: make it longer\n"
      << stopped;
  kill(pid, GetParam());
  kill(pid, SIGCONT);
  ExpectTerminalRestored(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Terminal, TerminalSignals,
                         ::testing::Values(SIGTERM, SIGHUP, SIGUSR1, SIGRTMIN),
                         [](const ::testing::TestParamInfo<int>& signal) {
                           return signal.param == SIGRTMIN
                                      ? std::string("SIGRTMIN")
                                      : std::string("SIG") + sigabbrev_np(signal.param);
                         });

class TerminalResize : public tmuxpane::PaneTest {};

// The screen as a list of rows of 80 cells.
std::vector<std::vector<tmuxpane::PaneCell>> Grid(const tmuxpane::Pane& pane, int rows) {
  std::vector<std::vector<tmuxpane::PaneCell>> grid;
  for (int row = 1; row <= rows; ++row) grid.push_back(tmuxpane::RowCells(pane, row, 80));
  return grid;
}

// A resize in the middle of the dialogue, larger, smaller and back, redraws
// every cell of the screen as it was, colours included, and the cursor where
// it was.
TEST_F(TerminalResize, RedrawsWithoutLosingACell) {
  WriteFile(work_ / "in.wav", MakeWave(2, 96000, std::vector<std::int32_t>(960, 5)));
  ASSERT_TRUE(StartAtInputPrompt()) << session_.Text();
  ASSERT_TRUE(session_.Answer("Input file?", "in.wav") && session_.WaitForText("(minimum phase)"))
      << session_.Text();
  session_.Literal("q");  // typed, not yet entered
  // The screen at rest: the "q" at the end of the question, the cursor after
  // it, and two captures in a row alike.
  const std::string cursor = "1 20 73";
  std::vector<std::vector<tmuxpane::PaneCell>> before;
  ASSERT_TRUE(WaitUntil([&] {
    const auto first = Grid(session_.Colours(), 41);
    const std::string at = session_.Format("#{cursor_flag} #{cursor_y} #{cursor_x}");
    before = Grid(session_.Colours(), 41);
    const std::string row = tmuxpane::TrimRight(tmuxpane::RowText(session_.Colours(), 21));
    return row.size() > 2 && row.substr(row.size() - 2) == " q" && at == cursor && first == before;
  })) << session_.Text();
  ASSERT_EQ(tmuxpane::TrimRight(tmuxpane::RowText(session_.Colours(), 11)),
            "                 FILE DATA");

  // Larger: the whole screen stands at the top left as before.
  ASSERT_TRUE(session_.Resize(100, 50));
  ASSERT_TRUE(
      WaitUntil([&] { return session_.Format("#{pane_width} #{pane_height}") == "100 50"; }));
  EXPECT_TRUE(WaitUntil([&] { return Grid(session_.Colours(), 41) == before; }, 20))
      << session_.Text();

  // Smaller: the rows shown are a run of the screen's rows, the cursor's among them.
  ASSERT_TRUE(session_.Resize(80, 20));
  ASSERT_TRUE(
      WaitUntil([&] { return session_.Format("#{pane_width} #{pane_height}") == "80 20"; }));
  const int cursorRow = 20;  // zero-based: the filter question on row 21
  int shownTop = -1;
  WaitUntil(
      [&] {
        const auto small = Grid(session_.Colours(), 20);
        for (int top = 0; top + 20 <= static_cast<int>(before.size()); ++top) {
          if (std::equal(small.begin(), small.end(), before.begin() + top)) {
            shownTop = top;
            return true;
          }
        }
        return false;
      },
      20);
  ASSERT_GE(shownTop, 0) << "the rows shown are not the screen's\n" << session_.Text();
  EXPECT_LE(shownTop, cursorRow);
  EXPECT_GT(shownTop + 20, cursorRow);
  EXPECT_EQ(session_.Format("#{cursor_y}"), std::to_string(cursorRow - shownTop));

  // Back to 80 x 41: every cell as it was, and the cursor too.
  ASSERT_TRUE(session_.Resize(80, 41));
  ASSERT_TRUE(
      WaitUntil([&] { return session_.Format("#{pane_width} #{pane_height}") == "80 41"; }));
  EXPECT_TRUE(WaitUntil([&] { return Grid(session_.Colours(), 41) == before; }, 20))
      << session_.Text();
  EXPECT_EQ(session_.Format("#{cursor_flag} #{cursor_y} #{cursor_x}"), cursor);

  // And the dialogue goes on: the typed letter is still there to be entered.
  session_.Keys("BSpace");
  session_.Literal("x");
  session_.Keys("Enter");
  ASSERT_TRUE(session_.WaitForText("[ OK ]")) << session_.Text();
}

}  // namespace
