#include "console/extended_precision.h"

#include <fpu_control.h>

void SetExtendedPrecisionMode() {
  // Extended (64-bit significand) precision, round to nearest, every
  // exception masked; the reserved bits keep what the unit holds.
  constexpr fpu_control_t kWanted = _FPU_EXTENDED | _FPU_RC_NEAREST | _FPU_MASK_IM |
                                    _FPU_MASK_DM | _FPU_MASK_ZM | _FPU_MASK_OM |
                                    _FPU_MASK_UM | _FPU_MASK_PM;
  fpu_control_t word;
  _FPU_GETCW(word);
  word = static_cast<fpu_control_t>((word & _FPU_RESERVED) | kWanted);
  _FPU_SETCW(word);
}
