#include "wav_tone.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace ombrik::albumservice {
namespace {

void PutLe(std::string& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

}  // namespace

std::string MakeWavTone(const ToneSpec& tone) {
  const std::uint32_t sampleCount =
      static_cast<std::uint32_t>(std::int64_t{tone.sampleRate} * tone.milliseconds / 1000);
  const std::uint32_t dataBytes = sampleCount * 2;
  const std::uint32_t rate = static_cast<std::uint32_t>(tone.sampleRate);

  std::string wav;
  wav.reserve(44 + dataBytes);
  wav += "RIFF";
  PutLe(wav, 36 + dataBytes, 4);
  wav += "WAVEfmt ";
  PutLe(wav, 16, 4);  // fmt chunk size
  PutLe(wav, 1, 2);   // PCM
  PutLe(wav, 1, 2);   // mono
  PutLe(wav, rate, 4);
  PutLe(wav, rate * 2, 4);  // byte rate
  PutLe(wav, 2, 2);         // block align
  PutLe(wav, 16, 2);        // bits per sample
  wav += "data";
  PutLe(wav, dataBytes, 4);

  const double fade = tone.sampleRate / 50.0;  // 20 ms
  for (std::uint32_t i = 0; i < sampleCount; ++i) {
    const double envelope = std::min({1.0, i / fade, (sampleCount - 1 - i) / fade});
    const double value = 0.5 * envelope * std::sin(2.0 * std::numbers::pi * tone.frequencyHz * i / tone.sampleRate);
    const auto sample = static_cast<std::int16_t>(std::lround(value * 32767.0));
    PutLe(wav, static_cast<std::uint16_t>(sample), 2);
  }
  return wav;
}

}  // namespace ombrik::albumservice
