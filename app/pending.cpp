// Steps of subsystems that are not built yet, so start-up, the frame and shutdown run in full.
// Each subsystem removes its entries here as it defines them.
#include "app/engine.h"
#include "app/hooks.h"
#include "layers/image_filters.h"
#include "layers/image_scale.h"
#include "layers/layer.h"

void ReleaseEmoteObject(LayerRecord*) {}
int LoadEmotePlayer(LayerRecord*, const uint8_t*, uint32_t) { return -1; }
int ApplyImageFilter(int32_t, NameNode*, NameNode*, int32_t, int32_t, int32_t, int32_t, int64_t,
                     int32_t, int32_t, int32_t) { return 0; }
int ScaleLayerImage(NameNode*, NameNode*, int64_t, int64_t, int64_t, int64_t, int64_t, int64_t,
                    int32_t, int32_t) { return 0; }
int RotateLayerImage(NameNode*, NameNode*, int32_t, int32_t, int32_t, int32_t, int64_t, int32_t,
                     int32_t) { return 0; }
