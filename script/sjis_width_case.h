// Code page 932 character width and letter case: half-width to full-width forms and back, and
// upper and lower case of single- and double-byte letters, from tables of our own.
#pragma once

#include <cstdint>

// The full-width form (lead byte in the high half) of single byte `b`, or `b` itself when it
// has none. Printable ASCII and half-width katakana have one.
uint16_t HalfToFullWidth(uint8_t b);
// The single byte whose full-width form is the double-byte character `code`, or `code` itself
// when it is no such form.
uint16_t FullToHalfWidth(uint16_t code);
// Upper and lower case of one character: a single byte (below 0x100) or a double-byte code.
uint16_t UpperCaseCp932(uint16_t code);
uint16_t LowerCaseCp932(uint16_t code);
// Converts a NUL-terminated Shift-JIS text in place; a lead byte without its trail byte stays.
void UpperCaseMultibyte(char* text);
void LowerCaseMultibyte(char* text);
