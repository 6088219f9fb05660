// RIFF WAVE files for the demo's sounds and the sound tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// A RIFF WAVE file: "fmt " chunk of `fmtBytes` (16 for plain PCM) then "data".
std::string WaveFile(uint16_t tag, int channels, int rate, int bits, const std::string& data, int fmtBytes = 16);
// 16-bit samples as little-endian bytes (interleaved as given).
std::string Pcm16(const std::vector<int16_t>& samples);
