// Impulse files: fields read one byte at a time and converted as decimal
// numbers, so a file of any size and a field of any length take time in
// proportion to their length and no memory beyond a fixed buffer.

#include "filter/impulse_file.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "system/executable_folder.h"
#include "system/files.h"

namespace {

constexpr unsigned char kTab = 9;
constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr unsigned char kEndOfData = 26;  // Ctrl-Z
constexpr unsigned char kBlank = 32;
constexpr unsigned char kQuote = 34;
// The UTF-8 byte-order mark that Notepad and other Windows editors put
// before the text they save.
constexpr unsigned char kByteOrderMark[] = {0xEF, 0xBB, 0xBF};
constexpr int kByteOrderMarkLength = 3;

constexpr int kMaxSignificantDigits = 18;
// Exponent digits stop adding once this is passed; the value is already 0 or
// infinite long before, and nothing can overflow.
constexpr std::int64_t kExponentCap = 1000000000;
// A value of at most 18 digits times ten to a power beyond this is 0 or
// infinite for any double; the power handed on is limited to it.
constexpr std::int64_t kPowerLimit = 9999;

bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsExponentLetter(unsigned char c) { return c == 'E' || c == 'e' || c == 'D' || c == 'd'; }

// Reads a number in decimal notation one character at a time: leading
// blanks, tabs and line feeds; a sign; digits with at most one decimal point;
// an exponent letter E, e, D or d with a sign and digits. The first character
// that does not fit ends the number; later characters are ignored.
struct DecimalScanner {
  enum class Stage {
    kLeading,
    kAfterSign,
    kInteger,
    kFraction,
    kExponentStart,
    kExponentSign,
    kExponentDigits,
    kDone,
  };

  Stage stage = Stage::kLeading;
  bool negative = false;
  bool sawDigit = false;
  char digits[kMaxSignificantDigits] = {};
  int digitCount = 0;      // significant digits kept, leading zeros left out
  std::int64_t power = 0;  // value = digits x 10^(power + exponent)
  bool exponentNegative = false;
  std::int64_t exponent = 0;

  void TakeDigit(unsigned char c, bool inFraction) {
    sawDigit = true;
    if (digitCount == 0 && c == '0') {
      if (inFraction) --power;  // a leading zero after the point only sets the scale
      return;
    }
    if (digitCount < kMaxSignificantDigits) {
      digits[digitCount++] = static_cast<char>(c);
      if (inFraction) --power;
    } else if (!inFraction) {
      ++power;  // a digit beyond the 18th before the point sets the magnitude only
    }
  }

  void Feed(unsigned char c) {
    switch (stage) {
      case Stage::kLeading:
        if (c == kBlank || c == kTab || c == kLineFeed) return;
        if (c == '+' || c == '-') {
          negative = (c == '-');
          stage = Stage::kAfterSign;
          return;
        }
        [[fallthrough]];
      case Stage::kAfterSign:
        if (IsDigit(c)) {
          TakeDigit(c, false);
          stage = Stage::kInteger;
        } else if (c == '.') {
          stage = Stage::kFraction;
        } else {
          stage = Stage::kDone;
        }
        return;
      case Stage::kInteger:
        if (IsDigit(c)) {
          TakeDigit(c, false);
        } else if (c == '.') {
          stage = Stage::kFraction;
        } else {
          stage = IsExponentLetter(c) ? Stage::kExponentStart : Stage::kDone;
        }
        return;
      case Stage::kFraction:
        if (IsDigit(c)) {
          TakeDigit(c, true);
        } else {
          stage = (IsExponentLetter(c) && sawDigit) ? Stage::kExponentStart : Stage::kDone;
        }
        return;
      case Stage::kExponentStart:
        if (c == '+' || c == '-') {
          exponentNegative = (c == '-');
          stage = Stage::kExponentSign;
          return;
        }
        [[fallthrough]];
      case Stage::kExponentSign:
      case Stage::kExponentDigits:
        if (IsDigit(c)) {
          if (exponent < kExponentCap) exponent = exponent * 10 + (c - '0');
          stage = Stage::kExponentDigits;
        } else {
          stage = Stage::kDone;
        }
        return;
      case Stage::kDone:
        return;
    }
  }

  // The value read so far, correctly rounded to a double: the kept digits
  // and the power of ten are written out without a decimal point, which
  // makes the text independent of the locale, and strtod rounds it.
  double Value() const {
    if (!sawDigit) return 0.0;  // not a number
    if (digitCount == 0) return negative ? -0.0 : 0.0;
    std::int64_t total = power + (exponentNegative ? -exponent : exponent);
    if (total > kPowerLimit) total = kPowerLimit;
    if (total < -kPowerLimit) total = -kPowerLimit;
    char text[kMaxSignificantDigits + 16];
    int length = 0;
    if (negative) text[length++] = '-';
    for (int k = 0; k < digitCount; ++k) text[length++] = digits[k];
    std::snprintf(text + length, sizeof text - static_cast<std::size_t>(length), "e%d",
                  static_cast<int>(total));
    return std::strtod(text, nullptr);
  }
};

// Splits impulse-file text into fields and converts each as it goes. A
// byte-order mark at the very start is skipped, and blanks before a field.
// An unquoted field ends at a comma, a line feed or a carriage return (a
// line feed right after the carriage return goes with it), so that LF and
// CR LF lines give the same fields; tabs inside it are dropped. A quoted
// field runs to the next double quote; after it, blanks and tabs are skipped
// and one comma, line feed or carriage return (with its line feed) is taken
// as its end. Ctrl-Z or the end of the text ends the data; fields not
// reached are 0. The text is damaged when it ends before `count`
// fields or a field holds no number: an empty line, two commas in a row, a
// word, a file cut short; or no finite one: beyond the range of a double
// (1e999, a run of thousands of digits), which as a tap would drive every
// output sample to full scale.
struct FieldReader {
  enum class Stage {
    kBeforeField,
    kUnquoted,
    kQuoted,
    kAfterQuote,
    kAfterCarriageReturn,
    kFinished
  };

  double* coefficients;
  int count;
  int stored = 0;
  bool damaged = false;
  Stage stage = Stage::kBeforeField;
  DecimalScanner scanner;
  // Bytes of a byte-order mark seen at the start of the text; -1 once the
  // text is past the place of one.
  int markBytes = 0;

  FieldReader(double* out, int wanted) : coefficients(out), count(wanted) {
    if (count <= 0) stage = Stage::kFinished;
  }

  bool Finished() const { return stage == Stage::kFinished; }

  void StoreField() {
    const double value = scanner.Value();
    if (!scanner.sawDigit || !std::isfinite(value)) damaged = true;
    coefficients[stored++] = value;
  }

  // True when `c` belongs to a byte-order mark at the start of the text.
  // The bytes of a mark that breaks off are the text's own and are read as
  // such, so that a file without a whole mark reads as it always has.
  bool TakeMarkByte(unsigned char c) {
    if (c == kByteOrderMark[markBytes]) {
      ++markBytes;
      if (markBytes == kByteOrderMarkLength) markBytes = -1;
      return true;
    }
    GiveBackMarkBytes();
    return false;
  }

  void GiveBackMarkBytes() {
    const int held = markBytes;
    markBytes = -1;
    for (int k = 0; k < held; ++k) Feed(kByteOrderMark[k]);
  }

  void EndField(Stage next) {
    StoreField();
    scanner = DecimalScanner();
    stage = stored == count ? Stage::kFinished : next;
  }

  void Feed(unsigned char c) {
    if (stage == Stage::kFinished) return;
    if (markBytes >= 0 && TakeMarkByte(c)) return;
    if (c == kEndOfData) {
      EndOfData();
      return;
    }
    switch (stage) {
      case Stage::kAfterCarriageReturn:
        stage = Stage::kBeforeField;
        if (c == kLineFeed) return;
        [[fallthrough]];
      case Stage::kBeforeField:
        if (c == kBlank) return;
        if (c == kQuote) {
          stage = Stage::kQuoted;
          return;
        }
        stage = Stage::kUnquoted;
        [[fallthrough]];
      case Stage::kUnquoted:
        if (c == ',' || c == kLineFeed) {
          EndField(Stage::kBeforeField);
        } else if (c == kCarriageReturn) {
          EndField(Stage::kAfterCarriageReturn);
        } else if (c != kTab) {
          scanner.Feed(c);
        }
        return;
      case Stage::kQuoted:
        if (c == kQuote) {
          EndField(Stage::kAfterQuote);
        } else {
          scanner.Feed(c);
        }
        return;
      case Stage::kAfterQuote:
        if (c == kBlank || c == kTab) return;
        if (c == ',' || c == kLineFeed) {
          stage = Stage::kBeforeField;
        } else if (c == kCarriageReturn) {
          stage = Stage::kAfterCarriageReturn;
        } else {
          stage = Stage::kBeforeField;
          Feed(c);  // the next field starts right here
        }
        return;
      case Stage::kFinished:
        return;
    }
  }

  // Ctrl-Z or the end of the text: a field under way is the last one; the
  // coefficients not reached are 0, and their absence damages the text.
  void EndOfData() {
    if (markBytes > 0) GiveBackMarkBytes();
    if (stage == Stage::kFinished) return;
    if (stage == Stage::kUnquoted || stage == Stage::kQuoted) StoreField();
    if (stored < count) damaged = true;
    while (stored < count) coefficients[stored++] = 0.0;
    stage = Stage::kFinished;
  }

  ImpulseVerdict Verdict() const {
    return damaged ? ImpulseVerdict::kDamaged : ImpulseVerdict::kRead;
  }
};

// The box of each verdict that gives no filter.
// Opens the first place that holds the file as a regular file (a device or a
// pipe under the name is passed over): the current folder, then the folders
// of the files shipped with the program. kNoFile when none has it.
FileHandle OpenImpulseFile(const std::string& bareName, std::string* found) {
  if (bareName.empty()) return kNoFile;
  std::vector<std::string> paths = {bareName};
  for (const std::string& folder : ShippedFileFolders()) paths.push_back(folder + bareName);
  for (const std::string& path : paths) {
    const FileHandle file = OpenFileForReading(path);
    if (IsRegularFile(file)) {
      if (found != nullptr) *found = path;
      return file;
    }
    CloseFile(file);
  }
  return kNoFile;
}

}  // namespace

double ConvertDecimalField(std::string_view field) {
  DecimalScanner scanner;
  for (const char c : field) {
    scanner.Feed(static_cast<unsigned char>(c));
    if (scanner.stage == DecimalScanner::Stage::kDone) break;
  }
  return scanner.Value();
}

ImpulseVerdict ParseImpulseText(std::string_view text, int count, double* coefficients) {
  FieldReader reader(coefficients, count);
  for (std::size_t k = 0; k < text.size() && !reader.Finished(); ++k) {
    reader.Feed(static_cast<unsigned char>(text[k]));
  }
  reader.EndOfData();
  return reader.Verdict();
}

std::string FindImpulseFile(const std::string& bareName) {
  std::string found;
  CloseFile(OpenImpulseFile(bareName, &found));
  return found;
}

ImpulseVerdict LoadImpulseResponse(const FilterChoice& choice, double* impulseResponse) {
  const FileHandle file = OpenImpulseFile(choice.impulseFileName, nullptr);
  if (file == kNoFile) return ImpulseVerdict::kNotFound;

  // Read only as far as the coefficients reach. A read error ends the data
  // like the end of the file does.
  FieldReader reader(impulseResponse, choice.coefficientCount);
  std::uint8_t buffer[65536];
  for (std::int64_t offset = 0; !reader.Finished();) {
    const std::int64_t got = ReadFileAt(file, offset, buffer, sizeof buffer);
    if (got <= 0) break;
    for (std::int64_t k = 0; k < got && !reader.Finished(); ++k) reader.Feed(buffer[k]);
    offset += got;
  }
  reader.EndOfData();
  CloseFile(file);
  if (reader.Verdict() != ImpulseVerdict::kRead) return reader.Verdict();

  // Every coefficient is finite here, and stays so: a division by 65536
  // makes no finite value infinite (a tiny one may come out subnormal or 0,
  // which serves).
  const FilterTableEntry* entry = FindFilter(choice.letter);
  if (entry != nullptr && entry->scaled) {
    for (int k = 0; k < choice.coefficientCount; ++k) impulseResponse[k] /= 65536.0;
  }
  return ImpulseVerdict::kRead;
}
