// The text-input box's field edits as a text field does: the caret and the selection move with
// the arrows, Home and End (Shift extends), Ctrl+A selects all, typing and pasting replace the
// selection, Backspace and Delete take the selection or one character, cutting gives the
// selection and removes it, and the length limit counts code page 932 bytes.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sdl/widget_edit.h"

namespace {

// One step of editing: a letter and its argument.
//   i TEXT   insert (type or paste) TEXT
//   l/r/h/e  Left, Right, Home, End; upper case with Shift
//   a        select all
//   b / d    Backspace / Delete
//   x        cut (the cut text is appended to the case's clipboard)
//   p N      place the caret at byte N (a click); P N with Shift (a drag)
struct Step {
  char op;
  std::string arg;
};

struct FieldCase {
  const char* name;
  const char* start;        // the default text; the caret starts at its end
  std::vector<Step> steps;
  const char* text;         // the field's text after the steps
  const char* selected;     // what is selected
  size_t caret;             // byte offset
  const char* clipboard;    // the cuts, in order
};

void Apply(WidgetEdit* e, const Step& s, std::string* clipboard) {
  switch (s.op) {
    case 'i': WidgetEditInsert(e, s.arg); break;
    case 'l': case 'L': WidgetEditMoveCaret(e, EDIT_LEFT, s.op == 'L'); break;
    case 'r': case 'R': WidgetEditMoveCaret(e, EDIT_RIGHT, s.op == 'R'); break;
    case 'h': case 'H': WidgetEditMoveCaret(e, EDIT_HOME, s.op == 'H'); break;
    case 'e': case 'E': WidgetEditMoveCaret(e, EDIT_END, s.op == 'E'); break;
    case 'a': WidgetEditSelectAll(e); break;
    case 'b': WidgetEditErase(e, false); break;
    case 'd': WidgetEditErase(e, true); break;
    case 'x': *clipboard += WidgetEditCut(e); break;
    case 'p': case 'P': WidgetEditPlaceCaret(e, std::stoul(s.arg), s.op == 'P'); break;
    default: FAIL() << "unknown step " << s.op;
  }
}

TEST(TextField, EditsLikeATextField) {
  const FieldCase cases[] = {
      {"Ctrl+A and typing replace everything", "名無し", {{'a', ""}, {'i', "Taro"}}, "Taro", "", 4, ""},
      {"Home then typing puts the text first", "bc", {{'h', ""}, {'i', "a"}}, "abc", "", 1, ""},
      {"End after Home goes back to the end", "abc", {{'h', ""}, {'e', ""}, {'i', "d"}}, "abcd", "", 4, ""},
      {"Shift+Left selects characters, not bytes", "abあい", {{'L', ""}, {'L', ""}}, "abあい", "あい", 2, ""},
      {"Shift+Home selects to the start", "hello", {{'l', ""}, {'H', ""}}, "hello", "hell", 0, ""},
      {"Shift+End from the start selects all", "hello", {{'h', ""}, {'E', ""}}, "hello", "hello", 5, ""},
      {"Left on a selection lands at its start", "hello", {{'L', ""}, {'L', ""}, {'l', ""}}, "hello", "", 3, ""},
      {"Right on a selection lands at its end", "hello", {{'h', ""}, {'R', ""}, {'R', ""}, {'r', ""}}, "hello", "", 2, ""},
      {"Backspace takes the selection", "hello", {{'L', ""}, {'L', ""}, {'b', ""}}, "hel", "", 3, ""},
      {"Backspace without one takes a character", "aあ", {{'b', ""}}, "a", "", 1, ""},
      {"Delete takes the character after the caret", "abc", {{'h', ""}, {'d', ""}}, "bc", "", 0, ""},
      {"Delete at the end does nothing", "abc", {{'d', ""}}, "abc", "", 3, ""},
      {"Cut gives the selection and removes it", "前後", {{'L', ""}, {'x', ""}}, "前", "", 3, "後"},
      {"Cut without a selection gives nothing", "ab", {{'x', ""}}, "ab", "", 2, ""},
      {"A click places the caret, a drag selects", "abcdef", {{'p', "1"}, {'P', "4"}}, "abcdef", "bcd", 4, ""},
      {"A drag backwards selects too", "abcdef", {{'p', "5"}, {'P', "2"}, {'i', "X"}}, "abXf", "", 3, ""},
      {"A click inside a character goes to its start", "あい", {{'p', "4"}}, "あい", "", 3, ""},
      {"A click past the end goes to the end", "ab", {{'p', "99"}}, "ab", "", 2, ""},
      {"Control characters are dropped", "", {{'i', "a\tb\nc\x7F"}}, "abc", "", 3, ""},
      {"Broken bytes become question marks", "", {{'i', "a\xFF" "b"}}, "a?b", "", 3, ""},
  };
  for (const FieldCase& c : cases) {
    WidgetEdit e;
    std::string clipboard;
    WidgetEditInsert(&e, c.start);
    for (const Step& s : c.steps) Apply(&e, s, &clipboard);
    EXPECT_EQ(e.text, c.text) << c.name;
    EXPECT_EQ(WidgetEditSelection(e), c.selected) << c.name;
    EXPECT_EQ(e.caret, c.caret) << c.name;
    EXPECT_EQ(clipboard, c.clipboard) << c.name;
  }
}

TEST(TextField, TheLimitCountsCodePage932BytesAndTypingOverASelectionFreesItsRoom) {
  WidgetEdit e;
  e.limit = 4;
  WidgetEditInsert(&e, "太郎x");   // two double-byte characters fill four bytes
  EXPECT_EQ(e.text, "太郎");
  // Half-width katakana take one byte each.
  WidgetEditSelectAll(&e);
  WidgetEditInsert(&e, "ｱｲｳｴｵ");
  EXPECT_EQ(e.text, "ｱｲｳｴ");
  // The selection's bytes are free again for the text that replaces it.
  WidgetEditMoveCaret(&e, EDIT_LEFT, true);
  WidgetEditMoveCaret(&e, EDIT_LEFT, true);
  WidgetEditInsert(&e, "本");
  EXPECT_EQ(e.text, "ｱｲ本");
  EXPECT_EQ(WidgetEditCp932Size(e.text), 4u);
}

}  // namespace
