// Image loading into a layer record: name resolution, the decoder of each file type, and the
// transparent-pixel rule after every decode.
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/engine.h"
#include "files/files.h"
#include "layers/blend_tables.h"
#include "layers/image_codecs.h"
#include "layers/layer.h"
#include "media/emote.h"
#include "platform/platform.h"
#include "script/script_set.h"

namespace {

// The size is stored only with a buffer that holds it, so a failed allocation never leaves
// the layer claiming more pixels than it has.
uint8_t* AllocateLayerImage(DecodeTarget* target, int32_t width, int32_t height) {
  LayerRecord* record = static_cast<LayerRecord*>(target->mOwner);
  ImageBuffer* pixels = AllocImageBuffer(record->mPixels, width, height, target->mFileName);
  if (!pixels) return nullptr;
  record->mPixels = pixels;
  record->mWidth = width;
  record->mHeight = height;
  return pixels;
}

using MemoryDecoder = int (*)(const uint8_t*, size_t, DecodeTarget*);

int RunDecoder(MemoryDecoder decoder, LayerRecord* record, const uint8_t* data, size_t size, const char* name) {
  DecodeTarget target;
  memset(&target, 0, sizeof target);
  target.mAllocate = AllocateLayerImage;
  target.mOwner = record;
  target.mFileName = name;
  target.mGifFrames = record->mGifFrames;
  int result = decoder(data, size, &target);
  record->mGifFrames = target.mGifFrames;
  record->mHasAlpha = target.mHasAlpha;
  return result;
}

// The bridge hands the character's texture bytes through this before it keeps them, with the
// count as the bridge gives it.
void SaturationFilter(uint8_t* bgra, uint32_t count) { AdjustSaturationSpan(bgra, count); }

// The .psb of an animated character: the layer keeps a 2 x 2 placeholder; the character is
// drawn by the E-mote bridge when it is loaded.
int LoadPsb(LayerRecord* record, const uint8_t* data, size_t size, const char* name) {
  ImageBuffer* pixels = AllocImageBuffer(record->mPixels, 2, 2, name);
  if (!pixels) return -1;
  record->mPixels = pixels;
  record->mWidth = record->mHeight = 2;
  memset(pixels, 0, 16);
  record->mHasAlpha = 1;
  if (!g_EmoteAvailable) return 0;
  ReleaseEmoteObject(record);
  record->mGpuKind = GPU_KIND_EMOTE;
  CopyTextBounded(record->mFileName, LAYER_NAME_BYTES, name);
  g_EmoteLoadSaturation = record->mSaturation;
  g_EmoteFunctions.SetTextureFilter(data, (uint32_t)size, SaturationFilter);
  if (LoadEmotePlayer(record, data, (uint32_t)size) != 0)
    return ShowErrorBox("", ToCp932Text("E-mote 読込に失敗しました. = %s").c_str(), name), -1;
  g_EmoteFunctions.PreparePlayer(record->mEmotePlayer);
  return 0;
}

// The layer command (code 1) as the command table names it, for messages about its files.
const char* LayerCommandName() { return g_CommandDefs[1].mName ? g_CommandDefs[1].mName : ""; }

}  // namespace

int DecodeImageIntoLayer(LayerRecord* record, uint8_t type, const uint8_t* data, size_t size, const char* name) {
  record->mHasAlpha = 0;
  int result = 0;
  switch (type) {
    case FILE_TYPE_BMP: result = RunDecoder(DecodeBmpMemory, record, data, size, name); break;
    case FILE_TYPE_PNG: result = RunDecoder(DecodePngMemory, record, data, size, name); break;
    case FILE_TYPE_KCG: result = RunDecoder(DecodeKcgMemory, record, data, size, name); break;
    case FILE_TYPE_JPG:
      result = RunDecoder(DecodeJpegMemory, record, data, size, name);
      if (result) ReportScriptErrorF(100210, 1, name);
      break;
    case FILE_TYPE_GIF:
      result = RunDecoder(DecodeGifMemory, record, data, size, name);
      if (result) ReportScriptErrorF(100215, 1, name);
      break;
    case FILE_TYPE_PSD: return ReportScriptErrorF(100220, 1, name), -1;
    case FILE_TYPE_PSB: return LoadPsb(record, data, size, name) ? -1 : 0;
    default: return ReportErrorF(100030, 1, LayerCommandName(), name), -1;
  }
  if (result) return -1;
  // The GIF decoder hands its screen over with the rule already applied: what lies around
  // frame 0 is drawn transparent in the fill colour, so only frame 0's pixels were looked at.
  if (type != FILE_TYPE_GIF) FillTransparentPixels(record);
  NoteImageLoadTime();
  return 0;
}

int LoadLayerImage(LayerRecord* record, const char* fileName) {
  FileLocation location;
  memset(&location, 0, sizeof location);
  char resolved[MAX_PATH_BYTES + 1] = {0};
  // The resolver rewrites separators in the name it is given.
  char name[MAX_PATH_BYTES + 1];
  CopyTextBounded(name, sizeof name, fileName);
  int found = ResolveResourceFile(&location, resolved, name, RESOURCE_IMAGE);
  if (found < 0) return -1;
  if (found > 0) return SetBlankImage(record, fileName);
  // A read failure has been reported by the reader.
  if (ReadLocatedFile(&location, resolved) != 0) {
    if (location.mType == FILE_TYPE_PSB) ShowErrorBox("", "[Load_PSB] Load Error.");
    return -1;
  }
  int result = DecodeImageIntoLayer(record, location.mType, location.mData, location.mSize, resolved);
  free(location.mData);
  return result;
}
