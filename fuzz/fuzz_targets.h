// Steps that several fuzz targets share: file names taken from an input, reading a whole pack
// index back, images decoded into a layer, and sounds loaded and played.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The name's last component when it is 1-40 bytes of letters, digits, '_', '-' and '.'
// (not "." or ".."), lower-cased; otherwise empty.
std::string FuzzSafeName(const std::string& name);
// Locates and reads up to `limit` live entries of the pack index by their stored names.
void FuzzReadEveryPackEntry(int limit);
// Decodes `data` as a file of `type` (FILE_TYPE_*) into a fresh layer under W0, as the layer
// command does after reading the file.
void FuzzDecodeImage(uint8_t type, const uint8_t* data, size_t size);
// Loads `data` as a sound of `format` (SOUND_FORMAT_*) through the sound thread's command ring,
// plays it endlessly and pulls a few seconds of output through refills and loop jumps.
void FuzzPlaySound(uint8_t format, const uint8_t* data, size_t size);
