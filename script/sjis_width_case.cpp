// Code page 932 width and case tables: the forms scripts convert between, kept here because
// the host's C library knows nothing of this code page's multibyte case and width rules.
#include "script/sjis_width_case.h"

#include "app/engine.h"

namespace {

// Full-width forms of 0x20-0x7E. The quote, apostrophe, backslash and tilde take the forms
// Japanese text has always used for them (right quotes, yen sign, overline).
constexpr uint16_t kAsciiFullWidth[95] = {
    0x8140, 0x8149, 0x8168, 0x8194, 0x8190, 0x8193, 0x8195, 0x8166, 0x8169, 0x816A, 0x8196, 0x817B,
    0x8143, 0x817C, 0x8144, 0x815E, 0x824F, 0x8250, 0x8251, 0x8252, 0x8253, 0x8254, 0x8255, 0x8256,
    0x8257, 0x8258, 0x8146, 0x8147, 0x8183, 0x8181, 0x8184, 0x8148, 0x8197, 0x8260, 0x8261, 0x8262,
    0x8263, 0x8264, 0x8265, 0x8266, 0x8267, 0x8268, 0x8269, 0x826A, 0x826B, 0x826C, 0x826D, 0x826E,
    0x826F, 0x8270, 0x8271, 0x8272, 0x8273, 0x8274, 0x8275, 0x8276, 0x8277, 0x8278, 0x8279, 0x816D,
    0x818F, 0x816E, 0x814F, 0x8151, 0x814D, 0x8281, 0x8282, 0x8283, 0x8284, 0x8285, 0x8286, 0x8287,
    0x8288, 0x8289, 0x828A, 0x828B, 0x828C, 0x828D, 0x828E, 0x828F, 0x8290, 0x8291, 0x8292, 0x8293,
    0x8294, 0x8295, 0x8296, 0x8297, 0x8298, 0x8299, 0x829A, 0x816F, 0x8162, 0x8170, 0x8150,
};

// Full-width forms of the half-width katakana and punctuation 0xA1-0xDF.
constexpr uint16_t kKanaFullWidth[63] = {
    0x8142, 0x8175, 0x8176, 0x8141, 0x8145, 0x8392, 0x8340, 0x8342, 0x8344, 0x8346, 0x8348,
    0x8383, 0x8385, 0x8387, 0x8362, 0x815B, 0x8341, 0x8343, 0x8345, 0x8347, 0x8349, 0x834A,
    0x834C, 0x834E, 0x8350, 0x8352, 0x8354, 0x8356, 0x8358, 0x835A, 0x835C, 0x835E, 0x8360,
    0x8363, 0x8365, 0x8367, 0x8369, 0x836A, 0x836B, 0x836C, 0x836D, 0x836E, 0x8371, 0x8374,
    0x8377, 0x837A, 0x837D, 0x837E, 0x8380, 0x8381, 0x8382, 0x8384, 0x8386, 0x8388, 0x8389,
    0x838A, 0x838B, 0x838C, 0x838D, 0x838F, 0x8393, 0x814A, 0x814B,
};

// Case pairs of the double-byte letters: full-width Latin, Greek, Cyrillic and the roman
// numerals. Each run maps [lower, lower + count) onto [upper, upper + count).
struct CaseRun {
  uint16_t lower, upper, count;
};
constexpr CaseRun kCaseRuns[] = {
    {0x8281, 0x8260, 26},   // full-width a-z
    {0x83BF, 0x839F, 24},   // Greek
    {0x8470, 0x8440, 15},   // Cyrillic up to the gap at trail byte 0x7F
    {0x8480, 0x844F, 18},   // the rest of the Cyrillic letters
    {0xFA40, 0xFA4A, 10},   // small roman numerals (the IBM extension row)
};
// The small roman numerals also sit in the NEC-selected row; upper case leads every small
// numeral to the NEC row of capitals, and lower case of those capitals to the IBM row.
constexpr uint16_t kNecSmallRoman = 0xEEEF;
constexpr uint16_t kNecCapitalRoman = 0x8754;
constexpr uint16_t ROMAN_COUNT = 10;

bool InRun(uint16_t code, uint16_t first, uint16_t count) { return code >= first && code < first + count; }

}  // namespace

uint16_t HalfToFullWidth(uint8_t b) {
  if (b >= 0x20 && b <= 0x7E) return kAsciiFullWidth[b - 0x20];
  if (b >= 0xA1 && b <= 0xDF) return kKanaFullWidth[b - 0xA1];
  return b;
}

uint16_t FullToHalfWidth(uint16_t code) {
  if (code < 0x8140) return code;
  for (int i = 0; i < 95; i++)
    if (kAsciiFullWidth[i] == code) return (uint16_t)(0x20 + i);
  for (int i = 0; i < 63; i++)
    if (kKanaFullWidth[i] == code) return (uint16_t)(0xA1 + i);
  return code;
}

uint16_t UpperCaseCp932(uint16_t code) {
  if (code < 0x100) return code >= 'a' && code <= 'z' ? (uint16_t)(code - 32) : code;
  if (InRun(code, kNecSmallRoman, ROMAN_COUNT)) return (uint16_t)(kNecCapitalRoman + (code - kNecSmallRoman));
  if (InRun(code, 0xFA40, ROMAN_COUNT)) return (uint16_t)(kNecCapitalRoman + (code - 0xFA40));
  for (const CaseRun& r : kCaseRuns)
    if (InRun(code, r.lower, r.count)) return (uint16_t)(r.upper + (code - r.lower));
  return code;
}

uint16_t LowerCaseCp932(uint16_t code) {
  if (code < 0x100) return code >= 'A' && code <= 'Z' ? (uint16_t)(code + 32) : code;
  if (InRun(code, kNecCapitalRoman, ROMAN_COUNT)) return (uint16_t)(0xFA40 + (code - kNecCapitalRoman));
  for (const CaseRun& r : kCaseRuns)
    if (InRun(code, r.upper, r.count)) return (uint16_t)(r.lower + (code - r.upper));
  return code;
}

namespace {

void ConvertCase(char* text, uint16_t (*convert)(uint16_t)) {
  for (uint8_t* p = reinterpret_cast<uint8_t*>(text); *p != 0;) {
    if (g_LeadByteTable[*p] && p[1] != 0) {
      uint16_t code = convert((uint16_t)(p[0] << 8 | p[1]));
      p[0] = (uint8_t)(code >> 8);
      p[1] = (uint8_t)code;
      p += 2;
    } else {
      if (!g_LeadByteTable[*p]) *p = (uint8_t)convert(*p);
      p++;
    }
  }
}

}  // namespace

void UpperCaseMultibyte(char* text) { ConvertCase(text, UpperCaseCp932); }
void LowerCaseMultibyte(char* text) { ConvertCase(text, LowerCaseCp932); }
