// What the parts of the headless backend share among themselves.
#pragma once

#include <cstdint>
#include <string>

// Adds one line to the record of backend calls.
void HeadlessRecordCall(const std::string& line);
// The window of a slot was restored or destroyed; forgets its desktop state accordingly.
void HeadlessDesktopRestored(int slot);
void HeadlessDesktopForget(int slot);
void HeadlessDesktopReset();
// The movie's end once it is due (the parent slot); the media fakes back to their defaults.
bool HeadlessMovieEnded(int* slot);
void HeadlessResetMedia();
// Writes a window's picture (BGRA rows, tightly packed, shown opaque) to a PNG file; false with
// `why` set when it cannot.
bool HeadlessWritePicture(const std::string& path, const uint8_t* bgra, int width, int height, std::string* why);
// The fake clock moved on to `now` by a sleep of its owner: waits (in real time, a little at
// most) until the null sound output taking frames on this clock is close behind, so game time
// never runs further ahead of the sound than the sound thread's refills can follow.
void HeadlessAudioKeepUp(uint32_t now);
