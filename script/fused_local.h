// The op codes of fused code and what the compiler hands the loop that runs them.
#pragma once

#include <cstdint>

#include "script/fused.h"
#include "script/operators_local.h"
#include "script/vars.h"

// Where the operands of a binary op come from: both from the stack; the top and a literal or a
// variable; or (a push in itself) a variable and a literal, two variables, a literal and a
// variable. A form that reads one variable names it in mVariable, two are mVariable and mRight.
constexpr int FORM_STACK = 0, FORM_TOP_CONST = 1, FORM_TOP_VAR = 2, FORM_VAR_CONST = 3, FORM_VAR_VAR = 4,
              FORM_CONST_VAR = 5, FORM_COUNT = 6;

// Op codes. Integer ops work on the integer stack (its top in a register), real ops on the real
// stack, text ops on a small stack of text views. Codes marked "compiled" are looked up into one
// of the codes after them; every other code runs as it is.
enum : uint16_t {
  F_GENERIC,   // the command's handler (or, for an argument program, the byte walk)
  // Integer pushes: a literal; a variable read as an integer (compiled: I_VAR for an integer
  // user variable, which forms may take in, I_LOAD for any other); a bare reference (0).
  I_CONST, I_VAR, I_LOAD, I_INT, I_REALV, I_SYS, I_SYSR, I_LOOP, I_REF, I_NEG,
  // Real pushes, the same way.
  R_CONST, R_VAR, R_LOAD, R_INT, R_REALV, R_SYS, R_SYSR, R_REF, R_NEG,
  // The real top as an integer (truncated), for integer consumers of real arithmetic.
  CVT_RI,
  // An element: mCount subscripts popped from the integer stack, the element pushed in the
  // lane of the access (compiled: I_ELEM, R_ELEM, T_ELEM).
  I_ELEM, I_ELEM_INT, I_ELEM_REAL, I_ELEM_SYS, I_ELEM_SYSR,
  R_ELEM, R_ELEM_INT, R_ELEM_REAL, R_ELEM_SYS, R_ELEM_SYSR,
  T_ELEM, T_ELEM_TEXT,
  // Texts: a literal, a text variable (compiled T_VAR), a number as text, two texts joined,
  // two texts compared (an integer 1 or 0), and a number where a text result has none.
  T_LIT, T_VAR, T_VARV, T_STR, T_STRR, T_CAT, I_TEQ, I_TNE, T_NONE_I, T_NONE_R,
  // An assignment's element target: its subscripts popped, its element checked and kept.
  A_TARGET,
  // A text assignment to a scalar or to the target element; mValue 0 '=' or 1 '+='.
  S_TEXT, S_TEXT_E,
  // Commands: the checks an if or an else-if makes before it evaluates, their ends, a handler
  // that evaluates nothing (else, end-if, loop end, a resolved jump), a decoded argument kept
  // for the decode (an integer, a text), and the call and return commands whose arguments
  // those are.
  F_IF_ENTER, F_IF, F_ELSE_IF_ENTER, F_ELSE_IF, F_FLOW, F_ARG_I, F_ARG_T, F_CALL, F_RETURN,
  // The end of an argument program: its result.
  P_INT, P_REAL, P_TEXT,
  // Binary operators, at I_BIN (or R_BIN) + FORM_COUNT * operator + form.
  I_BIN,
  R_BIN = I_BIN + FORM_COUNT * BIN_COUNT,
  // Stores by assignment operator: integer scalar, integer target element, real, real element.
  S_INT = R_BIN + FORM_COUNT * BIN_COUNT,
  S_INT_E = S_INT + ASSIGN_OPERATOR_COUNT,
  S_REAL = S_INT_E + ASSIGN_OPERATOR_COUNT,
  S_REAL_E = S_REAL + ASSIGN_OPERATOR_COUNT,
  F_CODES = S_REAL_E + ASSIGN_OPERATOR_COUNT
};

// Where the references' element comes from after an evaluation: element 0, the element of the
// last element read, or the assignment's target element.
enum : uint8_t { REF_ELEMENT_ZERO, REF_ELEMENT_READ, REF_ELEMENT_TARGET };

// Limits of compiled expressions; longer ones keep the byte walk.
constexpr int FUSED_STACK = 64;         // values in one lane
constexpr int FUSED_TEXT_STACK = 8;     // texts at once
constexpr int FUSED_DECODED_ARGS = 24;  // argument records of a fused call or return

// Looks the ops of `c` up for the current variable shapes (fused_build.cpp).
const FusedOp* ResolveFusedCommand(FusedCommand* c, uint64_t epoch);
extern const FusedOp g_GenericFusedOp;
