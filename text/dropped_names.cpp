#include "text/dropped_names.h"

std::string WithoutDropMarks(std::string_view typed, std::string_view quotes) {
  std::string_view name = typed;
  if (!name.empty() && name.back() == ' ') name.remove_suffix(1);
  if (name.size() >= 2 && name.front() == name.back() &&
      quotes.find(name.front()) != std::string_view::npos) {
    name = name.substr(1, name.size() - 2);
  }
  return std::string(name);
}
