// The file side of the image writers: a new image goes into a temporary file that replaces the
// target only once it is whole on the device.
#include <string>

#include "app/engine.h"
#include "layers/image_codecs.h"
#include "platform/platform.h"

PlatFile* BeginImageFile(const std::string& realPath) {
  std::string temporary;
  PlatFile* f = PlatFileCreateTemporary(realPath, &temporary);
  if (!f) ShowErrorBox("", "File Create Error.");
  return f;
}

int FinishImageFile(PlatFile* f, const std::string& realPath, bool encoded) {
  bool written = encoded && PlatFileFlush(f);
  bool deviceFailed = PlatFileWriteFailed(f) || (encoded && !written);
  std::string temporary = PlatFilePath(f);
  PlatFileClose(f);
  if (written && PlatRenameReplace(temporary, realPath)) return 0;
  PlatDeleteFile(temporary);
  // A full disk or a failing device: the old file stays as it was, and the player hears of it.
  if (deviceFailed || written) ShowErrorBox("", "File Write Error.");
  return -2;
}
