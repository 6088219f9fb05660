// Layer textures: a layer's image cut into power-of-two tiles, one device texture each, built,
// refilled by the sprite paste, released, and rebuilt for a whole tree after a device reset.
#include <cstring>
#include <vector>

#include "layers/layer.h"
#include "media/emote.h"
#include "media/emote_player.h"
#include "render/gpu.h"
#include "render/gpu_local.h"

namespace {

constexpr int32_t kTileSeries[] = {8192, 4096, 2048, 1024, 512, 256, 128, 64, 32, 16};
constexpr size_t STAGING_INITIAL_BYTES = 4u << 20;

// One buffer for every tile; it only grows.
std::vector<uint8_t> g_Staging;

int32_t SmallestTileFor(int32_t rest) {
  int32_t size = kTileSeries[0];
  for (int32_t s : kTileSeries)
    if (s >= rest) size = s;
  return size;
}

int32_t Limit(int32_t size, int32_t limit) { return limit > 0 && size > limit ? limit : size; }

// Tile sizes along one axis. The tile count, or -1 when 32 tiles would be needed; `rest`
// then holds what was left after the last tile.
int LayoutAxis(int32_t size, int32_t deviceMax, int32_t configLimit, int32_t layerLimit, int32_t* tiles,
               int32_t* rest) {
  int count = 0;
  *rest = size;
  while (*rest > 0) {
    int32_t tile = Limit(Limit(Limit(SmallestTileFor(*rest), deviceMax), configLimit), layerLimit);
    *rest -= tile;
    tiles[count++] = tile;
    if (count == TEXTURE_TILE_AXIS) return -1;
  }
  return count;
}

bool IsEmoteLayer(const LayerRecord* r) { return r->mGpuKind == GPU_KIND_EMOTE && g_EmoteAvailable; }

// The staging buffer with one tile of the source image at x0, y0; what lies past the image
// is transparent black.
void FillStaging(const LayerRecord* source, int32_t x0, int32_t y0, int32_t tw, int32_t th) {
  size_t pitch = (size_t)tw * 4;
  memset(g_Staging.data(), 0, pitch * th);
  if (!source->mPixels) return;
  int32_t cols = source->mWidth - x0 < tw ? source->mWidth - x0 : tw;
  int32_t rows = source->mHeight - y0 < th ? source->mHeight - y0 : th;
  for (int32_t y = 0; y < rows && cols > 0; y++)
    memcpy(g_Staging.data() + y * pitch, source->mPixels + (((size_t)(y0 + y) * source->mWidth) + x0) * 4,
           (size_t)cols * 4);
}

bool SameLayout(const LayerRecord* owner, int tx, int ty, const int32_t* widths, const int32_t* heights) {
  return owner->TXNUM == tx && owner->TYNUM == ty && !memcmp(owner->mTileWidths, widths, tx * sizeof(int32_t)) &&
         !memcmp(owner->mTileHeights, heights, ty * sizeof(int32_t));
}

int FailBuild(int result) {
  g_D3D.mPaste = TexturePaste{};
  return result;
}

}  // namespace

void ReleaseLayerTextures(LayerRecord* record) {
  for (void*& t : record->mTextures) {
    if (t) PlatGpu()->ReleaseTexture(static_cast<PlatGpuTexture*>(t));
    t = nullptr;
  }
}

int BuildTextureTiles(int reuse) {
  TexturePaste p = g_D3D.mPaste;
  LayerRecord* owner = p.mOwner;
  if (!owner || !p.mSource) return FailBuild(-1);
  if (!reuse) ReleaseLayerTextures(owner);
  if (!g_D3D.mDevice) return FailBuild(-1);
  bool emote = IsEmoteLayer(owner);
  int32_t widths[TEXTURE_TILE_AXIS] = {}, heights[TEXTURE_TILE_AXIS] = {};
  int tx = 1, ty = 1;
  if (emote) {
    widths[0] = g_DeviceSurfaceSize.width;
    heights[0] = g_DeviceSurfaceSize.height;
  } else {
    int32_t rest = 0;
    tx = LayoutAxis(p.mWidth, g_MaxTextureSize.width, g_TextureTileLimit.width, p.mTileLimitX, widths, &rest);
    if (tx < 0) return ShowErrorBox(nullptr, "TXNUM Overflow Error."), FailBuild(-1);
    ty = LayoutAxis(p.mHeight, g_MaxTextureSize.height, g_TextureTileLimit.height, p.mTileLimitY, heights, &rest);
    if (ty < 0)
      return ShowErrorBox("", "TYNUM Overflow Error. SX = %d, SY = %d, mRest = %d", p.mWidth, p.mHeight, rest),
             FailBuild(-1);
    // Every tile needs a slot of its own.
    if (tx * ty > TEXTURE_SLOTS) return ShowErrorBox(nullptr, "TXNUM Overflow Error."), FailBuild(-1);
  }
  // A paste fills the textures the owner has; a layout that no longer matches has none to fill.
  if (reuse && !SameLayout(owner, tx, ty, widths, heights)) return FailBuild(-1);
  owner->TXNUM = (uint8_t)tx;
  owner->TYNUM = (uint8_t)ty;
  memcpy(owner->mTileWidths, widths, sizeof widths);
  memcpy(owner->mTileHeights, heights, sizeof heights);
  PlatGpuDriver* gpu = g_D3D.mD3D;
  bool dither = g_TextureFormat == PLAT_GPU_FORMAT_ARGB4 && g_TextureFilterChoice;
  int32_t y0 = 0;
  for (int r = 0; r < ty; y0 += heights[r], r++) {
    int32_t x0 = 0;
    for (int c = 0; c < tx; x0 += widths[c], c++) {
      int32_t tw = widths[c], th = heights[r];
      int slot = r * tx + c;
      if (!emote) {
        size_t bytes = (size_t)tw * th * 4;
        if (g_Staging.size() < bytes) g_Staging.resize(bytes > STAGING_INITIAL_BYTES ? bytes : STAGING_INITIAL_BYTES);
        FillStaging(p.mSource, x0, y0, tw, th);
      }
      if (!reuse) {
        owner->mTextures[slot] = gpu->CreateTexture(tw, th, g_TextureFormat, true);
        if (!owner->mTextures[slot]) {
          ShowErrorBox("", ToCp932Text("テクスチャの作成に失敗しました。ビデオメモリが不足している可能性があります。\n"
                                       "一度終了し、設定ツールで描画方法を「CPU（バイリニア）」にしてから起動し直してください。")
                               .c_str());
          return FailBuild(-1);
        }
      }
      PlatGpuTexture* texture = static_cast<PlatGpuTexture*>(owner->mTextures[slot]);
      if (!emote && texture) gpu->WriteTexture(texture, g_Staging.data(), tw * 4, dither);
    }
  }
  owner->mPivotX = (int64_t)p.mPivotX;
  owner->mPivotY = (int64_t)p.mPivotY;
  owner->mWidth = p.mWidth;
  owner->mHeight = p.mHeight;
  owner->mTextureOption = 0;
  owner->mTileLimitX = p.mTileLimitX;
  owner->mTileLimitY = p.mTileLimitY;
  g_D3D.mPaste = TexturePaste{};
  return 0;
}

int UploadLayerTextures(LayerRecord* record, int option, int32_t tileLimitX, int32_t tileLimitY) {
  if (!record) return -1;
  if (!record->mPixels || record->mWidth < 1 || record->mHeight < 1) {
    ReleaseLayerTextures(record);
    return 0;
  }
  // The pivot is kept in 1/100 pixel, as the layer command and the scene read it: the middle.
  g_D3D.mPaste = TexturePaste{record->mWidth, record->mHeight, record->mWidth * 50.0f, record->mHeight * 50.0f,
                              option, tileLimitX, tileLimitY, record, record};
  return BuildTextureTiles(0);
}

int PasteSprite(NameNode* source, NameNode* owner) {
  LayerRecord* s = GetLayerRecord(source);
  LayerRecord* o = GetLayerRecord(owner);
  if (!s || !o) return -1;
  g_D3D.mPaste = TexturePaste{o->mWidth, o->mHeight, (float)o->mPivotX, (float)o->mPivotY, o->mTextureOption,
                              o->mTileLimitX, o->mTileLimitY, s, o};
  return BuildTextureTiles(1);
}

int ReloadLayerTextures(LayerRecord* record) {
  if (record->mFileName && record->mFileName[0]) {
    char name[LAYER_NAME_BYTES];
    CopyTextBounded(name, sizeof name, record->mFileName);
    record->mFileName[0] = '\0';
    LoadLayerImage(record, name);
    // A character's new player takes back the state its old one had.
    SetEmoteFactor1(record, record->mEmoteFactor1);
    SetEmoteFactor2(record, record->mEmoteFactor2);
    SetEmoteFactor3(record, record->mEmoteFactor3);
    SetEmoteEnabledFor(record, record->mEmoteEnabled);
    RestoreEmoteStates();
  }
  return UploadLayerTextures(record, record->mTextureOption, record->mTileLimitX, record->mTileLimitY);
}

int WalkLayerTextures(NameNode* node, int mode) {
  const LayerRecord* r = GetLayerRecord(node);
  if (!r || !r->mPixels) return 0;
  for (NameNode* child = node->mFirstChild; child; child = child->mNext) {
    if (child->mIsGroup && WalkLayerTextures(child, mode) != 0) return -1;
    LayerRecord* c = GetLayerRecord(child);
    if (!c || c->mGpuKind == GPU_KIND_CPU || !c->mPixels) continue;
    if (mode == 1) ReleaseLayerTextures(c);
    else if (mode == 2 && ReloadLayerTextures(c) != 0) return -1;
  }
  return 0;
}
