// The six shipped impulse files, read the way the tool reads them, hold the
// filters we promise: the right number of taps, a gain of 1 at 0 Hz, a flat
// pass band to 20 kHz, the stop-band depth of each filter, and the phase of
// each (symmetric, minimum or mixed, the mixed one with less delay than A).

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "filter/filter_table.h"
#include "filter/impulse_file.h"
#include "tests/test_files.h"

namespace {

using Complex = std::complex<long double>;

enum class Phase { Linear, Minimum, Mixed };

struct FilterTarget {
  char letter;
  int sampleRate;
  int taps;
  Phase phase;
  double stopStartHz;    // the stop band runs from here to half the rate
  double attenuationDb;  // at least this far down over the stop band
};

const FilterTarget kTargets[] = {
    {'B', 96000, 19, Phase::Linear, 40000.0, 60.0},
    {'F', 96000, 31, Phase::Minimum, 34000.0, 50.0},
    {'A', 192000, 17, Phase::Linear, 60000.0, 60.0},
    {'C', 192000, 17, Phase::Mixed, 60000.0, 50.0},
    {'D', 192000, 15, Phase::Minimum, 48000.0, 25.0},
    {'E', 192000, 20, Phase::Minimum, 48000.0, 35.0},
};

void PrintTo(const FilterTarget& target, std::ostream* os) { *os << "Filter" << target.letter; }

constexpr double kPassEdgeHz = 20000.0;
constexpr double kRippleDb = 0.1;
constexpr long double kMinimumPhaseRadius = 1.01L;
constexpr int kPassPoints = 2001;
constexpr int kStopPoints = 4001;

const long double kPi = 3.141592653589793238462643383279502884L;

std::string DataFolder() { return std::string(OSTRIVALE_SOURCE_DIR) + "/data"; }
std::string FileName(char letter) { return std::string("Filter") + letter + ".dat"; }

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------- analysis

// H(e^{jw}) = sum h[n] e^{-jwn}, w in radians per sample.
Complex Response(const std::vector<double>& h, long double w) {
  Complex sum = 0.0L;
  for (std::size_t n = 0; n < h.size(); ++n) {
    const long double angle = -w * static_cast<long double>(n);
    sum += static_cast<long double>(h[n]) * Complex(std::cos(angle), std::sin(angle));
  }
  return sum;
}

long double MagnitudeDb(const std::vector<double>& h, double hz, int rate) {
  const long double w = 2.0L * kPi * hz / rate;
  return 20.0L * std::log10(std::abs(Response(h, w)));
}

// Group delay in samples: Re( sum n h[n] e^{-jwn} / sum h[n] e^{-jwn} ).
long double GroupDelay(const std::vector<double>& h, long double w) {
  Complex numerator = 0.0L;
  for (std::size_t n = 0; n < h.size(); ++n) {
    const long double angle = -w * static_cast<long double>(n);
    numerator += static_cast<long double>(n) * static_cast<long double>(h[n]) *
                 Complex(std::cos(angle), std::sin(angle));
  }
  return std::real(numerator / Response(h, w));
}

// The zeros of H(z) = sum h[n] z^-n, i.e. the roots of the polynomial
// h[0] z^(M-1) + h[1] z^(M-2) + ... + h[M-1], by the Aberth-Ehrlich
// iteration, which finds all roots at once.
std::vector<Complex> Zeros(const std::vector<double>& h) {
  const int degree = static_cast<int>(h.size()) - 1;
  std::vector<long double> a(h.begin(), h.end());
  auto evaluate = [&](Complex z, Complex* derivative) {
    Complex p = a[0];
    Complex dp = 0.0L;
    for (int k = 1; k <= degree; ++k) {
      dp = dp * z + p;
      p = p * z + a[static_cast<std::size_t>(k)];
    }
    *derivative = dp;
    return p;
  };
  // Start on a circle whose radius is the geometric mean of the roots' sizes.
  const long double radius =
      std::pow(std::fabs(a[static_cast<std::size_t>(degree)] / a[0]), 1.0L / degree);
  std::vector<Complex> z(static_cast<std::size_t>(degree));
  for (int k = 0; k < degree; ++k) {
    z[static_cast<std::size_t>(k)] = std::polar(radius, 2.0L * kPi * k / degree + 0.4L);
  }
  for (int iteration = 0; iteration < 1000; ++iteration) {
    long double largestStep = 0.0L;
    for (int k = 0; k < degree; ++k) {
      Complex& zk = z[static_cast<std::size_t>(k)];
      Complex derivative;
      const Complex p = evaluate(zk, &derivative);
      if (p == Complex(0.0L)) continue;
      const Complex ratio = p / derivative;
      Complex repulsion = 0.0L;
      for (int j = 0; j < degree; ++j) {
        if (j != k) repulsion += 1.0L / (zk - z[static_cast<std::size_t>(j)]);
      }
      const Complex step = ratio / (1.0L - ratio * repulsion);
      zk -= step;
      largestStep = std::max(largestStep, std::abs(step) / std::max(1.0L, std::abs(zk)));
    }
    if (largestStep < 1e-18L) break;
  }
  return z;
}

// The coefficients of h[0] * prod (z - zk), for checking a set of zeros.
std::vector<long double> Expand(long double leading, const std::vector<Complex>& zeros) {
  std::vector<Complex> c(1, Complex(leading));
  for (const Complex& zk : zeros) {
    c.push_back(0.0L);
    for (std::size_t i = c.size() - 1; i > 0; --i) c[i] -= zk * c[i - 1];
  }
  std::vector<long double> real(c.size());
  for (std::size_t i = 0; i < c.size(); ++i) real[i] = std::real(c[i]);
  return real;
}

long double LargestRadius(const std::vector<Complex>& zeros) {
  long double largest = 0.0L;
  for (const Complex& zk : zeros) largest = std::max(largest, std::abs(zk));
  return largest;
}

// An independent count of the zeros inside |z| < radius by the argument
// principle: the phase of z^(M-1) H(z) winds once around 0 for each zero
// inside as z goes once around the circle.
int ZerosInside(const std::vector<double>& h, long double radius) {
  const int degree = static_cast<int>(h.size()) - 1;
  constexpr int kSteps = 200000;
  auto polynomial = [&](long double theta) {
    const Complex z = std::polar(radius, theta);
    Complex p = static_cast<long double>(h[0]);
    for (int k = 1; k <= degree; ++k)
      p = p * z + static_cast<long double>(h[static_cast<std::size_t>(k)]);
    return p;
  };
  Complex previous = polynomial(0.0L);
  long double turned = 0.0L;
  for (int step = 1; step <= kSteps; ++step) {
    const Complex current = polynomial(2.0L * kPi * step / kSteps);
    turned += std::arg(current / previous);
    previous = current;
  }
  return static_cast<int>(std::lround(turned / (2.0L * kPi)));
}

bool IsSymmetric(const std::vector<double>& h) {
  double largest = 0.0;
  for (double v : h) largest = std::max(largest, std::fabs(v));
  for (std::size_t n = 0; n < h.size(); ++n) {
    if (std::fabs(h[n] - h[h.size() - 1 - n]) > 1e-12 * largest) return false;
  }
  return true;
}

// ---------------------------------------------------------------- the checks of the zero finder

TEST(FilterAnalysis, ZeroFinderRecoversKnownZeros) {
  // (z - 0.5)(z + 0.3 - 0.4j)(z + 0.3 + 0.4j)(z - 1.5)(z^2 + 0.81) * 0.25:
  // zeros at 0.5, -0.3 +- 0.4j, 1.5, +-0.9j.
  const std::vector<Complex> known = {{0.5L, 0.0L}, {-0.3L, 0.4L}, {-0.3L, -0.4L},
                                      {1.5L, 0.0L}, {0.0L, 0.9L},  {0.0L, -0.9L}};
  const std::vector<long double> expanded = Expand(0.25L, known);
  std::vector<double> h;
  for (long double v : expanded) h.push_back(static_cast<double>(v));
  const std::vector<Complex> found = Zeros(h);
  ASSERT_EQ(found.size(), known.size());
  for (const Complex& k : known) {
    long double nearest = 1e9L;
    for (const Complex& f : found) nearest = std::min(nearest, std::abs(f - k));
    EXPECT_LT(nearest, 1e-12L) << "zero " << static_cast<double>(k.real()) << " "
                               << static_cast<double>(k.imag());
  }
  EXPECT_NEAR(static_cast<double>(LargestRadius(found)), 1.5, 1e-12);
  // Five of the six lie inside |z| < 1.01; all six inside 2.
  EXPECT_EQ(ZerosInside(h, kMinimumPhaseRadius), 5);
  EXPECT_EQ(ZerosInside(h, 2.0L), 6);
  EXPECT_EQ(ZerosInside(h, 0.45L), 0);
}

TEST(FilterAnalysis, MinimumPhaseTestRejectsTheTimeReversedFilter) {
  // 1 - 0.9 z^-1 has its zero at 0.9 (minimum phase); reversed, -0.9 + z^-1,
  // at 1/0.9 (not). The group delay of the reversed one is the larger.
  const std::vector<double> minimum = {1.0, -0.9};
  const std::vector<double> reversed = {-0.9, 1.0};
  EXPECT_NEAR(static_cast<double>(LargestRadius(Zeros(minimum))), 0.9, 1e-15);
  EXPECT_NEAR(static_cast<double>(LargestRadius(Zeros(reversed))), 1.0 / 0.9, 1e-15);
  EXPECT_EQ(ZerosInside(minimum, kMinimumPhaseRadius), 1);
  EXPECT_EQ(ZerosInside(reversed, kMinimumPhaseRadius), 0);
  EXPECT_LT(GroupDelay(minimum, 0.0L), GroupDelay(reversed, 0.0L));
  // A symmetric filter delays by (M-1)/2 samples at every frequency.
  const std::vector<double> symmetric = {0.25, 0.5, 0.25};
  EXPECT_NEAR(static_cast<double>(GroupDelay(symmetric, 0.0L)), 1.0, 1e-15);
  EXPECT_NEAR(static_cast<double>(GroupDelay(symmetric, 1.0L)), 1.0, 1e-15);
  EXPECT_TRUE(IsSymmetric(symmetric));
  EXPECT_FALSE(IsSymmetric(minimum));
}

// ---------------------------------------------------------------- the shipped files

// Loads a shipped file through the tool's own loader, from the data folder
// as the current folder, the way the tool finds a file beside it.
std::vector<double> LoadShipped(char letter, int taps) {
  std::vector<double> h(static_cast<std::size_t>(taps) + 1, -777.0);
  testfiles::InFolder inData(DataFolder());
  const std::string found = FindImpulseFile(FileName(letter));
  EXPECT_EQ(found, FileName(letter)) << "found in the current folder";
  FilterChoice choice;
  choice.letter = letter;
  choice.impulseFileName = FileName(letter);
  choice.coefficientCount = taps;
  const bool loaded =
      !found.empty() && LoadImpulseResponse(choice, h.data()) == ImpulseVerdict::kRead;
  EXPECT_TRUE(loaded) << FileName(letter);
  EXPECT_EQ(h[static_cast<std::size_t>(taps)], -777.0) << "the loader writes M values only";
  h.resize(static_cast<std::size_t>(taps));
  return loaded ? h : std::vector<double>();
}

class ShippedFilter : public ::testing::TestWithParam<FilterTarget> {};

TEST_P(ShippedFilter, TableEntryMatches) {
  const FilterTarget& t = GetParam();
  const FilterTableEntry* entry = FindFilter(t.letter);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->sampleRate, t.sampleRate);
  EXPECT_EQ(entry->coefficientCount, t.taps);
  EXPECT_EQ(std::string(entry->impulseFileName), FileName(t.letter));
  EXPECT_EQ(entry->scaled, t.letter == 'A' || t.letter == 'B' || t.letter == 'C');
}

TEST_P(ShippedFilter, FileHoldsExactlyTheTapsOneValueACrLfLine) {
  const FilterTarget& t = GetParam();
  const std::string text = ReadWhole(DataFolder() + "/" + FileName(t.letter));
  ASSERT_FALSE(text.empty()) << FileName(t.letter);
  ASSERT_GE(text.size(), 2u);
  EXPECT_EQ(text.substr(text.size() - 2), "\r\n") << "the last line is ended too";
  int lines = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t end = text.find("\r\n", start);
    ASSERT_NE(end, std::string::npos) << "line " << lines + 1 << " has no CR LF";
    const std::string line = text.substr(start, end - start);
    EXPECT_FALSE(line.empty()) << "line " << lines + 1;
    EXPECT_EQ(line.find_first_not_of("0123456789+-.e"), std::string::npos)
        << "line " << lines + 1 << ": " << line;
    // At least 17 significant digits, so that the double survives the trip.
    int digits = 0;
    bool leading = true;
    for (char c : line.substr(0, line.find('e'))) {
      if (c >= '1' && c <= '9') leading = false;
      if (c >= '0' && c <= '9' && !leading) ++digits;
    }
    EXPECT_GE(digits, 17) << "line " << lines + 1 << ": " << line;
    ++lines;
    start = end + 2;
  }
  EXPECT_EQ(lines, t.taps);
}

TEST_P(ShippedFilter, LoaderAndParserAgreeWithTheScaling) {
  const FilterTarget& t = GetParam();
  const std::vector<double> loaded = LoadShipped(t.letter, t.taps);
  ASSERT_EQ(loaded.size(), static_cast<std::size_t>(t.taps));
  const std::string text = ReadWhole(DataFolder() + "/" + FileName(t.letter));
  std::vector<double> parsed(static_cast<std::size_t>(t.taps));
  ASSERT_EQ(ParseImpulseText(text, t.taps, parsed.data()), ImpulseVerdict::kRead);
  // With LF line ends, as a checkout that converts them leaves the file: the same doubles.
  std::string lineFeedText = text;
  std::erase(lineFeedText, '\r');
  std::vector<double> fromLineFeeds(static_cast<std::size_t>(t.taps));
  EXPECT_EQ(ParseImpulseText(lineFeedText, t.taps, fromLineFeeds.data()), ImpulseVerdict::kRead);
  EXPECT_EQ(fromLineFeeds, parsed);
  const double scale = (t.letter == 'A' || t.letter == 'B' || t.letter == 'C') ? 65536.0 : 1.0;
  for (int n = 0; n < t.taps; ++n) {
    EXPECT_EQ(loaded[static_cast<std::size_t>(n)], parsed[static_cast<std::size_t>(n)] / scale)
        << "tap " << n;
  }
}

TEST_P(ShippedFilter, GainIsOneAtZeroHertz) {
  const FilterTarget& t = GetParam();
  const std::vector<double> h = LoadShipped(t.letter, t.taps);
  ASSERT_EQ(h.size(), static_cast<std::size_t>(t.taps));
  long double sum = 0.0L;
  for (double v : h) sum += v;
  EXPECT_NEAR(static_cast<double>(sum), 1.0, 1e-9);
}

TEST_P(ShippedFilter, PassBandFlatToTwentyKilohertz) {
  const FilterTarget& t = GetParam();
  const std::vector<double> h = LoadShipped(t.letter, t.taps);
  ASSERT_EQ(h.size(), static_cast<std::size_t>(t.taps));
  long double lowest = 0.0L, highest = 0.0L;
  for (int k = 0; k < kPassPoints; ++k) {
    const double hz = kPassEdgeHz * k / (kPassPoints - 1);
    const long double db = MagnitudeDb(h, hz, t.sampleRate);
    lowest = std::min(lowest, db);
    highest = std::max(highest, db);
    ASSERT_LE(std::fabs(db), kRippleDb) << "at " << hz << " Hz";
  }
  std::printf("Filter %c: pass band %+.4f .. %+.4f dB\n", t.letter, static_cast<double>(lowest),
              static_cast<double>(highest));
}

TEST_P(ShippedFilter, StopBandDeepEnough) {
  const FilterTarget& t = GetParam();
  const std::vector<double> h = LoadShipped(t.letter, t.taps);
  ASSERT_EQ(h.size(), static_cast<std::size_t>(t.taps));
  const double nyquist = t.sampleRate / 2.0;
  long double highest = -1000.0L;
  for (int k = 0; k < kStopPoints; ++k) {
    const double hz = t.stopStartHz + (nyquist - t.stopStartHz) * k / (kStopPoints - 1);
    const long double db = MagnitudeDb(h, hz, t.sampleRate);
    highest = std::max(highest, db);
    ASSERT_LE(db, -t.attenuationDb) << "at " << hz << " Hz";
  }
  std::printf("Filter %c: at least %.1f dB down from %.0f Hz (%.0f required)\n", t.letter,
              -static_cast<double>(highest), t.stopStartHz, t.attenuationDb);
}

TEST_P(ShippedFilter, PhaseIsAsPromised) {
  const FilterTarget& t = GetParam();
  const std::vector<double> h = LoadShipped(t.letter, t.taps);
  ASSERT_EQ(h.size(), static_cast<std::size_t>(t.taps));
  const std::vector<Complex> zeros = Zeros(h);
  ASSERT_EQ(zeros.size(), static_cast<std::size_t>(t.taps - 1));

  // The zeros found rebuild the filter.
  const std::vector<long double> rebuilt = Expand(h[0], zeros);
  for (int n = 0; n < t.taps; ++n) {
    EXPECT_NEAR(static_cast<double>(rebuilt[static_cast<std::size_t>(n)]),
                h[static_cast<std::size_t>(n)], 1e-12)
        << "tap " << n;
  }
  const long double largest = LargestRadius(zeros);
  int inside = 0;
  for (const Complex& z : zeros) inside += std::abs(z) < kMinimumPhaseRadius ? 1 : 0;
  // The argument principle counts the same zeros inside.
  EXPECT_EQ(ZerosInside(h, kMinimumPhaseRadius), inside);

  switch (t.phase) {
    case Phase::Linear:
      EXPECT_TRUE(IsSymmetric(h));
      EXPECT_NEAR(static_cast<double>(GroupDelay(h, 0.0L)), (t.taps - 1) / 2.0, 1e-9);
      break;
    case Phase::Minimum:
      EXPECT_LE(largest, kMinimumPhaseRadius);
      EXPECT_EQ(inside, t.taps - 1);
      EXPECT_FALSE(IsSymmetric(h));
      break;
    case Phase::Mixed:
      EXPECT_FALSE(IsSymmetric(h));
      EXPECT_GT(largest, kMinimumPhaseRadius) << "not minimum phase";
      EXPECT_LT(inside, t.taps - 1);
      break;
  }
  std::printf("Filter %c: largest zero radius %.4f, delay at 0 Hz %.3f samples\n", t.letter,
              static_cast<double>(largest), static_cast<double>(GroupDelay(h, 0.0L)));
}

INSTANTIATE_TEST_SUITE_P(AllSix, ShippedFilter, ::testing::ValuesIn(kTargets),
                         [](const ::testing::TestParamInfo<FilterTarget>& param) {
                           return std::string("Filter") + param.param.letter;
                         });

TEST(ShippedFilters, AsymmetricFilterDelaysLessThanLinearPhaseA) {
  const std::vector<double> a = LoadShipped('A', 17);
  const std::vector<double> c = LoadShipped('C', 17);
  ASSERT_EQ(a.size(), 17u);
  ASSERT_EQ(c.size(), 17u);
  const long double delayA = GroupDelay(a, 0.0L);
  EXPECT_NEAR(static_cast<double>(delayA), 8.0, 1e-9);
  EXPECT_LT(GroupDelay(c, 0.0L), delayA);
  // And less over the whole pass band, not only at 0 Hz.
  for (int k = 0; k <= 200; ++k) {
    const long double w = 2.0L * kPi * (kPassEdgeHz * k / 200.0) / 192000.0L;
    EXPECT_LT(GroupDelay(c, w), GroupDelay(a, w)) << "at " << kPassEdgeHz * k / 200.0 << " Hz";
  }
}

}  // namespace
