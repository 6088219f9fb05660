// What the parts of the headless backend share among themselves.
#pragma once

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
