// The alarm and fault tones as samples and as WAV files.
#include "annunciator/tones.h"

#include <cmath>
#include <numbers>

namespace orv {
namespace {

// Each part holds a whole number of cycles and starts at phase 0, so the parts join, the beep
// starts and stops, and the loop wraps, all without a click.
constexpr int kPartSamples = kToneSampleRate / 4;  // 250 ms
constexpr double kAmplitude = 0.6 * 32767;

void AppendSine(std::vector<std::int16_t>& out, double hz) {
  for (int i = 0; i < kPartSamples; ++i) {
    const double phase = 2 * std::numbers::pi * hz * i / kToneSampleRate;
    out.push_back(static_cast<std::int16_t>(std::lround(kAmplitude * std::sin(phase))));
  }
}

void Put16(std::vector<std::uint8_t>& out, std::uint32_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>((value >> 8) & 0xFF));
}

void Put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
  Put16(out, value & 0xFFFF);
  Put16(out, value >> 16);
}

void PutTag(std::vector<std::uint8_t>& out, const char (&tag)[5]) {
  out.insert(out.end(), tag, tag + 4);
}

}  // namespace

std::vector<std::int16_t> ToneSamples(Tone tone) {
  std::vector<std::int16_t> out;
  if (tone == Tone::kAlarm) {
    AppendSine(out, 800);
    AppendSine(out, 1000);
  } else if (tone == Tone::kFault) {
    AppendSine(out, 440);
    out.resize(out.size() + kPartSamples, 0);
  }
  return out;
}

std::vector<std::uint8_t> ToneWav(Tone tone) {
  const std::vector<std::int16_t> samples = ToneSamples(tone);
  if (samples.empty()) return {};
  constexpr std::uint32_t kBytesPerSample = 2;
  const auto data_bytes = static_cast<std::uint32_t>(samples.size() * kBytesPerSample);
  std::vector<std::uint8_t> out;
  out.reserve(44 + data_bytes);
  PutTag(out, "RIFF");
  Put32(out, 36 + data_bytes);
  PutTag(out, "WAVE");
  PutTag(out, "fmt ");
  Put32(out, 16);  // size of the PCM format block
  Put16(out, 1);   // PCM
  Put16(out, 1);   // mono
  Put32(out, kToneSampleRate);
  Put32(out, kToneSampleRate * kBytesPerSample);
  Put16(out, kBytesPerSample);  // block align
  Put16(out, 16);               // bits per sample
  PutTag(out, "data");
  Put32(out, data_bytes);
  for (const std::int16_t s : samples)
    Put16(out, static_cast<std::uint16_t>(s));
  return out;
}

const char* ToneName(Tone tone) {
  switch (tone) {
    case Tone::kAlarm:
      return "alarm";
    case Tone::kFault:
      return "fault";
    case Tone::kNone:
      break;
  }
  return "none";
}

}  // namespace orv
