// Writes the two tones as WAV files for the window's resources: tone_wav ALARM.wav FAULT.wav.
#include <cstdio>
#include <fstream>

#include "annunciator/tones.h"

int main(int argc, char* argv[]) {
  if (argc != 3) {
    std::fputs("usage: orv_tone_wav ALARM.wav FAULT.wav\n", stderr);
    return 2;
  }
  const orv::Tone tones[] = {orv::Tone::kAlarm, orv::Tone::kFault};
  for (int i = 0; i < 2; ++i) {
    const auto wav = orv::ToneWav(tones[i]);
    std::ofstream out(argv[i + 1], std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(wav.data()), static_cast<std::streamsize>(wav.size()));
    if (!out) {
      std::fprintf(stderr, "orv_tone_wav: cannot write %s\n", argv[i + 1]);
      return 1;
    }
  }
  return 0;
}
