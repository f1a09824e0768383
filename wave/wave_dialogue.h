// The wave room on the screen: the box of a refused header, and the FILE
// DATA block of an accepted one.
#pragma once

#include <string>

#include "system/files.h"
#include "wave/wave_format.h"

// Reads the header of the open `input` and either fills `format` and returns
// true, or sounds the beep, shows the rejection box and returns false. The
// file stays open either way.
bool ReadWaveHeader(FileHandle input, WaveFormat& format);

// The same for the file named `inputFileName`, opened and closed again.
bool ReadWaveHeader(const std::string& inputFileName, WaveFormat& format);

// Prints the FILE DATA block at the cursor in dark grey on bright white and
// leaves the cursor on the row of the filter question.
void ShowFileData(const WaveFormat& format);
