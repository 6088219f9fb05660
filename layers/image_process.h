// The image-processing command: one operation per call on up to four named layers (scaling,
// rotation, filters, composing, rule wipes, trim, canvas, swaps, text, GPU paste and capture).
#pragma once

enum : int { CMD_IMAGE_PROCESS = 2 };

// Command 2. 0 to go on, -1 to end the task's turn (after a message, or when the operation
// failed).
int CmdImageProcess();
