// Variable utility and information commands: conversions, text pieces, case and width, array
// resize, insert and delete, and facts about a variable (type, shape, text length, search).
#pragma once

int CmdVariableUtility();
int CmdVariableInfo();
