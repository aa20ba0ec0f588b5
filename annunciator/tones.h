// The annunciator's two sounds, made in memory: a fast two-tone for alarms and a slow beep for
// faults, each a loop that joins without a click. As raw samples for a sound card and as a WAV
// file for players that want one.
#pragma once

#include <cstdint>
#include <vector>

namespace orv {

// Ordered by priority: an alarm is heard over a fault.
enum class Tone { kNone, kFault, kAlarm };

inline constexpr int kToneSampleRate = 16000;

// One loop of the tone, 16-bit mono at kToneSampleRate; empty for kNone.
std::vector<std::int16_t> ToneSamples(Tone tone);
// The same loop as a PCM WAV file; empty for kNone.
std::vector<std::uint8_t> ToneWav(Tone tone);

const char* ToneName(Tone tone);  // "alarm", "fault", "none"

}  // namespace orv
