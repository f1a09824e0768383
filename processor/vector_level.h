// Which vector instructions the fast paths use, chosen at run time from what
// the processor offers, so one build runs on any x86-64 processor.
#pragma once

enum class VectorLevel {
  kPlain = 0,   // the x86-64 baseline (SSE2)
  kAvx2 = 1,    // AVX2 with fused multiply-add
  kAvx512 = 2,  // AVX-512 foundation
};

// The level in use: the best the processor has, unless lowered.
VectorLevel ActiveVectorLevel();

// Lowers the level (never above what the processor has), so that tests can
// run every path on one machine.
void LimitVectorLevel(VectorLevel level);
