// Maths commands: functions, random integers and CRC-32 into a variable; perspective placement.
#pragma once

int CmdMath();
int CmdPerspective();
