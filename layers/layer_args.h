// What the layer commands read from the script engine's argument slots: parameters by their
// number (counted from 1 as the command table declares them), the layer name, the result.
#pragma once

#include <cstdint>

#include "layers/layer.h"

enum : int { CMD_LAYER = 1, CMD_LAYER_DELETE = 3, CMD_LAYER_QUERY = 4 };

// Decodes the current command's arguments, remembering the command for its messages.
int DecodeLayerArguments(int code);

bool ArgGiven(int param);
int64_t ArgInt(int param);
const char* ArgText(int param);   // "" when not given
int32_t ArgOperator(int param);
const char* CurrentCommandName();
const char* CurrentParameterName(int param);

// `name` "." `number` in decimal, cut on a character boundary to `size` bytes.
void AppendLayerNumber(char* out, size_t size, const char* name, int64_t number);
// Parameter 1, or parameter 1 "." parameter 2, normalised against the layer folder.
// 0 a leaf, 1 a group, -1 after a message. With parameter 2 the path is always a leaf.
int32_t NormalizeLayerArgument(char* path);

// The variable element that the target parameter refers to.
void StoreResultInt(int param, int64_t value);
void StoreResultText(int param, const char* text);
// 0, 0.0 or the empty text by the variable's type.
void ClearResult(int param);
