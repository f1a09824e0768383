// The filter table and the filter question, read back cell by cell from the
// headless screen.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "console/console.h"
#include "console/headless.h"
#include "filter/filter_dialogue.h"

namespace {

// ---------------------------------------------------------------------------
// The table

// Files, tap counts and descriptions are checked where they show: the
// answers below, the impulse files' tests and the question's cells.
TEST(FilterTable, HoldsSixDistinctLettersAndNothingElse) {
  std::string letters;
  for (const FilterTableEntry& entry : kFilterTable) letters += entry.letter;
  std::sort(letters.begin(), letters.end());
  EXPECT_EQ(letters, "ABCDEF");
  for (const char other : {'a', 'b', 'f', 'G', 'Z', '\0', ' '}) {
    EXPECT_EQ(FindFilter(other), nullptr) << int(other);
  }
}

// ---------------------------------------------------------------------------
// The question

constexpr int kQuestionRow = 21;

// The screen the question is drawn on: bright white, the cursor at the start
// of the question row, dark grey in force, as the file data screen leaves it.
void PrepareScreen(const std::string& keys) {
  StartHeadlessConsole(keys);
  SetColor(kBlack, kBrightWhite);
  ClearScreen();
  Locate(kQuestionRow, 1);
  SetColor(kDarkGrey, kBrightWhite);
}

// The question asked until it is answered: the keys must answer it.
FilterChoice Choose(const WaveFormat& format) {
  FilterChoice choice;
  EXPECT_TRUE(ChooseFilter(format, choice)) << "the keys ended before an answer";
  return choice;
}

WaveFormat FormatAt(int sampleRate) {
  WaveFormat format;
  format.sampleRate = sampleRate;
  format.channelCount = 2;
  format.bitsPerSample = 24;
  format.formatTag = 1;
  return format;
}

// What one row should hold: 80 cells of text and foreground colour, all on
// bright white. Unwritten cells are blanks; their colour is not checked.
struct ExpectedRow {
  std::string text = std::string(80, ' ');
  std::vector<int> foreground = std::vector<int>(80, -1);

  void Put(int column, const std::string& item, int colour) {
    for (std::size_t k = 0; k < item.size(); ++k) {
      text[column - 1 + k] = item[k];
      foreground[column - 1 + k] = colour;
    }
  }
};

void ExpectRow(int row, const ExpectedRow& expected) {
  SCOPED_TRACE("row " + std::to_string(row));
  EXPECT_EQ(ScreenRowText(row), expected.text);
  for (int column = 1; column <= 80; ++column) {
    EXPECT_EQ(CellBackground(row, column), kBrightWhite) << "column " << column;
    if (expected.foreground[column - 1] >= 0) {
      EXPECT_EQ(CellForeground(row, column), expected.foreground[column - 1])
          << "column " << column << " '" << expected.text[column - 1] << "'";
    }
  }
}

ExpectedRow Row96000(const std::string& answerCells) {
  ExpectedRow row;
  row.Put(4, "Select whether to apply filter", kDarkGrey);
  row.Put(35, "B", kBlack);
  row.Put(37, "(linear phase) or", kDarkGrey);
  row.Put(55, "F", kBlue);
  row.Put(57, "(minimum phase)", kDarkGrey);
  row.Put(73, answerCells, kBlue);
  return row;
}

ExpectedRow FirstRow192000() {
  ExpectedRow row;
  row.Put(4, "Select whether to apply filter", kDarkGrey);
  row.Put(35, "A", kBlack);
  row.Put(37, "(linear phase),", kDarkGrey);
  row.Put(53, "C", kBlack);
  row.Put(55, "(asymmetric),", kDarkGrey);
  return row;
}

ExpectedRow SecondRow192000(const std::string& answerCells) {
  ExpectedRow row;
  row.Put(35, "D", kBlack);
  row.Put(37, "(minimum phase) or", kDarkGrey);
  row.Put(56, "E", kBlack);
  row.Put(58, "(minimum phase)", kDarkGrey);
  row.Put(74, answerCells, kBlack);
  return row;
}

TEST(FilterQuestion, LayoutAt96000CellByCell) {
  PrepareScreen("F\n");
  const FilterChoice choice = Choose(FormatAt(96000));
  EXPECT_EQ(choice.letter, 'F');
  ExpectRow(kQuestionRow, Row96000("F"));
  EXPECT_EQ(ScreenRowText(kQuestionRow - 1), std::string(80, ' '));
  EXPECT_EQ(ScreenRowText(kQuestionRow + 1), std::string(80, ' '));
  // The answer's line end leaves the cursor at the start of the next row.
  EXPECT_EQ(CursorRow(), kQuestionRow + 1);
  EXPECT_EQ(CurrentScreen().column, 0);
  EXPECT_EQ(BeepCount(), 0);
  EXPECT_TRUE(MessageBoxLog().empty());
}

TEST(FilterQuestion, LayoutAt192000CellByCell) {
  PrepareScreen("E\n");
  const FilterChoice choice = Choose(FormatAt(192000));
  EXPECT_EQ(choice.letter, 'E');
  ExpectRow(kQuestionRow, FirstRow192000());
  ExpectRow(kQuestionRow + 1, SecondRow192000("E"));
  EXPECT_EQ(ScreenRowText(kQuestionRow + 2), std::string(80, ' '));
  EXPECT_EQ(CursorRow(), kQuestionRow + 2);
  EXPECT_EQ(BeepCount(), 0);
  EXPECT_TRUE(MessageBoxLog().empty());
}

TEST(FilterQuestion, QuestionTextKeepsTheColourInForce) {
  // The question text has no colour step of its own.
  StartHeadlessConsole("b\n");
  SetColor(kBlack, kBrightWhite);
  ClearScreen();
  Locate(5, 1);
  SetColor(kBlue, kBrightWhite);
  Choose(FormatAt(96000));
  for (int column = 4; column <= 33; ++column) {
    EXPECT_EQ(CellForeground(5, column), kBlue) << column;
  }
  EXPECT_EQ(CellForeground(5, 35), kBlack);
  EXPECT_EQ(CellForeground(5, 37), kDarkGrey);
}

struct AnswerCase {
  int sampleRate;
  const char* typed;
  char letter;
  const char* fileName;
  int coefficientCount;
};

const AnswerCase kValidAnswers[] = {
    {96000, "B", 'B', "FilterB.dat", 19},  {96000, "b", 'B', "FilterB.dat", 19},
    {96000, "F", 'F', "FilterF.dat", 31},  {96000, "f", 'F', "FilterF.dat", 31},
    {192000, "A", 'A', "FilterA.dat", 17}, {192000, "a", 'A', "FilterA.dat", 17},
    {192000, "C", 'C', "FilterC.dat", 17}, {192000, "c", 'C', "FilterC.dat", 17},
    {192000, "D", 'D', "FilterD.dat", 15}, {192000, "d", 'D', "FilterD.dat", 15},
    {192000, "E", 'E', "FilterE.dat", 20}, {192000, "e", 'E', "FilterE.dat", 20},
};

TEST(FilterQuestion, EveryOfferedLetterInEitherCaseFillsTheChoice) {
  for (const AnswerCase& c : kValidAnswers) {
    SCOPED_TRACE(std::string(c.typed) + " at " + std::to_string(c.sampleRate));
    PrepareScreen(std::string(c.typed) + "\n");
    const FilterChoice choice = Choose(FormatAt(c.sampleRate));
    EXPECT_EQ(choice.letter, c.letter);
    EXPECT_EQ(choice.impulseFileName, c.fileName);
    EXPECT_EQ(choice.coefficientCount, c.coefficientCount);
    EXPECT_EQ(BeepCount(), 0);
    EXPECT_TRUE(MessageBoxLog().empty());
  }
}

struct RejectCase {
  int sampleRate;
  const char* typed;  // a rejected line; the next line is valid
};

const RejectCase kRejected[] = {
    {96000, ""},    {96000, " B"}, {96000, "B "}, {96000, "BB"},   {96000, "bb"},  {96000, "A"},
    {96000, "a"},   {96000, "C"},  {96000, "E"},  {96000, "\xE2"}, {96000, "Bf"},  {192000, "B"},
    {192000, "b"},  {192000, "F"}, {192000, "f"}, {192000, ""},    {192000, "AC"}, {192000, " a"},
    {192000, "e "}, {192000, "G"}, {192000, "1"},
};

TEST(FilterQuestion, WrongAnswersGiveTheBeepAndTheBoxOfTheirRate) {
  for (const RejectCase& c : kRejected) {
    SCOPED_TRACE(std::string("'") + c.typed + "' at " + std::to_string(c.sampleRate));
    const bool at96000 = c.sampleRate == 96000;
    PrepareScreen(std::string(c.typed) + "\n" + (at96000 ? "f\n" : "a\n"));
    const FilterChoice choice = Choose(FormatAt(c.sampleRate));
    EXPECT_EQ(choice.letter, at96000 ? 'F' : 'A');
    EXPECT_EQ(BeepCount(), 1);
    ASSERT_EQ(MessageBoxLog().size(), 1u);
    if (at96000) {
      EXPECT_EQ(MessageBoxLog()[0].text, "You must respond either B or F");
      EXPECT_EQ(MessageBoxLog()[0].title, "               ERROR");
    } else {
      EXPECT_EQ(MessageBoxLog()[0].text, "You must respond either A, C, D or E");
      EXPECT_EQ(MessageBoxLog()[0].title, "                  ERROR");
    }
  }
}

TEST(FilterQuestion, RejectedAnswerIsBlankedInItsFirstCellOnly) {
  // xyz is refused, then an empty line, then F: column 73 is blanked after
  // each refusal, y and z stay at 74 and 75, and F is typed at 73 again.
  PrepareScreen("xyz\n\nF\n");
  const FilterChoice choice = Choose(FormatAt(96000));
  EXPECT_EQ(choice.letter, 'F');
  EXPECT_EQ(BeepCount(), 2);
  EXPECT_EQ(MessageBoxLog().size(), 2u);
  ExpectRow(kQuestionRow, Row96000("Fyz"));
  // The line ends of the blanking and of each reading moved only the cursor:
  // nothing was written below the question.
  EXPECT_EQ(ScreenRowText(kQuestionRow + 1), std::string(80, ' '));
  EXPECT_EQ(CursorRow(), kQuestionRow + 1);
}

TEST(FilterQuestion, RejectedAnswerAt192000LeavesItsTailOnTheSecondRow) {
  PrepareScreen("bad\nc\n");
  const FilterChoice choice = Choose(FormatAt(192000));
  EXPECT_EQ(choice.letter, 'C');
  EXPECT_EQ(choice.coefficientCount, 17);
  ExpectRow(kQuestionRow, FirstRow192000());
  ExpectRow(kQuestionRow + 1, SecondRow192000("cad"));
  EXPECT_EQ(ScreenRowText(kQuestionRow + 2), std::string(80, ' '));
}

TEST(FilterQuestion, ManyWrongAnswersInARowEachGetOneBoxAndTheSameRows) {
  std::string keys;
  for (int k = 0; k < 25; ++k) keys += "q\n";
  keys += "e\n";
  PrepareScreen(keys);
  const FilterChoice choice = Choose(FormatAt(192000));
  EXPECT_EQ(choice.letter, 'E');
  EXPECT_EQ(BeepCount(), 25);
  EXPECT_EQ(MessageBoxLog().size(), 25u);
  ExpectRow(kQuestionRow, FirstRow192000());
  ExpectRow(kQuestionRow + 1, SecondRow192000("e"));
  for (int row = 1; row <= kScreenRows; ++row) {
    if (row == kQuestionRow || row == kQuestionRow + 1) continue;
    EXPECT_EQ(ScreenRowText(row), std::string(80, ' ')) << row;
  }
}

TEST(FilterQuestion, RedrawAfterARefusalIsInDarkGreyAgain) {
  // Before the refusal the colour in force is the answer's blue; the redraw
  // must not paint the question text blue.
  PrepareScreen("z\nB\n");
  Choose(FormatAt(96000));
  for (int column = 4; column <= 33; ++column) {
    EXPECT_EQ(CellForeground(kQuestionRow, column), kDarkGrey) << column;
  }
}

TEST(FilterQuestion, InputThatEndsBeforeAnAnswerGivesNoChoice) {
  PrepareScreen("x\n");
  FilterChoice choice = ChoiceOf('B');
  EXPECT_FALSE(ChooseFilter(FormatAt(96000), choice));
  EXPECT_EQ(choice.letter, 0);
  EXPECT_EQ(MessageBoxLog().size(), 1u) << "the wrong answer's box, and no other";
}

TEST(FilterQuestion, UnfilteredRateAsksNothing) {
  PrepareScreen("B\n");
  const FilterChoice choice = Choose(FormatAt(44100));
  EXPECT_EQ(choice.letter, 0);
  EXPECT_EQ(choice.coefficientCount, 0);
  EXPECT_TRUE(choice.impulseFileName.empty());
  EXPECT_EQ(ScreenRowText(kQuestionRow), std::string(80, ' '));
  EXPECT_EQ(BeepCount(), 0);
}

// Each refusal: the pause, one beep and its own box; nothing for a filter read.
TEST(ImpulseRefusal, EachShowsItsOwnBox) {
  StartHeadlessConsole("");
  ReportImpulseRefusal(ImpulseVerdict::kRead);
  EXPECT_EQ(BeepCount(), 0);
  ReportImpulseRefusal(ImpulseVerdict::kNotFound);
  ReportImpulseRefusal(ImpulseVerdict::kDamaged);
  EXPECT_EQ(BeepCount(), 2);
  ASSERT_EQ(MessageBoxLog().size(), 2u);
  EXPECT_EQ(MessageBoxLog()[0].text,
            "Required filter .dat file not found.\\n The program will now terminate");
  EXPECT_EQ(MessageBoxLog()[1].text,
            "Required filter .dat file is damaged.\\n The program will now terminate");
  for (const auto& box : MessageBoxLog()) EXPECT_EQ(box.title, std::string(16, ' ') + "ERROR");
}

}  // namespace
