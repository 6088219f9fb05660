// Little-endian byte-buffer writing (header-only; this unit keeps the tools library non-empty).
#include "tools/lib/binary_writer.h"
