// The editing rules of the one-line text field: caret and selection moves, typing over the
// selection, erasing and cutting, counted in the code page the engine stores text in.
#include "platform/sdl/widget_edit.h"

#include <algorithm>

uint32_t WidgetNextCodePoint(const std::string& text, size_t* at) {
  size_t i = *at;
  uint8_t b = (uint8_t)text[i];
  int n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
  if (n == 0 || i + n > text.size()) {
    *at = i + 1;
    return '?';
  }
  uint32_t cp = n == 1 ? b : n == 2 ? (b & 0x1F) : n == 3 ? (b & 0x0F) : (b & 0x07);
  for (int k = 1; k < n; k++) {
    uint8_t t = (uint8_t)text[i + k];
    if ((t & 0xC0) != 0x80) {
      *at = i + 1;
      return '?';
    }
    cp = cp << 6 | (t & 0x3F);
  }
  *at = i + n;
  return cp;
}

int WidgetCp932Bytes(uint32_t cp) {
  if (cp < 0x80) return 1;
  // Half-width katakana are single bytes of the code page.
  if (cp >= 0xFF61 && cp <= 0xFF9F) return 1;
  return 2;
}

namespace {

// The start of the character before `at`.
size_t Previous(const std::string& text, size_t at) {
  if (at == 0) return 0;
  at--;
  while (at > 0 && ((uint8_t)text[at] & 0xC0) == 0x80) at--;
  return at;
}

size_t Next(const std::string& text, size_t at) {
  if (at >= text.size()) return text.size();
  WidgetNextCodePoint(text, &at);
  return at;
}

// Removes the selection; false when there was none.
bool EraseSelection(WidgetEdit* e) {
  size_t from = WidgetEditSelectionStart(*e), to = WidgetEditSelectionEnd(*e);
  if (from == to) return false;
  e->text.erase(from, to - from);
  e->caret = e->anchor = from;
  return true;
}

}  // namespace

size_t WidgetEditCp932Size(const std::string& utf8) {
  size_t n = 0;
  for (size_t i = 0; i < utf8.size();) n += (size_t)WidgetCp932Bytes(WidgetNextCodePoint(utf8, &i));
  return n;
}

size_t WidgetEditSelectionStart(const WidgetEdit& e) { return std::min(e.caret, e.anchor); }
size_t WidgetEditSelectionEnd(const WidgetEdit& e) { return std::max(e.caret, e.anchor); }

void WidgetEditInsert(WidgetEdit* e, const std::string& utf8) {
  EraseSelection(e);
  size_t used = WidgetEditCp932Size(e->text);
  for (size_t i = 0; i < utf8.size();) {
    size_t start = i;
    uint32_t cp = WidgetNextCodePoint(utf8, &i);
    if (cp < 0x20 || cp == 0x7F) continue;
    size_t bytes = (size_t)WidgetCp932Bytes(cp);
    if (used + bytes > e->limit) break;
    std::string one = cp == '?' && ((uint8_t)utf8[start] & 0x80) ? "?" : utf8.substr(start, i - start);
    e->text.insert(e->caret, one);
    e->caret += one.size();
    used += bytes;
  }
  e->anchor = e->caret;
}

void WidgetEditMoveCaret(WidgetEdit* e, WidgetEditMove move, bool extend) {
  bool selected = e->caret != e->anchor;
  switch (move) {
    case EDIT_LEFT:
      e->caret = !extend && selected ? WidgetEditSelectionStart(*e) : Previous(e->text, e->caret);
      break;
    case EDIT_RIGHT:
      e->caret = !extend && selected ? WidgetEditSelectionEnd(*e) : Next(e->text, e->caret);
      break;
    case EDIT_HOME: e->caret = 0; break;
    case EDIT_END: e->caret = e->text.size(); break;
  }
  if (!extend) e->anchor = e->caret;
}

void WidgetEditPlaceCaret(WidgetEdit* e, size_t offset, bool extend) {
  offset = std::min(offset, e->text.size());
  while (offset > 0 && offset < e->text.size() && ((uint8_t)e->text[offset] & 0xC0) == 0x80) offset--;
  e->caret = offset;
  if (!extend) e->anchor = offset;
}

void WidgetEditSelectAll(WidgetEdit* e) {
  e->anchor = 0;
  e->caret = e->text.size();
}

void WidgetEditErase(WidgetEdit* e, bool forward) {
  if (EraseSelection(e)) return;
  size_t from = forward ? e->caret : Previous(e->text, e->caret);
  size_t to = forward ? Next(e->text, e->caret) : e->caret;
  e->text.erase(from, to - from);
  e->caret = e->anchor = from;
}

std::string WidgetEditSelection(const WidgetEdit& e) {
  size_t from = WidgetEditSelectionStart(e);
  return e.text.substr(from, WidgetEditSelectionEnd(e) - from);
}

std::string WidgetEditCut(WidgetEdit* e) {
  std::string cut = WidgetEditSelection(*e);
  EraseSelection(e);
  return cut;
}
