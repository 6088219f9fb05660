// Host libraries bound at their first call: the record each library's stand-ins share.
#pragma once

#include <cstdint>

// Written by the generated stand-ins (platform/lazy/lazy_library.cmake); the field order is theirs.
struct LazyLibrary {
  const char* soname;        // the file dlopen is given
  const char* names;         // the functions' names, one after another, each ending in a zero
  const uint32_t* offsets;   // where each function's name starts in `names`
  void** slots;              // the bound functions, null until the first call
  uint32_t count;
  uint32_t pad;
  void* handle;              // the opened library; set once, under the binder's lock
};

// Opens the library now when it is not open yet; false (and the loader's reason in `why`) when
// the system lacks it. A backend asks this before its first call, so it can step aside instead
// of ending the program; any thread.
bool LazyLibraryOpen(LazyLibrary* library, const char** why = nullptr);

extern "C" {
// Called by a stand-in on the first call of function `index`: the real function, bound for every
// later call. A library or function missing here ends the program with a message: a backend that
// can do without its library has asked LazyLibraryOpen first.
void* LazyLibraryBind(LazyLibrary* library, uint32_t index);

extern LazyLibrary g_LazySdl2;
extern LazyLibrary g_LazyX11;
extern LazyLibrary g_LazyXext;
extern LazyLibrary g_LazyDbus;
extern LazyLibrary g_LazyFontconfig;
extern LazyLibrary g_LazyFreetype;
extern LazyLibrary g_LazySndfile;
extern LazyLibrary g_LazyVorbisfile;
extern LazyLibrary g_LazyPulse;
}
