// The layer commands' view of the argument slots: parameters by number, the layer name and
// the result variable.
#include <cstdio>
#include <cstring>

#include "app/engine.h"
#include "layers/layer_args.h"
