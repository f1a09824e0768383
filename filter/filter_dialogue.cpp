// The question that chooses a filter (its layout at each rate, its colours,
// the box after a wrong answer) and the boxes of an impulse file that cannot
// serve.

#include "filter/filter_dialogue.h"

#include <string>

#include "console/console.h"
#include "console/refusal.h"
#include "filter/filter_table.h"

namespace {

constexpr VerdictBox<ImpulseVerdict> kImpulseBoxes[] = {
    {ImpulseVerdict::kNotFound,
     {"Required filter .dat file not found.\\n The program will now terminate",
      "                ERROR", true}},
    {ImpulseVerdict::kDamaged,
     {"Required filter .dat file is damaged.\\n The program will now terminate",
      "                ERROR", true}},
};

// Where one offered letter stands on the question's rows. Its description
// follows one blank column after the letter.
struct LetterSlot {
  int rowOffset;  // 0 for the question's row, 1 for the row below it
  int column;
  int foreground;
};

// How the question looks at one sample rate: a slot for each filter the
// table offers at that rate, in the table's order.
struct QuestionLayout {
  int sampleRate;
  LetterSlot slots[4];
  int answerRowOffset;
  int answerColumn;
  int answerForeground;
  const char* wrongAnswerTitle;
};

const QuestionLayout kLayouts[] = {
    {96000, {{0, 35, kBlack}, {0, 55, kBlue}}, 0, 73, kBlue, "               ERROR"},
    {192000,
     {{0, 35, kBlack}, {0, 53, kBlack}, {1, 35, kBlack}, {1, 56, kBlack}},
     1,
     74,
     kBlack,
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

// The filters offered at a rate, in the table's order.
struct Offer {
  const FilterTableEntry* filters[kFilterCount];
  int count = 0;
};

Offer OfferAt(int sampleRate) {
  Offer offer;
  for (const FilterTableEntry& entry : kFilterTable) {
    if (entry.sampleRate == sampleRate) offer.filters[offer.count++] = &entry;
  }
  return offer;
}

// "You must respond either B or F", "... either A, C, D or E".
std::string WrongAnswerText(const Offer& offer) {
  std::string text = "You must respond either ";
  for (int k = 0; k < offer.count; ++k) {
    if (k > 0) text += k + 1 == offer.count ? " or " : ", ";
    text += offer.filters[k]->letter;
  }
  return text;
}

// One item: placed, coloured (unless it keeps the colour in force), printed,
// line ended. The line end only moves the cursor; every item is placed anew.
void ShowItem(int row, int column, int foreground, const char* text) {
  Locate(row, column);
  if (foreground >= 0) SetColor(foreground, kBrightWhite);
  PrintText(text);
  EndLine();
}

void ShowQuestion(const QuestionLayout& layout, const Offer& offer, int row) {
  // The question text keeps the colour in force: dark grey on bright white
  // both on the first showing and after a wrong answer.
  ShowItem(row, kTextColumn, -1, kFilterQuestion);
  for (int k = 0; k < offer.count; ++k) {
    const LetterSlot& slot = layout.slots[k];
    const char letterText[2] = {offer.filters[k]->letter, '\0'};
    ShowItem(row + slot.rowOffset, slot.column, slot.foreground, letterText);
    ShowItem(row + slot.rowOffset, slot.column + 2, kDarkGrey, offer.filters[k]->description);
  }
}

// The offered letter that the answer names, or 0. Only the question's own
// letters fold from lower case; the whole line must be that one letter.
char OfferedLetter(const Offer& offer, const std::string& answer) {
  if (answer.size() != 1) return 0;
  const char typed = answer[0];
  for (int k = 0; k < offer.count; ++k) {
    const char letter = offer.filters[k]->letter;
    const char lower = static_cast<char>(letter - 'A' + 'a');
    if (typed == letter || typed == lower) return letter;
  }
  return 0;
}

}  // namespace

bool ChooseFilter(const WaveFormat& format, FilterChoice& choice) {
  choice = FilterChoice{};
  const int row = CursorRow();
  for (;;) {
    const QuestionLayout* layout = LayoutFor(format.sampleRate);
    if (layout == nullptr) return true;  // header validation never lets one through

    const Offer offer = OfferAt(format.sampleRate);
    ShowQuestion(*layout, offer, row);
    const int answerRow = row + layout->answerRowOffset;
    Locate(answerRow, layout->answerColumn);
    SetColor(layout->answerForeground, kBrightWhite);
    const TypedLine answer = ReadLine();
    if (answer.inputEnded) return false;

    const char letter = OfferedLetter(offer, answer.text);
    if (letter != 0) {
      choice = ChoiceOf(letter);
      return true;
    }

    const std::string wrongAnswer = WrongAnswerText(offer);
    ShowRefusal(RefusalBox{wrongAnswer.c_str(), layout->wrongAnswerTitle});
    // Only the first cell of the rejected answer is blanked; the next answer's
    // echo covers the rest as far as it reaches.
    Locate(answerRow, layout->answerColumn);
    PrintText(" ");
    EndLine();
    SetColor(kDarkGrey, kBrightWhite);
  }
}

void ReportImpulseRefusal(ImpulseVerdict verdict) { ShowRefusal(verdict, kImpulseBoxes); }
