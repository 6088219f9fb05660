// Opening the host libraries that are bound at their first call, and binding their functions.
#include "platform/lazy/lazy_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace {

std::mutex g_BindLock;

bool OpenLocked(LazyLibrary* library, const char** why) {
  if (library->handle) return true;
  // Global, as if linked: a library opened later that needs this one finds the same copy.
  library->handle = dlopen(library->soname, RTLD_LAZY | RTLD_GLOBAL);
  if (!library->handle && why) *why = dlerror();
  return library->handle != nullptr;
}

[[noreturn]] void Fail(const LazyLibrary* library, const char* what, const char* why) {
  fprintf(stderr, "kivor: cannot use %s%s%s: %s\n", library->soname, what ? ", function " : "", what ? what : "",
          why ? why : "unknown reason");
  _exit(1);
}

}  // namespace

bool LazyLibraryOpen(LazyLibrary* library, const char** why) {
  std::lock_guard<std::mutex> lock(g_BindLock);
  return OpenLocked(library, why);
}

void* LazyLibraryBind(LazyLibrary* library, uint32_t index) {
  std::lock_guard<std::mutex> lock(g_BindLock);
  std::atomic_ref<void*> slot(library->slots[index]);
  if (void* bound = slot.load(std::memory_order_acquire)) return bound;
  const char* why = nullptr;
  if (!OpenLocked(library, &why)) Fail(library, nullptr, why);
  const char* name = library->names + library->offsets[index];
  void* function = dlsym(library->handle, name);
  if (!function) Fail(library, name, dlerror());
  slot.store(function, std::memory_order_release);
  return function;
}
