// The op codes of integer programs, shared by the evaluator that compiles and runs them and by
// the fused command code built from them.
#pragma once

#include "script/vars.h"

// Op codes: the closing op, the two pushes, negation, then each binary operator in six forms
// at IP_BINARY + FORM_COUNT * operator + form. The value stack's top lives in a register.
enum : int { IP_END, IP_CONST, IP_VARIABLE, IP_NEGATE, IP_BINARY };
enum : int { BIN_ADD, BIN_SUB, BIN_MUL, BIN_DIV, BIN_MOD, BIN_AND, BIN_OR, BIN_XOR, BIN_LAND, BIN_LOR,
                 BIN_EQ, BIN_NE, BIN_GT, BIN_LT, BIN_GE, BIN_LE, BIN_COUNT };
// Where the operands come from: both from the stack; the top and a literal or a variable; or
// (a push in itself) a variable and a literal, two variables, a literal and a variable.
// A form that reads one variable names it in mVariable (FORM_CONST_VAR in both fields), two
// variables are mVariable and mRight.
enum : int { FORM_STACK, FORM_TOP_CONST, FORM_TOP_VAR, FORM_VAR_CONST, FORM_VAR_VAR, FORM_CONST_VAR, FORM_COUNT };
// The stores of assignment programs follow, one per assignment operator.
constexpr int IP_STORE = (int)IP_BINARY + (int)BIN_COUNT * (int)FORM_COUNT;
constexpr int IP_CODES = IP_STORE + ASSIGN_OPERATOR_COUNT;
