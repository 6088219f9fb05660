// The editing rules of the SDL backend's one-line text field (the text-input box): caret,
// selection, typing over the selection, clipboard cuts and pastes. Plain text in UTF-8; no SDL
// here, so the rules are tested on their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Byte offsets into `text`, always at character boundaries. The selection runs between `anchor`
// and `caret` (empty when they are equal).
struct WidgetEdit {
  std::string text;
  size_t caret = 0;
  size_t anchor = 0;
  size_t limit = SIZE_MAX;   // in code page 932 bytes, as the engine will store the text
};

enum WidgetEditMove { EDIT_LEFT, EDIT_RIGHT, EDIT_HOME, EDIT_END };

// The next code point of a UTF-8 text at *at (advanced past it); a broken byte reads as '?'.
uint32_t WidgetNextCodePoint(const std::string& text, size_t* at);
// The character counted as code page 932 bytes (1 or 2), as the engine will store it.
int WidgetCp932Bytes(uint32_t codePoint);
// The field's text as the engine will count it: bytes in code page 932.
size_t WidgetEditCp932Size(const std::string& utf8);
// Inserts typed or pasted text in place of the selection, as much as the limit lets in; control
// characters are dropped and broken UTF-8 bytes become '?'.
void WidgetEditInsert(WidgetEdit* e, const std::string& utf8);
// Moves the caret; with `extend` the selection grows or shrinks, else it goes. Left and Right
// without `extend` on a selection land at its start or end.
void WidgetEditMoveCaret(WidgetEdit* e, WidgetEditMove move, bool extend);
// Puts the caret at a byte offset (rounded back to a character start), keeping the anchor when
// `extend` is set: clicks and drags of the mouse.
void WidgetEditPlaceCaret(WidgetEdit* e, size_t offset, bool extend);
void WidgetEditSelectAll(WidgetEdit* e);
// Backspace (forward false) or Delete: the selection when there is one, else one character.
void WidgetEditErase(WidgetEdit* e, bool forward);
// The selected text ("" when none); Cut also removes it.
std::string WidgetEditSelection(const WidgetEdit& e);
std::string WidgetEditCut(WidgetEdit* e);
size_t WidgetEditSelectionStart(const WidgetEdit& e);
size_t WidgetEditSelectionEnd(const WidgetEdit& e);
