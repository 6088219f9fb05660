// Script threads: the task start, end and query commands and the task state text that a
// script keeps in its save data to restart a thread at the place it left.
#pragma once

#include <cstddef>
#include <cstdint>

struct ScriptTask;

constexpr int32_t MSG_BAD_TASK_STATE = 900000;       // fatal: not a task state text
constexpr int32_t MSG_TASK_STATE_TOO_LONG = 900190;  // fatal, located: the state outgrows a text value
constexpr size_t TASK_STATE_NAME_BYTES = 262;        // longest script file name a state keeps
// The longest state: 63 open levels of each stack and the longest name.
constexpr size_t TASK_STATE_MAX_BYTES = 8 + 2 + 18 * 63 + 2 + 20 * 63 + 2 + 34 * 63 + 24 + TASK_STATE_NAME_BYTES;

// Writes the state of `task` into `buffer` (`size` bytes; no terminator is added). Returns its
// length, or -1 for a null buffer or task or when the state does not fit.
int32_t EncodeTaskState(char* buffer, size_t size, const ScriptTask* task);
// Reads a state text of `length` bytes into `task`: its stacks and depths, mMessageMark1,
// mCommandIndex and mScriptFile (the caller links the file). The task changes only when the
// whole text is sound. Returns the bytes consumed, or 0 after a message.
int32_t DecodeTaskState(const char* text, size_t length, ScriptTask* task);

int CmdTaskStart();
int CmdTaskEnd();
int CmdTaskQuery();
