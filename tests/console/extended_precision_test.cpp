// The x87 mode the arithmetic relies on.
#include <gtest/gtest.h>

#include <fpu_control.h>

#include "console/extended_precision.h"

namespace {

fpu_control_t ControlWord() {
  fpu_control_t word;
  _FPU_GETCW(word);
  return word;
}

TEST(ExtendedPrecision, SetsSignificandRoundingAndMasksFromAnyEarlierMode) {
  fpu_control_t before = ControlWord();
  // A mode a foreign library might leave behind: 24-bit significand, round
  // towards zero, division by zero unmasked.
  fpu_control_t foreign = static_cast<fpu_control_t>(
      (before & ~(_FPU_EXTENDED | _FPU_RC_ZERO | _FPU_MASK_ZM)) | _FPU_SINGLE | _FPU_RC_ZERO);
  _FPU_SETCW(foreign);
  ASSERT_EQ(ControlWord() & _FPU_EXTENDED, static_cast<fpu_control_t>(_FPU_SINGLE));

  SetExtendedPrecisionMode();
  fpu_control_t word = ControlWord();
  EXPECT_EQ(word & _FPU_EXTENDED, static_cast<fpu_control_t>(_FPU_EXTENDED));
  EXPECT_EQ(word & _FPU_RC_ZERO, static_cast<fpu_control_t>(_FPU_RC_NEAREST));
  const fpu_control_t masks =
      _FPU_MASK_IM | _FPU_MASK_DM | _FPU_MASK_ZM | _FPU_MASK_OM | _FPU_MASK_UM | _FPU_MASK_PM;
  EXPECT_EQ(word & masks, masks);

  // And the arithmetic shows it: 1 + 2^-63 survives only with 64 bits.
  volatile long double tiny = 0x1p-63L;
  volatile long double sum = 1.0L + tiny;
  EXPECT_NE(sum, 1.0L);
  _FPU_SETCW(before);
}

}  // namespace
