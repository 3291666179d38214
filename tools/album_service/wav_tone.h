// A short, playable test tone as a complete WAV file in memory.
#pragma once

#include <string>

namespace ombrik::albumservice {

struct ToneSpec {
  double frequencyHz = 440.0;
  int sampleRate = 16'000;
  int milliseconds = 1'000;
};

// 16-bit little-endian mono PCM in a canonical 44-byte RIFF/WAVE header; the ends are faded
// so the tone does not click when played.
std::string MakeWavTone(const ToneSpec& tone);

}  // namespace ombrik::albumservice
