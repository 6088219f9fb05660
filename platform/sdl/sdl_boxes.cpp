// The modal boxes the SDL backend draws itself: a message box with up to four buttons and an
// icon of the desktop's icon theme, and the one-line text-input box, which edits as a text field
// does (selection, clipboard) and shows an input method's text being composed at its caret. Both
// are dialogs of the main game window, with our own text, so Japanese shows on any X server.
#include <algorithm>
#include <mutex>

#include "platform/icon_theme.h"
#include "platform/sdl/sdl_driver.h"
#include "platform/sdl/sdl_widgets.h"
#include "platform/sdl/sdl_x11.h"

namespace {

constexpr int BUTTON_HEIGHT = 24;
constexpr int LINE_HEIGHT = WIDGET_CELL + 2;
constexpr size_t TEXT_INPUT_BYTES = 4095;   // the engine's result buffer holds 4096 bytes

constexpr int ICON_SIDE = 48;              // a box's icon, the size the desktop's own dialogs show
constexpr int ICON_GAP = 12;               // between the icon and the text

// A box window centred on the main game window (or the first display): a dialog owned by it.
SDL_Window* OpenBoxWindow(const char* caption, int width, int height) {
  SDL_Window* owner = SdlWindowOfSlot(0);
  int x = SDL_WINDOWPOS_CENTERED, y = SDL_WINDOWPOS_CENTERED;
  if (owner && (SDL_GetWindowFlags(owner) & SDL_WINDOW_SHOWN)) {
    int ox, oy, ow, oh;
    SDL_GetWindowPosition(owner, &ox, &oy);
    SDL_GetWindowSize(owner, &ow, &oh);
    x = ox + (ow - width) / 2;
    y = oy + (oh - height) / 2;
    SDL_Rect desk = WidgetDisplayBounds(ox + ow / 2, oy + oh / 2);
    x = std::max(desk.x, std::min(x, desk.x + desk.w - width));
    y = std::max(desk.y, std::min(y, desk.y + desk.h - height));
  }
  // Made hidden: the window manager reads the window's type and caption buttons when it is shown.
  SDL_Window* w = SDL_CreateWindow(caption ? caption : "", x, y, width, height, SDL_WINDOW_HIDDEN);
  if (!w) return nullptr;
  // SDL may make the window anew for the drawing surface it picks: that happens first, so the
  // dialog's properties go on the window that is shown.
  SDL_GetWindowSurface(w);
  SdlX11MakeDialog(w, owner);
  SDL_ShowWindow(w);
  if (owner) SDL_SetWindowModalFor(w, owner);
  SDL_RaiseWindow(w);
  // Without a window manager nobody else gives the box the keyboard.
  if (!SdlX11Focus(w)) SDL_SetWindowInputFocus(w);
  return w;
}

// The icon of a box (PLAT_ICON_*) from the desktop's icon theme, loaded once; null for none or
// when the theme lacks it.
const PlatIcon* BoxIcon(int icon) {
  static const char* const kNames[] = {"dialog-information", "dialog-question", "dialog-warning", "dialog-error"};
  static std::mutex lock;
  static PlatIcon icons[4];
  static bool tried[4];
  if (icon < PLAT_ICON_INFORMATION || icon > PLAT_ICON_ERROR) return nullptr;
  std::lock_guard<std::mutex> g(lock);
  int i = icon - 1;
  if (!tried[i]) {
    tried[i] = true;
    PlatLoadThemeIcon(kNames[i], ICON_SIDE, &icons[i]);
  }
  return icons[i].argb.empty() ? nullptr : &icons[i];
}

// A box is neither minimised nor maximised: a window manager that offers it anyway (some draw
// the buttons on every window) sees the box come back as it was.
void KeepBoxShape(SDL_Window* window, const SDL_Event& e) {
  if (e.window.event == SDL_WINDOWEVENT_MINIMIZED && !SdlX11Deiconify(window)) SDL_RestoreWindow(window);
  if (e.window.event == SDL_WINDOWEVENT_MAXIMIZED) SDL_RestoreWindow(window);
}

struct Button {
  SDL_Rect rect;
  WidgetLabel label;
};

void DrawButton(WidgetCanvas* c, const Button& b, bool focused) {
  WidgetFill(c, b.rect.x, b.rect.y, b.rect.w, b.rect.h, WIDGET_FACE);
  WidgetFrame(c, b.rect.x, b.rect.y, b.rect.w, b.rect.h, focused ? WIDGET_SELECT : WIDGET_EDGE);
  if (focused) WidgetFrame(c, b.rect.x + 1, b.rect.y + 1, b.rect.w - 2, b.rect.h - 2, WIDGET_SELECT);
  int tw = WidgetTextWidth(b.label.text, b.rect.w);
  WidgetDrawText(c, b.rect.x + (b.rect.w - tw) / 2, b.rect.y + (b.rect.h - WIDGET_CELL) / 2, b.label.text,
                 WIDGET_TEXT, b.rect.x + b.rect.w - 2, b.label.mnemonicAt);
}

bool Inside(const SDL_Rect& r, int x, int y) {
  SDL_Point p{x, y};
  return SDL_PointInRect(&p, &r);
}

uint32_t KeyLetter(SDL_Keycode sym) {
  if (sym >= 'A' && sym <= 'Z') return (uint32_t)sym + 32;
  return sym > 0 && sym < 0x80 ? (uint32_t)sym : 0;
}

bool ChoiceBoxOnMainThread(const char* caption, const char* text, const char* const* labels, int count,
                           int defaultIndex, int cancelIndex, int icon, int* answer) {
  if (count < 1) return false;
  count = std::min(count, 4);
  std::vector<Button> buttons((size_t)count);
  int buttonsWidth = 0;
  for (int i = 0; i < count; i++) {
    buttons[i].label = WidgetParseLabel(labels[i] ? labels[i] : "");
    buttons[i].rect.w = std::clamp(WidgetTextWidth(buttons[i].label.text, 400) + 20, 76, 400);
    buttons[i].rect.h = BUTTON_HEIGHT;
    buttonsWidth += buttons[i].rect.w + (i ? 8 : 0);
  }
  SDL_Rect desk = WidgetDisplayBounds(0, 0);
  int maxText = std::max(200, std::min(560, desk.w - 80));
  std::string body = text ? text : "";
  int textWidth = 0;
  std::vector<std::string> lines = WidgetWrapText(body, maxText, std::max(1, (desk.h - 120) / LINE_HEIGHT));
  for (const std::string& l : lines) textWidth = std::max(textWidth, WidgetTextWidth(l, maxText));
  // The icon sits left of the text, both from the top left margin.
  const PlatIcon* picture = BoxIcon(icon);
  int textX = picture ? 20 + ICON_SIDE + ICON_GAP : 20;
  int contentHeight = std::max((int)lines.size() * LINE_HEIGHT, picture ? ICON_SIDE : 0);
  int width = std::max({textX + textWidth + 20, buttonsWidth + 24, 200});
  int height = 20 + contentHeight + 20 + BUTTON_HEIGHT + 12;
  int x = (width - buttonsWidth) / 2;
  for (Button& b : buttons) {
    b.rect.x = x;
    b.rect.y = height - 12 - BUTTON_HEIGHT;
    x += b.rect.w + 8;
  }
  SDL_Window* window = OpenBoxWindow(caption, width, height);
  if (!window) return false;
  int focus = defaultIndex >= 0 && defaultIndex < count ? defaultIndex : 0;
  int chosen = -1;
  bool done = false;
  auto draw = [&] {
    WidgetCanvas c;
    WidgetResize(&c, width, height, WIDGET_FACE);
    if (picture) WidgetDrawPicture(&c, 20, 20, ICON_SIDE, ICON_SIDE, *picture);
    for (size_t i = 0; i < lines.size(); i++)
      WidgetDrawText(&c, textX, 20 + (int)i * LINE_HEIGHT, lines[i], WIDGET_TEXT, width - 10);
    for (int i = 0; i < count; i++) DrawButton(&c, buttons[i], i == focus);
    WidgetPresent(window, c);
  };
  auto choose = [&](int i) {
    chosen = i;
    done = true;
  };
  draw();
  WidgetRunModal([&](const SDL_Event& e) {
    if (!WidgetEventFor(window, e)) return false;
    switch (e.type) {
      case SDL_WINDOWEVENT:
        KeepBoxShape(window, e);
        if (e.window.event == SDL_WINDOWEVENT_CLOSE) choose(cancelIndex);
        else if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) draw();
        break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button != SDL_BUTTON_LEFT) break;
        for (int i = 0; i < count; i++)
          if (Inside(buttons[i].rect, e.button.x, e.button.y)) choose(i);
        break;
      case SDL_KEYDOWN: {
        SDL_Keycode k = e.key.keysym.sym;
        if (k == SDLK_RETURN || k == SDLK_KP_ENTER || k == SDLK_SPACE) choose(focus);
        else if (k == SDLK_ESCAPE) choose(cancelIndex);
        else if (k == SDLK_RIGHT || (k == SDLK_TAB && !(e.key.keysym.mod & KMOD_SHIFT))) focus = (focus + 1) % count;
        else if (k == SDLK_LEFT || k == SDLK_TAB) focus = (focus + count - 1) % count;
        else if (uint32_t letter = KeyLetter(k))
          for (int i = 0; i < count; i++)
            if (buttons[i].label.accessKey == letter) {
              choose(i);
              break;
            }
        if (!done) draw();
        break;
      }
      default: break;
    }
    return true;
  }, &done);
  SDL_DestroyWindow(window);
  SDL_PumpEvents();   // the window leaves the screen now, not at the next poll
  *answer = chosen;
  return true;
}

// The input box's field: its text with caret and selection, the input method's text being
// composed, and the first character shown.
struct Field {
  SDL_Rect rect;
  WidgetEdit edit;
  std::string composing;   // not yet committed; shown at the caret
  size_t composingCaret = 0;   // the input method's caret: characters into `composing`
  size_t scroll = 0;
  bool dragging = false;

  int Left() const { return rect.x + 4; }
  int Right() const { return rect.x + rect.w - 4; }

  // Scrolls so that the caret and the composed text stay in view.
  void Follow() {
    int room = Right() - Left();
    if (scroll > edit.caret) scroll = edit.caret;
    while (scroll < edit.caret &&
           WidgetTextWidth(edit.text.substr(scroll, edit.caret - scroll) + composing, room + 1) > room - 2)
      WidgetNextCodePoint(edit.text, &scroll);
  }

  // The character boundary nearest a window x.
  size_t OffsetAt(int x) const {
    if (x < Left() && scroll > 0) {
      // Dragging past the left edge brings the text before the view into it.
      size_t back = scroll - 1;
      while (back > 0 && ((uint8_t)edit.text[back] & 0xC0) == 0x80) back--;
      return back;
    }
    int at = Left();
    for (size_t i = scroll; i < edit.text.size();) {
      size_t start = i;
      WidgetNextCodePoint(edit.text, &i);
      int w = WidgetTextWidth(edit.text.substr(start, i - start));
      if (x < at + w / 2) return start;
      at += w;
    }
    return edit.text.size();
  }

  void Draw(WidgetCanvas* c) {
    WidgetFill(c, rect.x, rect.y, rect.w, rect.h, WIDGET_LIGHT);
    WidgetFrame(c, rect.x, rect.y, rect.w, rect.h, WIDGET_EDGE);
    Follow();
    size_t from = WidgetEditSelectionStart(edit), to = WidgetEditSelectionEnd(edit);
    int x = Left(), y = rect.y + 4, caretX = x;
    for (size_t i = scroll;;) {
      if (i == edit.caret) {
        // The composed text: underlined, its own caret where the input method has it.
        size_t split = 0;
        for (size_t k = 0; k < composingCaret && split < composing.size(); k++) WidgetNextCodePoint(composing, &split);
        caretX = x + std::min(WidgetTextWidth(composing.substr(0, split)), Right() - x);
        int end = WidgetDrawText(c, x, y, composing, WIDGET_SELECT, Right());
        if (end > x) WidgetFill(c, x, y + WIDGET_CELL, end - x, 1, WIDGET_SELECT);
        x = end;
      }
      if (i >= edit.text.size()) break;
      size_t start = i;
      WidgetNextCodePoint(edit.text, &i);
      std::string one = edit.text.substr(start, i - start);
      int w = WidgetTextWidth(one);
      if (x + w > Right()) break;
      bool selected = start >= from && start < to;
      if (selected) WidgetFill(c, x, y - 1, w, WIDGET_CELL + 2, WIDGET_SELECT);
      WidgetDrawText(c, x, y, one, selected ? WIDGET_SELECT_TEXT : WIDGET_TEXT, Right());
      x += w;
    }
    WidgetFill(c, caretX, y, 1, WIDGET_CELL, WIDGET_TEXT);
  }
};

// A key in the field; false when the field has no use for it.
bool FieldKey(Field* f, const SDL_Keysym& key) {
  bool shift = (key.mod & KMOD_SHIFT) != 0, ctrl = (key.mod & KMOD_CTRL) != 0;
  WidgetEdit* e = &f->edit;
  switch (key.sym) {
    case SDLK_BACKSPACE: WidgetEditErase(e, false); return true;
    case SDLK_DELETE: WidgetEditErase(e, true); return true;
    case SDLK_LEFT: WidgetEditMoveCaret(e, EDIT_LEFT, shift); return true;
    case SDLK_RIGHT: WidgetEditMoveCaret(e, EDIT_RIGHT, shift); return true;
    case SDLK_HOME: WidgetEditMoveCaret(e, EDIT_HOME, shift); return true;
    case SDLK_END: WidgetEditMoveCaret(e, EDIT_END, shift); return true;
    default: break;
  }
  if (!ctrl) return false;
  switch (key.sym) {
    case SDLK_a: WidgetEditSelectAll(e); return true;
    case SDLK_c:
      if (e->caret != e->anchor) SDL_SetClipboardText(WidgetEditSelection(*e).c_str());
      return true;
    case SDLK_x:
      if (e->caret != e->anchor) SDL_SetClipboardText(WidgetEditCut(e).c_str());
      return true;
    case SDLK_v:
      if (SDL_HasClipboardText()) {
        char* clip = SDL_GetClipboardText();
        if (clip) WidgetEditInsert(e, clip);
        SDL_free(clip);
      }
      return true;
    default: return false;
  }
}

// The input method's text being composed: a start (or change) of composing replaces the
// selection, as typing does.
void FieldComposing(Field* f, const char* text, int caret) {
  f->composing = text ? text : "";
  f->composingCaret = caret > 0 ? (size_t)caret : 0;
  if (!f->composing.empty() && f->edit.caret != f->edit.anchor) WidgetEditInsert(&f->edit, "");
}

// A mouse event in the box: a press in the field places the caret (Shift extends the selection),
// a drag selects; true when the field changed.
bool FieldMouse(Field* f, const SDL_Event& e) {
  if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT) {
    SDL_Point p{e.button.x, e.button.y};
    if (!SDL_PointInRect(&p, &f->rect)) return false;
    bool shift = (SDL_GetModState() & KMOD_SHIFT) != 0;
    WidgetEditPlaceCaret(&f->edit, f->OffsetAt(e.button.x), shift);
    f->dragging = true;
    return true;
  }
  if (e.type == SDL_MOUSEBUTTONUP && e.button.button == SDL_BUTTON_LEFT) f->dragging = false;
  if (e.type == SDL_MOUSEMOTION && f->dragging) {
    if (!(e.motion.state & SDL_BUTTON_LMASK)) {
      f->dragging = false;
      return false;
    }
    WidgetEditPlaceCaret(&f->edit, f->OffsetAt(e.motion.x), true);
    return true;
  }
  return false;
}

bool TextInputBoxOnMainThread(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                              std::string* out) {
  const int width = 320;
  std::vector<std::string> promptLines = WidgetWrapText(prompt ? prompt : "", width - 24, 6);
  int editY = 14 + (int)promptLines.size() * LINE_HEIGHT + 10;
  Field field;
  field.rect = SDL_Rect{12, editY, width - 24, WIDGET_CELL + 8};
  Button ok{{(width - 80) / 2, editY + field.rect.h + 12, 80, BUTTON_HEIGHT}, WidgetParseLabel("OK")};
  int height = ok.rect.y + BUTTON_HEIGHT + 12;
  SDL_Window* window = OpenBoxWindow(caption, width, height);
  if (!window) return false;
  field.edit.limit = maxLength > 0 ? std::min((size_t)maxLength, TEXT_INPUT_BYTES) : TEXT_INPUT_BYTES;
  WidgetEditInsert(&field.edit, defaultText ? defaultText : "");
  bool done = false;
  auto draw = [&] {
    WidgetCanvas c;
    WidgetResize(&c, width, height, WIDGET_FACE);
    for (size_t i = 0; i < promptLines.size(); i++) {
      int tw = WidgetTextWidth(promptLines[i], width);
      WidgetDrawText(&c, (width - tw) / 2, 14 + (int)i * LINE_HEIGHT, promptLines[i], WIDGET_TEXT, width - 4);
    }
    field.Draw(&c);
    DrawButton(&c, ok, true);
    WidgetPresent(window, c);
    SDL_SetTextInputRect(&field.rect);
  };
  bool wasTyping = SDL_IsTextInputActive();
  // Long texts being composed come whole rather than cut to an event's 32 bytes.
  SDL_SetHint(SDL_HINT_IME_SUPPORT_EXTENDED_TEXT, "1");
  SDL_StartTextInput();
  draw();
  WidgetRunModal([&](const SDL_Event& e) {
    if (!WidgetEventFor(window, e)) return false;
    switch (e.type) {
      case SDL_WINDOWEVENT:
        KeepBoxShape(window, e);
        // The box has no close button of its own: only OK leaves it.
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) draw();
        return true;
      case SDL_TEXTINPUT:
        // The input method's confirm, or a typed character.
        field.composing.clear();
        WidgetEditInsert(&field.edit, e.text.text);
        break;
      case SDL_TEXTEDITING: FieldComposing(&field, e.edit.text, e.edit.start); break;
      case SDL_TEXTEDITING_EXT: FieldComposing(&field, e.editExt.text, e.editExt.start); break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT && !field.dragging && Inside(ok.rect, e.button.x, e.button.y))
          done = true;
        if (!FieldMouse(&field, e)) return true;
        break;
      case SDL_MOUSEBUTTONDOWN:
      case SDL_MOUSEMOTION:
        if (!FieldMouse(&field, e)) return true;
        break;
      case SDL_KEYDOWN:
        if (!field.composing.empty()) return true;   // the input method has these keys
        if (e.key.keysym.sym == SDLK_RETURN || e.key.keysym.sym == SDLK_KP_ENTER) {
          done = true;
          return true;
        }
        if (!FieldKey(&field, e.key.keysym)) return true;
        break;
      default: return true;
    }
    draw();
    return true;
  }, &done);
  if (!wasTyping) SDL_StopTextInput();
  SDL_ResetHint(SDL_HINT_IME_SUPPORT_EXTENDED_TEXT);
  SDL_DestroyWindow(window);
  SDL_PumpEvents();
  *out = field.edit.text;
  return true;
}

}  // namespace

bool WidgetChoiceBox(const char* caption, const char* text, const char* const* labels, int count,
                     int defaultIndex, int cancelIndex, int icon, int* answer) {
  bool shown = false;
  return SdlRunOnMainThread([&] {
    shown = ChoiceBoxOnMainThread(caption, text, labels, count, defaultIndex, cancelIndex, icon, answer);
  }) && shown;
}

bool WidgetTextInputBox(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                        std::string* out) {
  bool shown = false;
  return SdlRunOnMainThread([&] { shown = TextInputBoxOnMainThread(caption, prompt, defaultText, maxLength, out); }) &&
         shown;
}

void SdlQueueTextEditing(const char* utf8, int caret) {
  SDL_Event e{};
  std::string text = utf8 ? utf8 : "";
  // A text too long for the event's own buffer travels in memory of its own, as SDL sends it.
  if (text.size() >= sizeof e.edit.text) {
    e.type = SDL_TEXTEDITING_EXT;
    e.editExt.text = SDL_strdup(text.c_str());
    e.editExt.start = caret;
  } else {
    e.type = SDL_TEXTEDITING;
    SDL_strlcpy(e.edit.text, text.c_str(), sizeof e.edit.text);
    e.edit.start = caret;
  }
  SDL_PushEvent(&e);
}

void SdlQueueTextInput(const char* utf8) {
  SDL_Event e{};
  e.type = SDL_TEXTINPUT;
  SDL_strlcpy(e.text.text, utf8 ? utf8 : "", sizeof e.text.text);
  SDL_PushEvent(&e);
}
