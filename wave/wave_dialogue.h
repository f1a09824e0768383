// The wave room on the screen: the box of a refused header, and the FILE
// DATA block of an accepted one.
#pragma once

#include "wave/wave_format.h"

// The beep and the box of a refused header; nothing for kAccepted.
void ShowHeaderRefusal(HeaderVerdict verdict);

// Prints the FILE DATA block at the cursor in dark grey on bright white and
// leaves the cursor on the row of the filter question.
void ShowFileData(const WaveFormat& format);
