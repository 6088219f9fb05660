// Layer records and image buffers: the payload of every layer-tree node, its pixels, sharing,
// release, dirty marking, the per-frame pending-state update and the layer commands' helpers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "script/nametree.h"

struct GifFrame;
struct FrameSetRecord;

// A layer's pixels with no header: 4 bytes per pixel in the order B, G, R, A (straight
// alpha), rows top-down of exactly width * 4 bytes, pixel (x, y) at byte (y * width + x) * 4.
// Behind the image lie one spare row and one spare pixel that row kernels may touch.
// Allocate with AllocImageBuffer and release with FreeImageBuffer only.
using ImageBuffer = uint8_t;

constexpr int32_t MAX_IMAGE_SIDE = 8192;
constexpr size_t LAYER_NAME_BYTES = 261;     // mask, second-source and file name buffers
constexpr int TEXTURE_TILE_AXIS = 32;
constexpr int TEXTURE_SLOTS = 256;

enum : uint8_t { GPU_KIND_CPU = 0, GPU_KIND_TEXTURED = 1, GPU_KIND_EMOTE = 2 };
constexpr int BLEND_MODE_COUNT = 19;

// Grey with alpha 0: every fully transparent pixel after a load, and new canvas area.
constexpr uint32_t g_TransparentFill = 0x00808080;

// One layer's state, shared by every node that holds it (mRefCount counts the holders).
// Created zero-filled with the defaults of CreateLayerRecord; freed with the last holder.
struct LayerRecord {
  uint8_t mIsWindowRoot;       // some window record shows a node holding this record
  uint8_t mIsMessageLayer;     // the message record types into a node holding this record
  // Dirty bookkeeping of the compositor: rectangles are left, top, right, bottom, inclusive,
  // in the layer's own pixel coordinates.
  int32_t mDirtyCount;         // marks since the last reset
  int64_t mRedrawnRect[4];     // union of what was composed since the last reset
  int64_t mDirtyRect[4];
  uint8_t mDirtyValid;
  uint8_t mWholeDirty;         // the next merge takes the whole layer as redrawn
  uint8_t mChanged;            // this layer or something below it changed since the reset
  char* mMaskName;             // LAYER_NAME_BYTES, path of the rule (mask) layer, "" = none
  int64_t mRefCount;
  int64_t mUserA;
  int64_t mUserB;
  int64_t mX;                  // pixels, in the parent's coordinates
  int64_t mY;
  int32_t mWidth;
  int32_t mHeight;
  int16_t mOpacity;            // 0..256, 256 = opaque
  int16_t mRuleProgress;       // 0..256
  int16_t mEdgeSharpness;
  uint8_t mHasAlpha;           // the alpha bytes are used when drawing
  uint8_t mBlendMode;          // 0..18
  uint8_t mVisible;
  uint8_t mPendingVisible;     // applied by the next layer update when mPendingVisibleSet
  uint8_t mPendingVisibleSet;
  int16_t mPendingOpacity;     // applied by the next layer update when mPendingOpacitySet
  uint8_t mPendingOpacitySet;
  ImageBuffer* mPixels;        // owned; null until the first load or canvas allocation
  uint8_t mKeepBufferOnShrink; // scaling down keeps and reuses the buffer
  GifFrame** mGifFrames;       // decoded GIF frames
  FrameSetRecord* mFrameSet;   // attached frame set
  uint8_t mGpuKind;            // GPU_KIND_*
  // Texture tiles of a layer the GPU scene draws; owned by the texture code.
  uint8_t mTextureOption;
  uint8_t TXNUM;               // tile columns, 1..31
  uint8_t TYNUM;               // tile rows, 1..31
  int32_t mTileLimitX;         // largest tile width for this layer, 0 or less = no limit
  int32_t mTileLimitY;
  int32_t mTileWidths[TEXTURE_TILE_AXIS];
  int32_t mTileHeights[TEXTURE_TILE_AXIS];
  int64_t mX100;               // position in 1/100 pixel, kept in step with mX / mY
  int64_t mY100;
  int64_t mScaleX;             // GPU scale in 1/100 percent
  int64_t mScaleY;
  int64_t mPivotX;             // GPU pivot in 1/100 pixel
  int64_t mPivotY;
  int64_t mEmoteOffsetX;
  int64_t mEmoteOffsetY;
  int64_t mUserC;
  float mRotation[3];          // GPU rotations in 1/100 degree
  int32_t mSaturation;         // 0..256, 128 = unchanged (E-mote models)
  uint32_t mTone;              // 0xRRGGBB, 0x808080 = unchanged (E-mote models)
  uint8_t mUserByte;
  char* mSecondSourceName;     // LAYER_NAME_BYTES, second source of the GPU cross-fade
  int16_t mCrossFade;          // 0..256 towards the second source
  char* mFileName;             // LAYER_NAME_BYTES, image file last loaded ("" = none)
  void* mTextures[TEXTURE_SLOTS];   // tile (c, r) in slot r * TXNUM + c
  // E-mote player state; owned by the E-mote player code.
  void* mEmotePlayer;
  float mEmoteFactor1;
  float mEmoteFactor2;
  float mEmoteFactor3;
  uint8_t mEmoteEnabled;
  char* mEmoteSavedVariables;
  char* mEmoteMotion;
  char* mEmoteTimeline;
  float mEmoteTimelineBlend;
};

// The node that receives the GPU-rendered frame, or null.
extern NameNode* g_OffscreenLayerNode;

inline LayerRecord* GetLayerRecord(const NameNode* node) {
  return node ? static_cast<LayerRecord*>(node->mPayload) : nullptr;
}

// ---------------------------------------------------------------------------------------------
// Records.

// Allocates a record with its defaults and name buffers, makes it the node's payload and
// counts the node as a holder. 0, or 1 after message 100010 (fatal).
int CreateLayerRecord(NameNode* node);
// Null for a null node; otherwise the node's new record, or null when it could not be made.
LayerRecord* AttachNewLayerRecord(NameNode* node);
// Makes `record` the node's payload and counts the node as a holder; nothing when either is null.
int AttachSharedRecord(NameNode* node, LayerRecord* record);
LayerRecord* ShareLayerRecord(NameNode* node, LayerRecord* record);

// Grows or shrinks `old` (contents kept up to the smaller size) or allocates anew when `old`
// is null, for width * 4 * height + width * 4 + 4 bytes, aligned for the pixel kernels.
// A width above 8192 is refused with the size box and message 100010. A side may be 0 and the
// height above 8192; a negative side, more than 8192 x 8192 pixels (a row counting as one at
// least) or no memory reports 104030 with the file name, or 100010 without one. Null on
// failure, and `old` is then left untouched.
ImageBuffer* AllocImageBuffer(ImageBuffer* old, int32_t width, int32_t height, const char* fileName);
void FreeImageBuffer(ImageBuffer* buffer);

// Gives the layer the blank image: 1 x 1, one transparent pixel, no alpha use. 0 or -1.
int SetBlankImage(LayerRecord* record, const char* fileName);
// Every pixel whose alpha is 0 becomes g_TransparentFill. Safe on a record without pixels.
void FillTransparentPixels(LayerRecord* record);
// The same rule over columns left..right - 1 of rows top..bottom - 1 of an image `width`
// pixels wide; the caller keeps the rectangle inside the image.
void FillTransparentPixelsIn(uint8_t* pixels, int32_t width, int32_t left, int32_t top, int32_t right,
                             int32_t bottom);

// Marks the node and every ancestor with a record as changed over its whole area. Returns 0.
int MarkLayerDirty(NameNode* node);
// Applies pending visibility and opacity over a sibling list and everything below it.
void ApplyPendingLayerState(NameNode* first);

// Releases one node and its share of the record; the only way a layer node is freed.
// Children are not visited: see FreeLayerSubtree.
void FreeLayerNode(NameNode* node);
// Frees every descendant depth-first, then the node.
void FreeLayerSubtree(NameNode* node);
void FreeLayerChildren(NameNode* node);

// ---------------------------------------------------------------------------------------------
// Layer operations shared with the other layer commands.

enum : int32_t { ASSIGN_SET = 0, ASSIGN_ADD = 1, ASSIGN_SUB = 2, ASSIGN_MUL = 3, ASSIGN_DIV = 4 };
// =, +=, -=, *=, /= on a signed 64-bit property; wraps, /= 0 and unknown operators keep it.
int64_t ApplyAssignOp(int32_t op, int64_t current, int64_t operand);
// = unbounded; += bounded above by max; -= below by min; *= and /= by both.
int64_t ApplyAssignOpClamped(int32_t op, int64_t current, int64_t operand, int64_t min, int64_t max);
// = and += unbounded; -=, *= and /= raised to min when below it.
int64_t ApplyAssignOpAtLeast(int32_t op, int64_t current, int64_t operand, int64_t min);

// A payload-less node of the layer tree under `root`, named by the path's last component.
NameNode* CreateNamedNode(NameNode* root, const char* path, bool group, int64_t priority);
// A group layer with a cleared canvas of width x height, under the layer root.
LayerRecord* CreateImageLayer(const char* path, int32_t width, int32_t height, int64_t priority);
// Empties mFileName and loads the file, or the blank image for an empty name. 0 or non-zero.
int LoadImageIntoLayer(LayerRecord* record, const char* fileName);
// Re-sorts the node among its siblings with a new key; 1 when the key changed.
int SetNodePriority(NameNode* node, int64_t priority);
int SwapNodePriorities(NameNode* a, NameNode* b);
// Swaps names and priorities (mode 1 also positions, mode 2 also the drawing attributes).
int SwapLayers(NameNode* a, NameNode* b, int mode);
// Composes a group's dirty rectangle now.
void RecomposeLayer(NameNode* node);

// Reads an image file into the record: pixels, width, height, alpha flag, mFileName.
int LoadLayerImage(LayerRecord* record, const char* fileName);
// Decodes a file image of type FILE_TYPE_* into the record, with the messages of a load.
int DecodeImageIntoLayer(LayerRecord* record, uint8_t type, const uint8_t* data, size_t size, const char* name);

// The layer tree: the nameless root with "W0" at the main window's game size.
int CreateLayerTreeRoot();
void ApplyPendingLayerStateAll();

// The layer commands.
int CmdLayer();
int CmdLayerDelete();
int CmdLayerQuery();


// ---------------------------------------------------------------------------------------------
// What the layer code asks of the rendering, texture, frame-set, window and message code.

extern uint8_t g_GpuRedrawRequest;   // the GPU scene must be drawn again
// Marks the layer's rectangle on its parent, and each level's rectangle above it. Returns 0.
int InvalidateLayer(NameNode* node);
int ComposeLayerTree(NameNode* node, int nested);
int RenderGpuScene();
int UploadLayerTextures(LayerRecord* record, int option, int32_t tileLimitX, int32_t tileLimitY);
void ReleaseLayerTextures(LayerRecord* record);
void ReleaseEmoteObject(LayerRecord* record);
// Creates the layer's E-mote player from a .psb file image; 0 on success.
int LoadEmotePlayer(LayerRecord* record, const uint8_t* psb, uint32_t size);
// Frees a GIF frame table and every frame in it (null is allowed).
void FreeGifFrames(GifFrame** table);
// Frees the attached frame set's file image and detaches the frame set.
void FreeFrameSet(LayerRecord* record);
// Drop the references that the window command's caption-drag layer and the message record
// hold to a node that is being freed. ForgetMessageLayer returns 1 when it held the node.
void ForgetDragLayer(NameNode* node);
int ForgetMessageLayer(NameNode* node);
