// The x87 control word is the processor's, not the system's: the same code
// serves Linux and Windows (fpu_control.h is glibc's only).
#include "processor/precision.h"

namespace {

// Control word fields.
constexpr std::uint16_t kExceptionMasks =
    0x003F;  // invalid, denormal, zero divide, overflow, underflow, precision
constexpr std::uint16_t kPrecisionField = 0x0300;  // 00: 24 bits, 10: 53 bits, 11: 64 bits
constexpr std::uint16_t kPrecision64 = 0x0300;
constexpr std::uint16_t kRoundingField = 0x0C00;  // 00: to nearest (ties to even)
constexpr std::uint16_t kReservedBits = 0xF0C0;   // kept as the unit holds them
constexpr std::uint16_t kWantedBits = kExceptionMasks | kPrecisionField | kRoundingField;
constexpr std::uint16_t kWanted = kExceptionMasks | kPrecision64;

}  // namespace

std::uint16_t X87ControlWord() {
  std::uint16_t word = 0;
  __asm__ volatile("fnstcw %0" : "=m"(word));
  return word;
}

void SetX87ControlWord(std::uint16_t word) { __asm__ volatile("fldcw %0" : : "m"(word)); }

void SetExtendedPrecisionMode() {
  const std::uint16_t word = X87ControlWord();
  SetX87ControlWord(static_cast<std::uint16_t>((word & kReservedBits) | kWanted));
}

bool ExtendedPrecisionModeHolds() { return (X87ControlWord() & kWantedBits) == kWanted; }
