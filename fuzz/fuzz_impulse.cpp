// Fuzzes the impulse file reader and the decimal converter.
//
// The first input byte chooses the coefficient count (15 to 31, the range of
// the filter table); the rest is the file's text. ParseImpulseText works on a
// heap copy of exactly the text's length and writes into an array of exactly
// the count, so any read past the text or write past the array is caught.
// Each coefficient must equal the conversion of the field that a plain
// reference splitter finds (past a UTF-8 byte-order mark at the start), the
// text must be refused exactly when that splitter finds fewer fields than
// the count, one without a number or one whose value is not finite, and
// each conversion must agree with the C library's correctly rounded strtod
// on the same number.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "filter/impulse_file.h"

namespace {

void Check(bool condition, const char* what, std::string_view field = {}) {
  if (!condition) {
    std::fprintf(stderr, "invariant broken: %s [", what);
    for (unsigned char c : field) std::fprintf(stderr, "%02X", c);
    std::fprintf(stderr, "]\n");
    std::abort();
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The longest start of `field` that is a number in the accepted notation,
// rewritten for strtod: leading blanks, tabs and line feeds dropped, D or d
// as e, an exponent letter without digits dropped. Also counts the digits
// before the first nonzero one and the significant ones. Empty: no number.
struct Reference {
  std::string text;
  int significantDigits = 0;
  bool hasExponent = false;
};

Reference ReferenceNumber(std::string_view field) {
  Reference ref;
  std::size_t i = 0;
  while (i < field.size() && (field[i] == ' ' || field[i] == '\t' || field[i] == '\n')) ++i;
  std::string out;
  if (i < field.size() && (field[i] == '+' || field[i] == '-')) out.push_back(field[i++]);
  bool digits = false;
  bool nonzeroSeen = false;
  auto take = [&](char c) {
    digits = true;
    if (c != '0') nonzeroSeen = true;
    if (nonzeroSeen) ++ref.significantDigits;
    out.push_back(c);
  };
  while (i < field.size() && IsDigit(field[i])) take(field[i++]);
  if (i < field.size() && field[i] == '.') {
    out.push_back(field[i++]);
    while (i < field.size() && IsDigit(field[i])) take(field[i++]);
  }
  if (!digits) return ref;  // no number: converts to 0
  if (i < field.size() &&
      (field[i] == 'E' || field[i] == 'e' || field[i] == 'D' || field[i] == 'd')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < field.size() && (field[j] == '+' || field[j] == '-')) exponent.push_back(field[j++]);
    std::size_t digitStart = j;
    while (j < field.size() && IsDigit(field[j])) exponent.push_back(field[j++]);
    if (j > digitStart) {
      out += exponent;
      ref.hasExponent = true;
    }
  }
  ref.text = out;
  return ref;
}

void CheckConversion(std::string_view field) {
  const double got = ConvertDecimalField(field);
  Check(!std::isnan(got), "conversion is never NaN", field);
  const Reference ref = ReferenceNumber(field);
  if (ref.text.empty()) {
    Check(got == 0.0 && !std::signbit(got), "no number converts to +0", field);
    return;
  }
  const double want = std::strtod(ref.text.c_str(), nullptr);
  if (ref.significantDigits <= 18) {
    // At most 18 significant digits: correctly rounded, bit for bit.
    Check(std::memcmp(&got, &want, sizeof got) == 0, "agrees with strtod", field);
    return;
  }
  // Digits past the 18th only set the magnitude: within a few units in the
  // last place of the full value (subnormals: within a few of the smallest).
  Check(std::signbit(got) == std::signbit(want), "sign", field);
  if (std::isinf(want) || std::isinf(got)) {
    const double finite = std::isinf(want) ? got : want;
    Check(std::isinf(finite) || std::fabs(finite) > DBL_MAX * 0.999, "overflow edge", field);
    return;
  }
  const double tolerance = 4.0 * std::fabs(want) * DBL_EPSILON + 4.0 * DBL_TRUE_MIN;
  Check(std::fabs(got - want) <= tolerance, "close to strtod", field);
  Check(std::fabs(got) <= std::fabs(want), "truncated digits never raise the value", field);
}

// The fields of an impulse file by its rules, as the characters that reach
// the converter, at most `count` of them.
std::vector<std::string> ReferenceFields(std::string_view text, int count) {
  std::vector<std::string> fields;
  std::size_t i = text.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  const std::size_t n = text.size();
  auto at_end = [&] { return i >= n || text[i] == 26; };
  while (static_cast<int>(fields.size()) < count) {
    while (!at_end() && text[i] == ' ') ++i;
    if (at_end()) break;
    std::string field;
    if (text[i] == '"') {
      ++i;
      while (!at_end() && text[i] != '"') field.push_back(text[i++]);
      fields.push_back(field);
      if (at_end()) break;
      ++i;  // the closing quote
      while (!at_end() && (text[i] == ' ' || text[i] == '\t')) ++i;
      if (at_end()) break;
      if (text[i] == ',' || text[i] == '\n') {
        ++i;
      } else if (text[i] == '\r') {
        ++i;
        if (i < n && text[i] == '\n') ++i;
      }
      continue;
    }
    while (!at_end() && text[i] != ',' && text[i] != '\r' && text[i] != '\n') {
      if (text[i] != '\t') field.push_back(text[i]);
      ++i;
    }
    fields.push_back(field);
    if (at_end()) break;
    if (text[i++] == '\r' && i < n && text[i] == '\n') ++i;
  }
  return fields;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int count = 15 + data[0] % 17;
  const std::size_t textSize = size - 1;
  // Exactly the text, nothing after it: a read past the end is caught.
  std::unique_ptr<char[]> text(new char[textSize == 0 ? 1 : textSize]);
  if (textSize > 0) std::memcpy(text.get(), data + 1, textSize);
  const std::string_view view(text.get(), textSize);

  std::unique_ptr<double[]> coefficients(new double[static_cast<std::size_t>(count)]);
  for (int k = 0; k < count; ++k) coefficients[k] = std::nan("");
  const ImpulseVerdict verdict = ParseImpulseText(view, count, coefficients.get());

  const std::vector<std::string> fields = ReferenceFields(view, count);
  // The text serves only when it gives `count` fields that each hold a
  // finite number (the conversion itself is held to strtod below).
  bool serves = static_cast<int>(fields.size()) == count;
  for (const std::string& field : fields) {
    serves =
        serves && !ReferenceNumber(field).text.empty() && std::isfinite(ConvertDecimalField(field));
  }
  Check(verdict == (serves ? ImpulseVerdict::kRead : ImpulseVerdict::kDamaged),
        "read exactly when every field holds a finite number", view);
  for (int k = 0; k < count; ++k) {
    const double want = k < static_cast<int>(fields.size()) ? ConvertDecimalField(fields[k]) : 0.0;
    const double got = coefficients[k];
    Check(!std::isnan(got), "every coefficient is set and no NaN");
    Check(std::memcmp(&got, &want, sizeof got) == 0, "coefficient is its field's value",
          k < static_cast<int>(fields.size()) ? std::string_view(fields[k]) : std::string_view());
  }
  for (const std::string& field : fields) CheckConversion(field);
  // The whole input as one field too (long digit runs, exponents, garbage).
  CheckConversion(view);
  return 0;
}
