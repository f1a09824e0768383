#include "filter/filter_table.h"

const FilterTableEntry kFilterTable[kFilterCount] = {
    {'B', 96000, "(linear phase) or", "FilterB.dat", 19, true},
    {'F', 96000, "(minimum phase)", "FilterF.dat", 31, false},
    {'A', 192000, "(linear phase),", "FilterA.dat", 17, true},
    {'C', 192000, "(asymmetric),", "FilterC.dat", 17, true},
    {'D', 192000, "(minimum phase) or", "FilterD.dat", 15, false},
    {'E', 192000, "(minimum phase)", "FilterE.dat", 20, false},
};

const FilterTableEntry* FindFilter(char letter) {
  for (const FilterTableEntry& entry : kFilterTable) {
    if (entry.letter == letter) return &entry;
  }
  return nullptr;
}

FilterChoice ChoiceOf(char letter) {
  FilterChoice choice;
  const FilterTableEntry* entry = FindFilter(letter);
  if (entry == nullptr) return choice;
  choice.letter = entry->letter;
  choice.impulseFileName = entry->impulseFileName;
  choice.coefficientCount = entry->coefficientCount;
  return choice;
}
