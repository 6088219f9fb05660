// Image loading into a layer record.
#include "layers/layer.h"

int LoadLayerImage(LayerRecord* record, const char* fileName) { return SetBlankImage(record, fileName); }
