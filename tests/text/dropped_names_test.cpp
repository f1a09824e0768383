#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "text/dropped_names.h"

namespace {

struct DropCase {
  const char* typed;
  std::string_view quotes;
  const char* name;
};

TEST(DroppedNames, OneBlankAfterAndOnePairOfQuotesAroundAreDropped) {
  const DropCase cases[] = {
      {"\"C:\\my music\\take 1.wav\"", kConsoleQuotes, "C:\\my music\\take 1.wav"},
      {"\"C:\\my music\\take 1.wav\" ", kConsoleQuotes, "C:\\my music\\take 1.wav"},
      {"'/home/me/Take 3.wav' ", kTerminalQuotes, "/home/me/Take 3.wav"},
      {"take.wav ", kConsoleQuotes, "take.wav"},
      {"\"\"take.wav\"\"", kConsoleQuotes, "\"take.wav\""},  // one pair only
      {"\"take.wav\"  ", kConsoleQuotes, "\"take.wav\" "},   // one blank only
      {"'take.wav'", kConsoleQuotes, "'take.wav'"},          // a console's quotes are double
      {"'take.wav\"", kTerminalQuotes, "'take.wav\""},       // a pair is of one kind
      {"take.wav", kTerminalQuotes, "take.wav"},
      {"\"", kTerminalQuotes, "\""},
      {"\"take.wav", kTerminalQuotes, "\"take.wav"},
  };
  for (const DropCase& c : cases) EXPECT_EQ(WithoutDropMarks(c.typed, c.quotes), c.name) << c.typed;
}

}  // namespace
