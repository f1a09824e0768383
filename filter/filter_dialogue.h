// The filter room on the screen: the question that chooses a filter, and the
// boxes of an impulse file that cannot serve.
#pragma once

#include "filter/filter_table.h"
#include "filter/impulse_file.h"
#include "wave/wave_format.h"

// The question's text, which also names it when the input ends there.
constexpr const char* kFilterQuestion = "Select whether to apply filter";

// Draws the question for format.sampleRate at the cursor row, reads answers
// until one of the offered letters is typed, and sets `choice`. False when
// the input ends before that (no choice). A rate other than 96000 or 192000
// (header validation refuses those) shows nothing and gives an empty choice
// (letter 0, no coefficients) instead of asking forever.
bool ChooseFilter(const WaveFormat& format, FilterChoice& choice);

// Tells the user why the filter cannot be had (kNotFound or kDamaged):
// Pause(100), Beep and the verdict's box. Nothing for kRead.
void ReportImpulseRefusal(ImpulseVerdict verdict);
