// The whole program run as a real process in plain mode: keys on standard
// input, the final screen on standard output, message boxes on standard error.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/app/app_test_support.h"

namespace fs = std::filesystem;

namespace {

using apptest::MakeWave;
using apptest::ReadFile;
using apptest::Row;
using apptest::RunResult;
using apptest::WriteFile;

class PlainRun : public apptest::WorkFolderTest {};

TEST_F(PlainRun, BannerAndInputPromptStandAtTheirRows) {
  RunResult r = Run("");  // the end of input at the first prompt ends the program
  EXPECT_EQ(r.status, 1);
  ASSERT_GE(r.rows.size(), 8u);
  EXPECT_EQ(Row(r, 1), "");
  EXPECT_EQ(Row(r, 2), "   Ostrivale v1");
  EXPECT_EQ(Row(r, 3).substr(0, 3), "   ");
  EXPECT_EQ(Row(r, 4).substr(0, 3), "   ");
  EXPECT_NE(Row(r, 3), "   ");
  EXPECT_NE(Row(r, 4), "   ");
  EXPECT_EQ(Row(r, 5), "");
  EXPECT_EQ(Row(r, 7), "");
  EXPECT_EQ(Row(r, 8), "   Input file?");
}

TEST_F(PlainRun, MissingInputFilesRestartTheInputScreen) {
  fs::create_directory(work_ / "folder");
  RunResult r = Run("nothing.wav\n\nfolder\nwild*.wav\n");
  EXPECT_EQ(r.status, 1);
  const std::string box = "ERROR: File not found. Please enter a valid filename\n";
  EXPECT_EQ(r.errors, box + box + box + box + "ERROR: input ended at the prompt \"Input file?\"\n");
  // The restart cleared the screen: the last prompt stands alone on row 8.
  EXPECT_EQ(Row(r, 8), "   Input file?");
  EXPECT_EQ(r.rows.size(), 8u);
}

TEST_F(PlainRun, WholeJobFromInputToReport) {
  WriteFile(work_ / "in.wav", MakeWave(2, 96000, {100, -100, 2000, -2000, 0, 0}));
  WriteIdentityImpulse('B', "65536", 19);
  RunResult r = Run("missing.wav\nin.wav\nx\nb\nout.wav\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(r.errors,
            "ERROR: File not found. Please enter a valid filename\n"
            "ERROR: You must respond either B or F\n");
  EXPECT_EQ(Row(r, 8), "   Input file?   in.wav");
  EXPECT_EQ(Row(r, 11), "                 FILE DATA");
  EXPECT_EQ(Row(r, 13), "                 Channels     2");
  EXPECT_EQ(Row(r, 14), "                 Sample rate  96000 Hz");
  EXPECT_EQ(Row(r, 15), "                 Resolution   24 bits");
  EXPECT_EQ(Row(r, 16), "                 Length       3 samples");
  EXPECT_EQ(Row(r, 17), "                 Duration     0 seconds");
  EXPECT_EQ(Row(r, 21),
            "   Select whether to apply filter B (linear phase) or F (minimum phase) b");
  EXPECT_EQ(Row(r, 23), "   Output file?  out.wav");
  EXPECT_EQ(Row(r, 26), "   Loading impulse and input arrays...");
  EXPECT_EQ(Row(r, 27), "   Done");
  EXPECT_EQ(Row(r, 29), "   Convolving...");
  EXPECT_EQ(Row(r, 30), "   Done");
  EXPECT_EQ(Row(r, 32), "   Writing output file...");
  EXPECT_EQ(Row(r, 33), "   Done");
  for (int row : {34, 35, 36, 37}) EXPECT_EQ(Row(r, row), "") << row;
  EXPECT_EQ(Row(r, 38).substr(0, 20), "   Job completed in ");
  EXPECT_EQ(Row(r, 38).substr(Row(r, 38).size() - 8), " seconds");
  EXPECT_EQ(Row(r, 39), "   press any key to quit");
  EXPECT_EQ(r.rows.size(), 39u);

  std::string out = ReadFile(work_ / "out.wav");
  // 3 + 18 frames of 2 channels, 3 bytes each, behind the 44-byte header.
  ASSERT_EQ(out.size(), 44u + 21 * 6);
  EXPECT_EQ(out.substr(0, 4), "RIFF");
  EXPECT_EQ(out.substr(8, 8), "WAVEfmt ");
  EXPECT_EQ(out.substr(36, 4), "data");
}

TEST_F(PlainRun, TheSameJobGivesTheSameBytes) {
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 2000; ++i) samples.push_back((i * 7919) % 100000 - 50000);
  WriteFile(work_ / "in.wav", MakeWave(1, 192000, samples));
  WriteFile(work_ / "FilterE.dat", apptest::ImpulseText({"0.5", "0.25", "0.125"}, 20));
  ASSERT_EQ(Run("in.wav\nE\nfirst.wav\n").status, 0);
  ASSERT_EQ(Run("in.wav\nE\nsecond.wav\n").status, 0);
  std::string first = ReadFile(work_ / "first.wav");
  EXPECT_EQ(first.size(), 44u + (2000 + 19) * 3 + 1);  // odd data length: one pad byte
  EXPECT_EQ(first, ReadFile(work_ / "second.wav"));
}

TEST_F(PlainRun, OutputOverTheInputFileReplacesItWhole) {
  std::vector<std::int32_t> samples(500, 1000);
  WriteFile(work_ / "in.wav", MakeWave(1, 96000, samples) + std::string(5000, 'x'));
  WriteIdentityImpulse('F', "1", 31);
  RunResult r = Run("in.wav\nF\nin.wav\n");
  ASSERT_EQ(r.status, 0) << r.errors;
  std::string out = ReadFile(work_ / "in.wav");
  EXPECT_EQ(out.size(), 44u + (500 + 30) * 3);  // no old bytes after the new data
}

// The built program finds the filters the build put beside it; a copy of it
// with none beside it, in no folder of the current one, finds none.
TEST_F(PlainRun, MissingImpulseFileEndsTheJob) {
  if (fs::exists(fs::path(OSTRIVALE_DATA_DIR) / "FilterD.dat")) {
    GTEST_SKIP() << "the program finds FilterD.dat in " << OSTRIVALE_DATA_DIR;
  }
  WriteFile(work_ / "in.wav", MakeWave(1, 192000, {1, 2, 3}));
  ASSERT_EQ(Run("in.wav\nD\nbuilt.wav\n").status, 0);
  fs::create_directory(work_ / "alone");
  fs::copy_file(OSTRIVALE_BINARY, work_ / "alone/ostrivale");
  RunResult r = Run("in.wav\nD\nout.wav\n", {.program = work_ / "alone/ostrivale"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors,
            "ERROR: Required filter .dat file not found. The program will now terminate\n");
  EXPECT_EQ(Row(r, 27), "   Loading impulse and input arrays...");
  EXPECT_EQ(r.rows.size(), 27u);
  EXPECT_FALSE(fs::exists(work_ / "out.wav"));
}

TEST_F(PlainRun, UnpackedTreeFindsItsFiltersInShareBesideBin) {
  // An installed tree unpacked anywhere: bin/ostrivale and share/ostrivale/.
  fs::create_directories(work_ / "tree/bin");
  fs::create_directories(work_ / "tree/share/ostrivale");
  fs::copy_file(OSTRIVALE_BINARY, work_ / "tree/bin/ostrivale");
  WriteIdentityImpulse('B', "65536", 19, work_ / "tree/share/ostrivale");
  WriteFile(work_ / "in.wav", MakeWave(1, 96000, {1000, 2000, 3000}));
  const RunResult r = Run("in.wav\nB\nout.wav\n", {.program = work_ / "tree/bin/ostrivale"});
  ASSERT_TRUE(r.finished);
  EXPECT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(ReadFile(work_ / "out.wav").size(), 44u + (3 + 18) * 3 + 1);  // odd data: pad byte
}

// The new file is made while the inputs are loaded, before anything is
// computed: a name that cannot be written is reported there.
TEST_F(PlainRun, UnwritableOutputIsReportedAndEndsTheJob) {
  WriteFile(work_ / "in.wav", MakeWave(1, 96000, {1, 2, 3}));
  WriteIdentityImpulse('B', "65536", 19);
  RunResult r = Run("in.wav\nB\nno-such-folder/out.wav\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "ERROR: The output file could not be written\n");
  EXPECT_EQ(Row(r, 26), "   Loading impulse and input arrays...");
  EXPECT_EQ(r.rows.size(), 26u);
  EXPECT_FALSE(fs::exists(work_ / "no-such-folder"));
}

TEST_F(PlainRun, RejectedHeaderRestartsAndAcceptedOneShowsFileData) {
  std::string notWave = MakeWave(1, 96000, {1});
  notWave.replace(8, 4, "wave");
  WriteFile(work_ / "lower.wav", notWave);
  WriteFile(work_ / "in.wav", MakeWave(1, 192000, std::vector<std::int32_t>(96000, 0)));
  RunResult r = Run("lower.wav\nin.wav\n");
  EXPECT_EQ(r.status, 1);  // input ends at the filter question
  EXPECT_EQ(r.errors,
            "ERROR: This is not a Wave file\n"
            "ERROR: input ended at the prompt \"Select whether to apply filter\"\n");
  EXPECT_EQ(Row(r, 16), "                 Length       96000 samples");
  EXPECT_EQ(Row(r, 17), "                 Duration     .5 seconds");
  EXPECT_EQ(Row(r, 21), "   Select whether to apply filter A (linear phase), C (asymmetric),");
  EXPECT_EQ(Row(r, 22), "                                  D (minimum phase) or E (minimum phase)");
}

// ---- the command line and how names arrive ------------------------------------

TEST_F(PlainRun, HelpAndVersionPrintTheirTextAndEnd) {
  const RunResult help = Run("", {.arguments = "--help"});
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.errors, "");
  ASSERT_FALSE(help.rows.empty());
  EXPECT_EQ(Row(help, 1), "Usage: ostrivale [INPUT.wav]");
  for (const char* part :
       {"plain mode", "FilterA.dat", "  -h, --help ", "--version", "ostrivale(1)"}) {
    EXPECT_NE(help.screen.find(part), std::string::npos) << part;
  }
  EXPECT_EQ(help.screen.find("Ostrivale v1"), std::string::npos) << "no dialogue";
  const RunResult shortHelp = Run("", {.arguments = "-h"});
  EXPECT_EQ(shortHelp.status, 0);
  EXPECT_EQ(shortHelp.screen, help.screen);
  const RunResult version = Run("", {.arguments = "--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.screen, "ostrivale " OSTRIVALE_VERSION "\n");
}

TEST_F(PlainRun, OtherArgumentsAreRefusedWithOneLine) {
  const struct {
    const char* arguments;
    const char* line;
  } cases[] = {
      {"--frob", "ostrivale: unknown option '--frob' (see ostrivale --help)\n"},
      {"-", "ostrivale: unknown option '-' (see ostrivale --help)\n"},
      {"a.wav b.wav",
       "ostrivale: one input file at most, not also 'b.wav' (see ostrivale --help)\n"},
      {"--help a.wav", "ostrivale: no other argument goes with '--help' (see ostrivale --help)\n"},
      {"a.wav -h", "ostrivale: no other argument goes with '-h' (see ostrivale --help)\n"},
      {"-help", "ostrivale: unknown option '-help' (see ostrivale --help)\n"},
  };
  for (const auto& c : cases) {
    const RunResult r = Run("", {.arguments = c.arguments});
    EXPECT_EQ(r.status, 2) << c.arguments;
    EXPECT_EQ(r.errors, c.line);
    EXPECT_EQ(r.screen, "") << c.arguments;
  }
}

TEST_F(PlainRun, InputNamedOnTheCommandLineIsTheFirstAnswer) {
  WriteFile(work_ / "-in.wav", MakeWave(1, 96000, {1, 2, 3}));
  WriteIdentityImpulse('B', "65536", 19);
  RunResult r = Run("B\nout.wav\n", {.arguments = "-- -in.wav"});
  ASSERT_EQ(r.status, 0) << r.errors;
  EXPECT_EQ(Row(r, 8), "   Input file?   -in.wav");
  EXPECT_TRUE(fs::exists(work_ / "out.wav"));
  // A name that cannot be used ends a plain run after its box: the answers
  // on standard input belong to the prompts after the input, and "-in.wav"
  // would name a file that opens.
  r = Run("-in.wav\nB\nagain.wav\n", {.arguments = "missing.wav"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.errors, "ERROR: File not found. Please enter a valid filename\n");
  EXPECT_EQ(Row(r, 8), "   Input file?   missing.wav");
  EXPECT_FALSE(fs::exists(work_ / "again.wav"));
}

// Windows editors start UTF-8 files with a byte-order mark; terminals paste a
// dropped file's name in quotes when it holds a blank, and some with a blank
// after it.
TEST_F(PlainRun, ByteOrderMarkAndQuotesOfADroppedNameAreNotPartOfTheName) {
  WriteFile(work_ / "my take.wav", MakeWave(1, 96000, {1, 2, 3}));
  // A name that opens as typed is taken as typed, quotes and blank and all.
  WriteFile(work_ / "'odd.wav'", MakeWave(2, 96000, {4, 5}));
  WriteFile(work_ / "odd.wav", MakeWave(1, 96000, {4, 5}));
  WriteFile(work_ / "odd.wav ", MakeWave(2, 96000, {4, 5}));
  WriteFile(work_ / "plain.wav", MakeWave(1, 96000, {4, 5}));
  WriteIdentityImpulse('B', "65536", 19);
  const struct {
    const char* keys;
    const char* channels;
  } cases[] = {{"\xEF\xBB\xBFmy take.wav\nB\nout.wav\n", "1"},
               {"\"my take.wav\"\nB\nout.wav\n", "1"},
               {"'my take.wav'\nB\nout.wav\n", "1"},
               {"'odd.wav'\nB\nout.wav\n", "2"},
               {"'my take.wav' \nB\nout.wav\n", "1"},
               {"\"my take.wav\" \nB\nout.wav\n", "1"},
               {"plain.wav \nB\nout.wav\n", "1"},
               {"odd.wav \nB\nout.wav\n", "2"}};
  for (const auto& c : cases) {
    const RunResult r = Run(c.keys);
    EXPECT_EQ(r.status, 0) << c.keys << ": " << r.errors;
    EXPECT_EQ(Row(r, 13), std::string("                 Channels     ") + c.channels) << c.keys;
  }
  // One blank only; a blank inside the quotes is the name's.
  const RunResult r = Run("\"my take.wav'\nplain.wav  \n'my take.wav '\n");
  const std::string box = "ERROR: File not found. Please enter a valid filename\n";
  EXPECT_EQ(r.errors, box + box + box + "ERROR: input ended at the prompt \"Input file?\"\n");
}

// ---- the input between the prompts ------------------------------------------------

// True once process `pid` holds `file` open.
bool HoldsOpen(pid_t pid, const fs::path& file) {
  std::error_code error;
  for (const auto& entry : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
    if (fs::read_symlink(entry.path(), error) == file) return true;
  }
  return false;
}

// The input is opened once, at the existence test: a file deleted or
// replaced while the dialogue waits for the output name is read as it was.
TEST_F(PlainRun, InputDeletedOrReplacedWhileThePromptsWaitIsReadAsChecked) {
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 3000; ++i) samples.push_back((i * 7919) % 200000 - 100000);
  const std::string original = MakeWave(1, 192000, samples);
  WriteFile(work_ / "FilterE.dat", apptest::ImpulseText({"0.5", "0.25", "0.125"}, 20));
  WriteFile(work_ / "in.wav", original);
  ASSERT_EQ(Run("in.wav\nE\nexpected.wav\n").status, 0);
  const std::string expected = ReadFile(work_ / "expected.wav");

  for (const bool replace : {false, true}) {
    WriteFile(work_ / "in.wav", original);
    int keys = -1;
    const pid_t pid = Start("in.wav\nE\n", {.keysPipe = &keys});
    ASSERT_GT(pid, 0) << startFailure_;
    EXPECT_TRUE(apptest::WaitUntil([&] { return HoldsOpen(pid, work_ / "in.wav"); }));
    if (replace) {
      WriteFile(work_ / "other.wav", MakeWave(2, 96000, std::vector<std::int32_t>(100, 12345)));
      fs::rename(work_ / "other.wav", work_ / "in.wav");
    } else {
      fs::remove(work_ / "in.wav");
    }
    const std::string last = "out.wav\n";
    EXPECT_EQ(write(keys, last.data(), last.size()), static_cast<ssize_t>(last.size()));
    close(keys);
    const RunResult r = Finish(pid);
    EXPECT_TRUE(r.finished && r.status == 0) << r.screen << r.errors;
    EXPECT_TRUE(ReadFile(work_ / "out.wav") == expected) << (replace ? "replaced" : "deleted");
  }
}

// ---- files as tools write them ----------------------------------------------

using wavefiles::Chunk;
using wavefiles::WaveFile;

std::string Ds64(std::uint64_t riffSize, std::uint64_t dataSize, std::uint64_t frames) {
  return wavefiles::Ds64<std::string>(riffSize, dataSize, frames);
}

// The output of a file as a tool wrote it is the canonical twin's output
// with the input's metadata after the data chunk (the RIFF size counting
// it): the chunks kept in their order, the others dropped, a coding-history
// line added to bext. Without metadata the bytes are the twin's.
TEST_F(PlainRun, OtherLayoutsGiveTheCanonicalFilesJobWithTheirMetadata) {
  std::vector<std::int32_t> samples;
  for (int i = 0; i < 2 * 701; ++i) samples.push_back((i * 104729) % 4000000 - 2000000);
  const std::string canonical = MakeWave(2, 96000, samples);
  const std::string fmt = canonical.substr(20, 16);
  const std::string data = canonical.substr(44);
  // The extensible form of the same format: extension of 22 bytes, 24 valid
  // bits, a channel mask, the PCM sub-format.
  const std::string extensible =
      std::string("\xFE\xFF", 2) + fmt.substr(2) +
      std::string("\x16\0\x18\0\x03\0\0\0\x01\0\0\0\0\0\x10\0\x80\0\0\xAA\0\x38\x9B\x71", 24);
  const std::string list = Chunk("LIST", std::string("INFOISFT\x0e\0\0\0Lavf59.27.100\0", 26));
  const std::string ixml = Chunk("iXML", std::string("<BWFXML/>"));
  const std::string cue = Chunk("cue ", std::string(28, '\x01'));
  const std::string history =
      "A=PCM,F=96000,W=24,M=stereo,T=Ostrivale " OSTRIVALE_VERSION " filter F\r\n";
  std::string impulse;
  for (int i = 0; i < 31; ++i) impulse += std::to_string((i * 37) % 11 - 5) + ".125\r\n";
  WriteFile(work_ / "FilterF.dat", impulse);
  WriteFile(work_ / "in.wav", canonical);
  const RunResult expected = Run("in.wav\nF\nexpected.wav\n");
  ASSERT_EQ(expected.status, 0) << expected.errors;
  ASSERT_EQ(Row(expected, 16), "                 Length       701 samples");
  const std::string expectedBytes = ReadFile(work_ / "expected.wav");

  const struct {
    const char* label;
    std::string file;
    std::string kept;  // the chunks expected after the data chunk
  } layouts[] = {
      {"fmt of 18 bytes, LIST",
       WaveFile("RIFF", {Chunk("fmt ", fmt + std::string(2, '\0')), list, Chunk("data", data)}),
       list},
      {"bext of odd length without NULs, JUNK",
       WaveFile("RIFF", {Chunk("bext", std::string(603, 'b')), Chunk("JUNK", std::string(28, '\0')),
                         Chunk("fmt ", fmt), Chunk("data", data)}),
       Chunk("bext", std::string(603, 'b') + "\r\n" + history)},
      {"RF64",
       WaveFile("RF64", {Chunk("ds64", Ds64(72 + data.size(), data.size(), 701)),
                         Chunk("fmt ", fmt), Chunk("data", data, 0xFFFFFFFF)}),
       ""},
      {"data before fmt, LIST after",
       WaveFile("RIFF", {Chunk("data", data), Chunk("fmt ", fmt), list}), list},
      {"size FFFFFFFF of a writer into a pipe",
       WaveFile("RIFF", {Chunk("fmt ", fmt), list, Chunk("data", data, 0xFFFFFFFF)}), list},
      {"canonical header with size FFFFFFFF",
       WaveFile("RIFF", {Chunk("fmt ", fmt), Chunk("data", data, 0xFFFFFFFF)}), ""},
      {"extensible PCM with fact (sox, ffmpeg)",
       WaveFile("RIFF", {Chunk("fmt ", extensible), Chunk("fact", std::string(4, '\x01')),
                         Chunk("data", data)}),
       ""},
      {"RF64 extensible, metadata around the data (broadcast wave recorder)",
       WaveFile("RF64",
                {Chunk("ds64", Ds64(1, data.size(), 701)), Chunk("JUNK", std::string(10, '\0')),
                 Chunk("bext", std::string(602, 'b') + "A=PCM,F=96000,W=24,M=stereo\r\n" +
                                   std::string(40, '\0')),
                 Chunk("fmt ", extensible), Chunk("PEAK", std::string(24, '\x02')), ixml,
                 Chunk("data", data, 0xFFFFFFFF), Chunk("levl", std::string(6, '\x03')), cue,
                 Chunk("PAD ", std::string(4, '\0')), list}),
       Chunk("bext", std::string(602, 'b') + "A=PCM,F=96000,W=24,M=stereo\r\n" + history) + ixml +
           cue + list},
      {"chunks whose ids are not printable, before and after the data: stepped over, the LIST kept",
       WaveFile("RIFF", {Chunk("fmt ", fmt), Chunk("\x01\x02\x03\x04", std::string(5, 'x')), list,
                         Chunk("data", data), Chunk("\0\0\0\0", std::string(20, '\0')), list}),
       list + list},
  };
  for (const auto& layout : layouts) {
    WriteFile(work_ / "in.wav", layout.file);
    const RunResult r = Run("in.wav\nF\nout.wav\n");
    ASSERT_EQ(r.status, 0) << layout.label << ": " << r.errors;
    for (int row = 13; row <= 17; ++row) EXPECT_EQ(Row(r, row), Row(expected, row)) << layout.label;
    std::string want = expectedBytes + layout.kept;
    wavefiles::SetRiffSize(want);
    EXPECT_TRUE(ReadFile(work_ / "out.wav") == want) << layout.label;
  }

  // A data chunk that ends inside its last frame, a LIST after it (in the
  // canonical layout and in a walked one): the frame is completed with
  // zeros, as at the end of the file, never with the bytes of the next chunk.
  const std::string partial = data + "\x11\x22\x33\x44";
  WriteFile(
      work_ / "in.wav",
      MakeWave(2, 96000, samples, static_cast<std::int64_t>(partial.size())) + "\x11\x22\x33\x44");
  ASSERT_EQ(Run("in.wav\nF\nexpected.wav\n").status, 0);
  const struct {
    std::string file;
    std::string kept;
  } partials[] = {
      {WaveFile("RIFF", {Chunk("fmt ", fmt), Chunk("data", partial), list}), list},
      {WaveFile("RIFF", {Chunk("fmt ", fmt), list, Chunk("data", partial), list}), list + list}};
  for (const auto& layout : partials) {
    WriteFile(work_ / "in.wav", layout.file);
    const RunResult r = Run("in.wav\nF\nout.wav\n");
    ASSERT_EQ(r.status, 0) << r.errors;
    EXPECT_EQ(Row(r, 16), "                 Length       702 samples");
    std::string want = ReadFile(work_ / "expected.wav") + layout.kept;
    wavefiles::SetRiffSize(want);
    EXPECT_TRUE(ReadFile(work_ / "out.wav") == want);
  }
}

}  // namespace
