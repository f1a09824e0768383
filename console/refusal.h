// How every room shows what it refuses: a beep and a message box (after a
// short pause for the boxes of a file that is not found), each room holding
// the boxes of its verdicts in one table.
#pragma once

#include <cstddef>

struct RefusalBox {
  const char* text;
  const char* title;  // its leading blanks are part of it
  bool pauseFirst = false;
};

// Pause(100) when the box asks for it, Beep, ShowMessageBox.
void ShowRefusal(const RefusalBox& box);

// One row of a room's table: the box of a verdict.
template <typename Verdict>
struct VerdictBox {
  Verdict verdict;
  RefusalBox box;
};

// Shows the box of `verdict` from `table`; nothing when the table has none
// (a verdict that refuses nothing).
template <typename Verdict, std::size_t kRows>
void ShowRefusal(Verdict verdict, const VerdictBox<Verdict> (&table)[kRows]) {
  for (const VerdictBox<Verdict>& row : table) {
    if (row.verdict == verdict) {
      ShowRefusal(row.box);
      return;
    }
  }
}
