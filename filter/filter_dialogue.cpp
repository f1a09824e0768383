// The question that chooses a filter (its layout at each rate, its colours,
// the box after a wrong answer) and the boxes of an impulse file that cannot
// serve.

#include "filter/filter_dialogue.h"

#include <string>

#include "console/console.h"
#include "filter/filter_table.h"

namespace {

struct ImpulseRefusal {
  ImpulseVerdict verdict;
  const char* text;
  const char* title;
};

constexpr ImpulseRefusal kImpulseRefusals[] = {
    {ImpulseVerdict::kNotFound, "Required filter .dat file not found.\\n The program will now terminate",
     "                ERROR"},
    {ImpulseVerdict::kDamaged, "Required filter .dat file is damaged.\\n The program will now terminate",
     "                ERROR"},
};


const char kQuestionText[] = "Select whether to apply filter";

// One offered letter on the question's rows. Its description follows one
// blank column after the letter.
struct LetterSlot {
  char letter;
  int rowOffset;  // 0 for the question's row, 1 for the row below it
  int column;
  int foreground;
};

// How the question looks at one sample rate.
struct QuestionLayout {
  int sampleRate;
  LetterSlot slots[4];
  int slotCount;
  int answerRowOffset;
  int answerColumn;
  int answerForeground;
  const char* wrongAnswerText;
  const char* wrongAnswerTitle;
};

const QuestionLayout kLayouts[] = {
    {96000,
     {{'B', 0, 35, kBlack}, {'F', 0, 55, kBlue}},
     2,
     0,
     73,
     kBlue,
     "You must respond either B or F",
     "               ERROR"},
    {192000,
     {{'A', 0, 35, kBlack}, {'C', 0, 53, kBlack}, {'D', 1, 35, kBlack}, {'E', 1, 56, kBlack}},
     4,
     1,
     74,
     kBlack,
     "You must respond either A, C, D or E",
     "                  ERROR"},
};

// The layout for the rate, tested in the order 96000, 192000; nullptr for a
// rate the tool does not filter.
const QuestionLayout* LayoutFor(int sampleRate) {
  for (const QuestionLayout& layout : kLayouts) {
    if (layout.sampleRate == sampleRate) return &layout;
  }
  return nullptr;
}

// One item: placed, coloured (unless it keeps the colour in force), printed,
// line ended. The line end only moves the cursor; every item is placed anew.
void ShowItem(int row, int column, int foreground, const char* text) {
  Locate(row, column);
  if (foreground >= 0) SetColor(foreground, kBrightWhite);
  PrintText(text);
  EndLine();
}

void ShowQuestion(const QuestionLayout& layout, int row) {
  // The question text keeps the colour in force: dark grey on bright white
  // both on the first showing and after a wrong answer.
  ShowItem(row, kTextColumn, -1, kQuestionText);
  for (int s = 0; s < layout.slotCount; ++s) {
    const LetterSlot& slot = layout.slots[s];
    const FilterTableEntry* entry = FindFilter(slot.letter);
    const char letterText[2] = {slot.letter, '\0'};
    ShowItem(row + slot.rowOffset, slot.column, slot.foreground, letterText);
    ShowItem(row + slot.rowOffset, slot.column + 2, kDarkGrey, entry->description);
  }
}

// The offered letter that the answer names, or 0. Only the question's own
// letters fold from lower case; the whole line must be that one letter.
char OfferedLetter(const QuestionLayout& layout, const std::string& answer) {
  if (answer.size() != 1) return 0;
  const char typed = answer[0];
  for (int s = 0; s < layout.slotCount; ++s) {
    const char letter = layout.slots[s].letter;
    const char lower = static_cast<char>(letter - 'A' + 'a');
    if (typed == letter || typed == lower) return letter;
  }
  return 0;
}

}  // namespace

FilterChoice ChooseFilter(const WaveFormat& format) {
  FilterChoice choice;
  const int row = CursorRow();
  for (;;) {
    const QuestionLayout* layout = LayoutFor(format.sampleRate);
    if (layout == nullptr) return choice;  // header validation never lets one through

    ShowQuestion(*layout, row);
    const int answerRow = row + layout->answerRowOffset;
    Locate(answerRow, layout->answerColumn);
    SetColor(layout->answerForeground, kBrightWhite);
    const std::string answer = ReadLine(kQuestionText);

    const char letter = OfferedLetter(*layout, answer);
    if (letter != 0) return ChoiceOf(letter);

    Beep();
    ShowMessageBox(layout->wrongAnswerText, layout->wrongAnswerTitle);
    // Only the first cell of the rejected answer is blanked; the next answer's
    // echo covers the rest as far as it reaches.
    Locate(answerRow, layout->answerColumn);
    PrintText(" ");
    EndLine();
    SetColor(kDarkGrey, kBrightWhite);
  }
}

void ReportImpulseRefusal(ImpulseVerdict verdict) {
  for (const ImpulseRefusal& refusal : kImpulseRefusals) {
    if (refusal.verdict == verdict) {
      Pause(100);
      Beep();
      ShowMessageBox(refusal.text, refusal.title);
      return;
    }
  }
}
