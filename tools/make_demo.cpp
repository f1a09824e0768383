// make_demo <folder>: writes the demo recordings demo96k.wav and demo192k.wav
// (4 seconds of stereo 24-bit: a chord with noise above 30 kHz) into <folder>.
// The output is the same on every run.

#include <cstdio>
#include <string>

#include "tools/demo_recording.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_demo <folder>\n");
    return 2;
  }
  std::string folder = argv[1];
  if (!folder.empty() && folder.back() != '/') folder += '/';
  const struct {
    const char* name;
    int sampleRate;
  } recordings[] = {{"demo96k.wav", 96000}, {"demo192k.wav", 192000}};
  for (const auto& recording : recordings) {
    const std::string path = folder + recording.name;
    if (!WriteDemoRecording(path, recording.sampleRate, kDemoSeconds)) return 1;
    std::printf("wrote %s\n", path.c_str());
  }
  return 0;
}
