#include "console/number_form.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "console/console.h"

namespace {

constexpr int kExpandedDigits = 18;

// 10^n for 0 <= n <= 18; every one of them is exact in a 64-bit significand.
long double PowerOfTen(int n) {
  long double result = 1.0L;
  for (int i = 0; i < n; ++i) result *= 10.0L;
  return result;
}

}  // namespace

std::string NumberDisplayForm(double value, int digits) {
  if (digits < 1) digits = 1;
  if (digits > kExpandedDigits) digits = kExpandedDigits;

  std::string out(1, std::signbit(value) ? '-' : ' ');
  long double magnitude = std::fabs(static_cast<long double>(value));
  if (std::isnan(magnitude)) return out + "NAN ";
  if (std::isinf(magnitude)) return out + "INF ";
  if (magnitude == 0.0L) return out + "0 ";

  // d.ddddddddddddddddde+X: the value expanded to 18 significant digits.
  char expanded[64];
  std::snprintf(expanded, sizeof expanded, "%.*Le", kExpandedDigits - 1, magnitude);
  int d[kExpandedDigits];
  int count = 0;
  const char* p = expanded;
  for (; *p != 'e' && *p != '\0'; ++p) {
    if (*p >= '0' && *p <= '9' && count < kExpandedDigits) d[count++] = *p - '0';
  }
  // e: the exponent for the form 0.d1d2... x 10^e
  int e = static_cast<int>(std::strtol(*p == 'e' ? p + 1 : p, nullptr, 10)) + 1;

  // Cut to `digits` digits; the first dropped digit alone decides.
  if (digits < count) {
    int dropped = d[digits];
    bool up = dropped > 5 || (dropped == 5 && d[digits - 1] % 2 == 1);
    count = digits;
    if (up) {
      int i = count - 1;
      while (i >= 0 && d[i] == 9) d[i--] = 0;
      if (i >= 0) {
        ++d[i];
      } else {  // 99...9 became 100...0
        d[0] = 1;
        for (int j = 1; j < count; ++j) d[j] = 0;
        ++e;
      }
    }
  }
  int k = count;
  while (k > 1 && d[k - 1] == 0) --k;

  auto digit = [&](int i) { return static_cast<char>('0' + d[i]); };
  if (e > digits || k - e > digits) {
    out += digit(0);
    if (k > 1) {
      out += '.';
      for (int i = 1; i < k; ++i) out += digit(i);
    }
    out += e > digits ? "E+" : "E-";
    out += std::to_string(e > digits ? e - 1 : 1 - e);
  } else if (e >= k) {
    for (int i = 0; i < k; ++i) out += digit(i);
    out.append(static_cast<std::size_t>(e - k), '0');
  } else if (e > 0) {
    for (int i = 0; i < e; ++i) out += digit(i);
    out += '.';
    for (int i = e; i < k; ++i) out += digit(i);
  } else {
    out += '.';
    out.append(static_cast<std::size_t>(-e), '0');
    for (int i = 0; i < k; ++i) out += digit(i);
  }
  out += ' ';
  return out;
}

double RoundToPlaces(double x, int places) {
  if (places > kExpandedDigits) places = kExpandedDigits;
  if (places < -kExpandedDigits) places = -kExpandedDigits;
  long double value = static_cast<long double>(x);
  if (places >= 0) {
    long double scale = PowerOfTen(places);
    return static_cast<double>(std::nearbyint(value * scale) / scale);
  }
  // Negative places round to tens, hundreds, ...: divide first, then multiply.
  long double scale = PowerOfTen(-places);
  return static_cast<double>(std::nearbyint(value / scale) * scale);
}
