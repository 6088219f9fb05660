// Fuzz target: a frame-set file attached to a layer, and its frames shown one after another
// (with the clamped choices before the first and past the last).
#include <cstdlib>

#include "app/engine.h"
#include "app/window.h"
#include "fuzz/fuzz_support.h"
#include "layers/frame_set.h"
#include "layers/layer.h"

namespace {

WindowRecord g_Window{};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBeginInput();
  if (!g_WindowRecords[0]) {
    g_Window.mWidth = 640;
    g_Window.mHeight = 480;
    g_WindowRecords[0] = &g_Window;
  }
  if (!g_LayerRoot && CreateLayerTreeRoot() != 0) abort();
  NameNode* node = CreateNamedNode(g_LayerRoot, "W0/anim", false, 1);
  if (!node || !AttachNewLayerRecord(node)) abort();
  FuzzUseMemoryFiles({FuzzFile{"anim.fs", std::string(reinterpret_cast<const char*>(data), size)}});
  if (LoadFrameSet(node, "anim.fs") == 0) {
    const FrameSetRecord* set = GetLayerRecord(node)->mFrameSet;
    int32_t count = set ? set->mFrameCount : 0;
    ShowFrameSetFrame(node, -1);
    for (int32_t n = 0; n < count && n < 16; n++) ShowFrameSetFrame(node, n);
    ShowFrameSetFrame(node, (int64_t)count + 5);
  }
  FreeLayerNode(node);
  FuzzUseMemoryFiles({});
  return 0;
}
