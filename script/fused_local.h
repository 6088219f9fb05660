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

// Op codes. Integer and real ops work on one value stack (its top in a register; reals as their
// bits), text ops on a small stack of text views. Codes marked "compiled" are looked up into one
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
  // An element: mCount subscripts (integers) popped from the value stack, the element pushed
  // in the lane of the access (compiled: I_ELEM, R_ELEM, T_ELEM).
  // (A call value, 50, 53, 54 or 57, is read from the frame in place; by a literal subscript
  // found inside its sizes, at the element in mEnd.)
  I_ELEM, I_ELEM_INT, I_ELEM_REAL, I_ELEM_SYS, I_ELEM_SYSR, I_ELEM_CALL, I_CALLK, I_CALLK_ARG, I_CALLK_RETURN,
  R_ELEM, R_ELEM_INT, R_ELEM_REAL, R_ELEM_SYS, R_ELEM_SYSR, R_ELEM_CALL, R_CALLK,
  T_ELEM, T_ELEM_TEXT,
  // Texts: a literal, a text variable (compiled T_VAR), a number as text, two texts joined,
  // two texts compared (an integer 1 or 0), and a number where a text result has none.
  T_LIT, T_VAR, T_VARV, T_STR, T_STRR, T_CAT, I_TEQ, I_TNE, T_NONE_I, T_NONE_R,
  // An assignment's element target: its subscripts popped, its element checked and kept.
  A_TARGET,
  // A text assignment to a scalar or to the target element; mValue 0 '=' or 1 '+='.
  S_TEXT, S_TEXT_E,
  // Commands: the checks an if or an else-if makes before it evaluates (ahead of a condition
  // that writes the subscript list; otherwise the end makes them), their ends; else, end-if
  // and loop end; a handler that evaluates nothing (an else-if without records, a resolved
  // jump); the decoding of a call's or a return's arguments (an integer, one that is an
  // integer variable's value (compiled F_ARG_I with FUSED_VAR_OPERAND), a text or a code
  // parameter at position mCount, checked by the check kind in mRight) and the command's own
  // work.
  F_IF_ENTER, F_IF, F_ELSE_IF_ENTER, F_ELSE_IF, F_ELSE, F_END_IF, F_LOOP_END, F_FLOW, F_ARG_I, F_ARG_IV, F_ARG_T,
  F_ARG_C, F_CALL, F_RETURN,
  // A planned call or return whose values are all integers (run codes of F_CALL and F_RETURN).
  F_CALL_INTS, F_RETURN_INTS,
  // The end of an argument program: its result.
  P_INT, P_REAL, P_TEXT,
  // Binary operators, at I_BIN (or R_BIN) + FORM_COUNT * operator + form.
  I_BIN,
  R_BIN = I_BIN + FORM_COUNT * BIN_COUNT,
  // Stores by assignment operator: integer scalar, integer target element, real, real element;
  // then the same with the value the literal in mValue.
  S_INT = R_BIN + FORM_COUNT * BIN_COUNT,
  S_INT_E = S_INT + ASSIGN_OPERATOR_COUNT,
  S_REAL = S_INT_E + ASSIGN_OPERATOR_COUNT,
  S_REAL_E = S_REAL + ASSIGN_OPERATOR_COUNT,
  S_INTK = S_REAL_E + ASSIGN_OPERATOR_COUNT,
  S_INTK_E = S_INTK + ASSIGN_OPERATOR_COUNT,
  S_REALK = S_INTK_E + ASSIGN_OPERATOR_COUNT,
  S_REALK_E = S_REALK + ASSIGN_OPERATOR_COUNT,
  F_CODES = S_REALK_E + ASSIGN_OPERATOR_COUNT
};

// Where the references' element comes from after an evaluation: element 0, the element of the
// last element read, or the assignment's target element.
enum : uint8_t { REF_ELEMENT_ZERO, REF_ELEMENT_READ, REF_ELEMENT_TARGET };

// Limits of compiled expressions; longer ones keep the byte walk.
constexpr int FUSED_STACK = 64;         // integers and reals at once
constexpr int FUSED_TEXT_STACK = 8;     // texts at once
constexpr int FUSED_DECODED_ARGS = 24;  // argument records of a fused call or return

// Op flags: the operand is the literal in mValue (a subscript, a stored value) or the text in
// mSlot, not a value on a stack; a call or return has its values' places (mCount values, a
// (from, position) byte pair each at mRightSlot) and its label (mTarget) worked out; a call
// gives only its label.
constexpr uint8_t FUSED_CONST_OPERAND = 1, FUSED_VAR_OPERAND = 2, FUSED_PLANNED = 4, FUSED_ONLY_LABEL = 8,
                  FUSED_INT_VALUES = 16;   // a planned call's or return's values are all integers

// Looks the ops of `c` up for the current variable shapes (fused_build.cpp), giving each op the
// label of its run code in `labels`.
const FusedOp* ResolveFusedCommand(FusedCommand* c, uint64_t epoch, const void* const* labels);
// The op of a list that cannot run now: its label is the handler's (set by the loop).
extern FusedOp g_GenericFusedOp;
