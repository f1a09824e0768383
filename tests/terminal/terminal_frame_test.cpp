// The frame builder checked on a virtual terminal (virtual_terminal.h): over
// random frames, cursors and terminal sizes, every update leaves the terminal
// showing what the frame says, exactly as a full redraw onto a fresh terminal
// does, and draws only what changed. Exact bytes only for what a terminal does
// not show: how few an update takes.
#include "terminal/terminal_frame.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "virtual_terminal.h"

namespace {

using Frame = std::vector<FrameCell>;  // kConsoleRows x kConsoleColumns, row by row

FrameCell& At(Frame& frame, int row, int column) {
  return frame[static_cast<std::size_t>(row * kConsoleColumns + column)];
}
FrameCell At(const Frame& frame, int row, int column) {
  return frame[static_cast<std::size_t>(row * kConsoleColumns + column)];
}

TEST(ColourMapping, ConsoleNumbersToTheSixteenTerminalColours) {
  // black, blue, green, cyan, red, magenta, brown, light grey, then the bright ones.
  const int foreground[16] = {30, 34, 32, 36, 31, 35, 33, 37, 90, 94, 92, 96, 91, 95, 93, 97};
  for (int colour = 0; colour < 16; ++colour) {
    EXPECT_EQ(AnsiForeground(colour), foreground[colour]) << colour;
    EXPECT_EQ(AnsiBackground(colour), foreground[colour] + 10) << colour;
  }
}

TEST(TerminalFrameBytes, AnUpdateSendsOnlyWhatChangedWithTheFewestMoves) {
  TerminalView view;
  SetTerminalSize(view, 2, 8);
  Frame frame(kConsoleRows * kConsoleColumns, FrameCell{U' ', 0xF0});  // black on bright white
  std::string out;
  AppendFrame(out, view, frame.data(), 0, 0, false);
  // The cursor hidden, the terminal's own colours for the clear, a move a row, colours once.
  EXPECT_EQ(out, "\x1b[?25l\x1b[0m\x1b[2J\x1b[1;1H\x1b[30;107m        \x1b[2;1H        ");
  const FrameCell changes[] = {{U'x', 0xF1}, {U' ', 0xF0},      {U' ', 0xF0},
                               {U'y', 0xF1}, {U'\u65E5', 0xF1}, {U'\u65E5', 0xF1, true},
                               {U'z', 0xF0}};
  std::copy(std::begin(changes), std::end(changes), &At(frame, 1, 0));
  out.clear();
  AppendFrame(out, view, frame.data(), 1, 7, true);
  // A move over a gap only (none after the wide character), colours when they change.
  EXPECT_EQ(out, "\x1b[2;1H\x1b[34;107mx\x1b[2;4Hy\xe6\x97\xa5\x1b[30;107mz\x1b[2;8H\x1b[?25h");
}

TEST(VirtualTerminal, FailsOnWhatItDoesNotKnow) {  // a 2 x 3 terminal
  for (const char* bytes :
       {"\x1b[5A", "\x1b[2K", "\x1b[0;1H", "\x1b[3;1H", "\x1b[1;1", "\x1b[38;5;1m", "\x1b[?1049h",
        "\x1bM", "\r", "\x07", "\xc2\x85", "\xff", "abcd", "ab\xe6\x97\xa5"}) {
    ::testing::TestPartResultArray failures;
    {
      const ::testing::ScopedFakeTestPartResultReporter reporter(&failures);
      VirtualTerminal terminal;
      ResizeVirtualTerminal(terminal, 2, 3);
      FeedVirtualTerminal(terminal, bytes);
    }
    EXPECT_EQ(failures.size(), 1) << ::testing::PrintToString(bytes);
  }
}

// Characters of one column, each with what a terminal cell shows for it:
// controls would act instead of showing ('?'), non-characters show as U+FFFD.
constexpr char32_t kNarrow[][2] = {
    {U'a', U'a'},           {U' ', U' '}, {U'\u00E9', U'\u00E9'}, {U'\u2502', U'\u2502'},
    {U'\uFFFD', U'\uFFFD'}, {0x00, U'?'}, {0x07, U'?'},           {0x1B, U'?'},
    {0x7F, U'?'},           {0x85, U'?'}, {0x9B, U'?'},           {0xD800, U'\uFFFD'},
    {0x110000, U'\uFFFD'}};
constexpr char32_t kWide[] = {U'\u65E5', U'\uAC00',
                              U'\U0001F3B5'};  // two columns, shown as themselves

// What the terminal must show of `frame` through the window of `view`: each
// cell's character in its colours; one followed by a continuation over both
// columns; a blank in a cell's own colours for a continuation without its
// character and for a pair cut by the window's right edge; beyond the frame,
// blanks in the terminal's own colours. The cursor at its cell in the window.
VirtualTerminal Expected(const Frame& frame, const TerminalView& view, int rows, int columns,
                         int cursorRow, int cursorColumn, bool cursorVisible) {
  VirtualTerminal terminal;
  terminal.rows = rows;
  terminal.columns = columns;
  terminal.cells.resize(static_cast<std::size_t>(rows * columns));
  for (int row = 0; row < view.rows; ++row) {
    for (int column = 0; column < view.columns; ++column) {
      const int frameRow = view.topRow + row, frameColumn = view.leftColumn + column;
      const FrameCell cell = At(frame, frameRow, frameColumn);
      const bool head = !cell.continuation && frameColumn + 1 < kConsoleColumns &&
                        At(frame, frameRow, frameColumn + 1).continuation;
      const bool tail =
          cell.continuation && column > 0 && !At(frame, frameRow, frameColumn - 1).continuation;
      const FrameCell owner = tail ? At(frame, frameRow, frameColumn - 1) : cell;
      const bool blank = (head && column + 1 == view.columns) || (cell.continuation && !tail);
      char32_t shown = owner.character;
      for (const auto& narrow : kNarrow) shown = narrow[0] == owner.character ? narrow[1] : shown;
      CellAt(terminal, row, column) =
          TerminalCell{blank ? U' ' : shown, owner.attribute % 16, owner.attribute / 16,
                       blank || !(head || tail) ? TerminalPart::kWhole
                       : head                   ? TerminalPart::kLeftHalf
                                                : TerminalPart::kRightHalf};
    }
  }
  terminal.row = cursorRow - view.topRow;
  terminal.column = cursorColumn - view.leftColumn;
  terminal.cursorShown = cursorVisible;
  return terminal;
}

// The first way `got` differs from `want`: a cell, or the cursor shown or not, and where.
std::string Difference(const VirtualTerminal& got, const VirtualTerminal& want) {
  const auto show = [](const TerminalCell& cell) {  // character, colours, part
    return ::testing::PrintToString(std::vector<long>{static_cast<long>(cell.character),
                                                      cell.foreground, cell.background,
                                                      static_cast<long>(cell.part)});
  };
  const auto [wanted, cell] =
      std::mismatch(want.cells.begin(), want.cells.end(), got.cells.begin());
  const auto at = wanted - want.cells.begin();
  if (wanted != want.cells.end())
    return "cell " + std::to_string(at / want.columns) + "," + std::to_string(at % want.columns) +
           ": " + show(*cell) + ", not " + show(*wanted);
  if (got.cursorShown == want.cursorShown &&
      (!want.cursorShown || (got.row == want.row && got.column == want.column)))
    return "";
  return "cursor " + std::to_string(got.cursorShown) + " at " + std::to_string(got.row) + "," +
         std::to_string(got.column);
}

// The window of `size` in [0, limit) that holds `position` nearest to
// `first`: a window moves only as far as it must.
int NearestWindow(int first, int size, int limit, int position) {
  return std::clamp(first, std::max(0, position - size + 1), std::min(position, limit - size));
}

// A terminal as the binding drives it, what it was sent last, and the
// situations the random frames reached, counted so that none is left out unseen.
struct Rig {
  TerminalView view;
  VirtualTerminal terminal;
  Frame frame = Frame(kConsoleRows * kConsoleColumns);
  int cursorRow = 0, cursorColumn = 0;
  bool cursorVisible = false;
};
struct Seen {
  int pairsCutByTheEdge = 0, cursorsOnAJustDrawnLastColumn = 0, windowMoves = 0, boxes = 0;
};

// Sends one update and checks it: the terminal shows what the frame says and
// what a full redraw onto a fresh terminal shows; the window is the one
// nearest the last that holds the cursor; drawn afresh only when cleared or
// moved, and otherwise only cells that changed or the terminal lost (or the
// other half of their pair); nothing drawn with the cursor showing, no
// colours chosen twice; the same frame again sends nothing.
void Update(Rig& rig, const Frame& frame, int cursorRow, int cursorColumn, bool cursorVisible,
            Seen& seen) {
  const TerminalView before = rig.view;
  const TerminalView& view = rig.view;
  const int rows = rig.terminal.rows, columns = rig.terminal.columns;
  std::string bytes, freshBytes, again;
  const bool afresh =
      AppendFrame(bytes, rig.view, frame.data(), cursorRow, cursorColumn, cursorVisible);
  TerminalView fresh;
  SetTerminalSize(fresh, rows, columns);
  fresh.topRow = view.topRow;
  fresh.leftColumn = view.leftColumn;
  AppendFrame(freshBytes, fresh, frame.data(), cursorRow, cursorColumn, cursorVisible);
  VirtualTerminal redrawn;
  ResizeVirtualTerminal(redrawn, rows, columns);
  if (!FeedVirtualTerminal(rig.terminal, bytes) || !FeedVirtualTerminal(redrawn, freshBytes))
    return;
  EXPECT_EQ(view.topRow, NearestWindow(before.topRow, view.rows, kConsoleRows, cursorRow));
  EXPECT_EQ(view.leftColumn,
            NearestWindow(before.leftColumn, view.columns, kConsoleColumns, cursorColumn));
  const bool moved = view.topRow != before.topRow || view.leftColumn != before.leftColumn;
  EXPECT_EQ(afresh, before.clearFirst || moved);
  EXPECT_EQ(Difference(rig.terminal, Expected(frame, view, rows, columns, cursorRow, cursorColumn,
                                              cursorVisible)),
            "");
  EXPECT_EQ(Difference(rig.terminal, redrawn), "") << "against a full redraw";
  EXPECT_EQ(rig.terminal.drawnWithCursorShown + redrawn.drawnWithCursorShown, 0);
  EXPECT_EQ(rig.terminal.repeatedColours + redrawn.repeatedColours, 0);
  for (int at = 0; at < rows * columns && !afresh; ++at) {
    const int row = view.topRow + at / columns, column = view.leftColumn + at % columns;
    bool changed = false;
    for (int near = std::max(column - 1, 0);
         near <= column + 1 && row < kConsoleRows && near < kConsoleColumns; ++near)
      changed =
          changed || !before.valid[row][near] || At(frame, row, near) != At(rig.frame, row, near);
    EXPECT_TRUE(changed || !rig.terminal.drawn[static_cast<std::size_t>(at)])
        << "drawn unchanged: " << row << "," << column;
  }
  EXPECT_FALSE(AppendFrame(again, rig.view, frame.data(), cursorRow, cursorColumn, cursorVisible));
  EXPECT_EQ(again, "");
  rig.frame = frame;
  rig.cursorRow = cursorRow;
  rig.cursorColumn = cursorColumn;
  rig.cursorVisible = cursorVisible;
  const int right = view.leftColumn + view.columns - 1;
  for (int row = view.topRow; row < view.topRow + view.rows && right + 1 < kConsoleColumns; ++row)
    seen.pairsCutByTheEdge +=
        !At(frame, row, right).continuation && At(frame, row, right + 1).continuation;
  seen.cursorsOnAJustDrawnLastColumn +=
      cursorVisible && cursorColumn == right &&
      rig.terminal
          .drawn[static_cast<std::size_t>((cursorRow - view.topRow) * columns + view.columns - 1)];
  seen.windowMoves += moved && !before.clearFirst;
}

// Frame edits keep what AppendFrame is promised: a continuation follows a
// character of two columns, another continuation or the start of its row, and
// a character of two columns is followed by one. Writing over half of a wide
// character blanks its other half, as the screen model does.
void Put(Frame& frame, int row, int column, FrameCell cell) {
  if (At(frame, row, column).continuation && column > 0 && !At(frame, row, column - 1).continuation)
    At(frame, row, column - 1) = FrameCell{U' ', At(frame, row, column - 1).attribute};
  At(frame, row, column) = cell;
  for (int next = column + 1; next < kConsoleColumns && At(frame, row, next).continuation; ++next)
    At(frame, row, next) = FrameCell{U' ', At(frame, row, next).attribute};
}

// Random numbers the same on every system: the standard fixes what mt19937
// gives, not what its distributions make of it.
int Roll(std::mt19937& dice, int sides) {
  return static_cast<int>(dice() % static_cast<unsigned>(sides));
}

void RandomEdit(Frame& frame, std::mt19937& dice, Rig& rig) {
  const int row = Roll(dice, kConsoleRows), column = Roll(dice, kConsoleColumns),
            left = std::min(column, kConsoleColumns - 2);
  const auto attribute = static_cast<std::uint8_t>(Roll(dice, 256));
  const char32_t wide = kWide[Roll(dice, static_cast<int>(std::size(kWide)))];
  const FrameCell before = At(frame, row, std::max(column - 1, 0));
  switch (Roll(dice, 9)) {
    case 0:
    case 1:
    case 2:
      return Put(
          frame, row, column,
          FrameCell{kNarrow[Roll(dice, static_cast<int>(std::size(kNarrow)))][0], attribute});
    case 3:
    case 4:  // its right half in its colours or others
      Put(frame, row, left, FrameCell{wide, attribute});
      At(frame, row, left + 1) =
          FrameCell{wide, Roll(dice, 2) ? attribute : before.attribute, true};
      return;
    case 5:  // a continuation where one may stand: a right half, or one without its character
      if (column == 0 || before.continuation ||
          std::find(std::begin(kWide), std::end(kWide), before.character) != std::end(kWide))
        At(frame, row, column) = FrameCell{wide, attribute, true};
      return;
    case 6:  // colours alone
      At(frame, row, column).attribute = attribute;
      return;
    case 7: {  // a cell the terminal lost: the view says it is unknown
      rig.view.valid[row][column] = false;
      const int shownRow = row - rig.view.topRow, shownColumn = column - rig.view.leftColumn;
      if (shownRow >= 0 && shownRow < rig.view.rows && shownColumn >= 0 &&
          shownColumn < rig.view.columns)
        CellAt(rig.terminal, shownRow, shownColumn) = kUnknownCell;
      return;
    }
    default:  // a scroll
      std::copy(frame.begin() + kConsoleColumns, frame.end(), frame.begin());
      std::fill(frame.end() - kConsoleColumns, frame.end(), FrameCell{U' ', attribute});
  }
}

TEST(TerminalFrame, RandomUpdatesEndAsAFullRedrawAndAsTheFrameSays) {
  Seen seen;
  for (unsigned sequence = 1; sequence <= 150 && !HasFailure(); ++sequence) {
    std::mt19937 dice(sequence);
    Rig rig;
    const int startRows = 1 + Roll(dice, 48), startColumns = 1 + Roll(dice, 96);
    SetTerminalSize(rig.view, startRows, startColumns);
    ResizeVirtualTerminal(rig.terminal, startRows, startColumns);
    Frame frame(kConsoleRows * kConsoleColumns,
                FrameCell{U' ', static_cast<std::uint8_t>(Roll(dice, 256))}),
        underBox;
    for (int step = 0; step < 40 && !HasFailure(); ++step) {
      SCOPED_TRACE("sequence " + std::to_string(sequence) + ", step " + std::to_string(step));
      int cursorRow = rig.cursorRow, cursorColumn = rig.cursorColumn;
      bool cursorVisible = rig.cursorVisible;
      if (!underBox.empty() && Roll(dice, 2) == 0) {  // the box taken away
        frame.swap(underBox);
        underBox.clear();
        ++seen.boxes;
      } else if (underBox.empty() &&
                 Roll(dice, 12) == 0) {  // a box laid over, the cursor hidden on its button
        underBox = frame;
        const int height = 3 + Roll(dice, 6), width = 3 + Roll(dice, kConsoleColumns - 2);
        const int top = Roll(dice, kConsoleRows - height + 1),
                  left = Roll(dice, kConsoleColumns - width + 1);
        for (int row = top; row < top + height; ++row)
          for (int column = left; column < left + width; ++column)
            Put(frame, row, column, FrameCell{U'\u2502', 0x70});
        cursorRow = top + height - 2;
        cursorColumn = left + width / 2;
        cursorVisible = false;
      } else {
        for (int edits = Roll(dice, 30) == 0 ? 2000 : 1 + Roll(dice, 4); edits > 0; --edits)
          RandomEdit(frame, dice, rig);
      }
      if (Roll(dice, 2) == 0) {
        cursorRow = Roll(dice, 3) == 0 ? kConsoleRows - 1 : Roll(dice, kConsoleRows);
        cursorColumn = Roll(dice, 3) == 0 ? kConsoleColumns - 1 : Roll(dice, kConsoleColumns);
        cursorVisible = Roll(dice, 3) != 0;
      }
      if (Roll(dice, 10) == 0) {
        const int rows = 1 + Roll(dice, 48), columns = 1 + Roll(dice, 96);
        SetTerminalSize(rig.view, rows, columns);
        ResizeVirtualTerminal(rig.terminal, rows, columns);
      }
      Update(rig, frame, cursorRow, cursorColumn, cursorVisible, seen);
    }
  }
  EXPECT_GT(seen.pairsCutByTheEdge, 0);
  EXPECT_GT(seen.cursorsOnAJustDrawnLastColumn, 0);
  EXPECT_GT(seen.windowMoves, 0);
  EXPECT_GT(seen.boxes, 0);
}

}  // namespace
