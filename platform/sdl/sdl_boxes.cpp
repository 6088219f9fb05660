// The modal boxes the SDL backend draws itself: a message box with up to four buttons and the
// one-line text-input box, both with our own text (so Japanese shows on any X server) and input
// through SDL's text input, so an input method works.
#include <algorithm>

#include "platform/sdl/sdl_driver.h"
#include "platform/sdl/sdl_widgets.h"

namespace {

constexpr int BUTTON_HEIGHT = 24;
constexpr int LINE_HEIGHT = WIDGET_CELL + 2;
constexpr size_t TEXT_INPUT_BYTES = 4095;   // the engine's result buffer holds 4096 bytes

// A box window centred on the main game window (or the first display), owned by it.
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
  SDL_Window* w = SDL_CreateWindow(caption ? caption : "", x, y, width, height, SDL_WINDOW_SHOWN);
  if (!w) return nullptr;
  if (owner) SDL_SetWindowModalFor(w, owner);
  SDL_RaiseWindow(w);
  SDL_SetWindowInputFocus(w);
  return w;
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
                           int defaultIndex, int cancelIndex, int* answer) {
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
  int width = std::max({textWidth + 40, buttonsWidth + 24, 200});
  int height = 20 + (int)lines.size() * LINE_HEIGHT + 20 + BUTTON_HEIGHT + 12;
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
    for (size_t i = 0; i < lines.size(); i++)
      WidgetDrawText(&c, 20, 20 + (int)i * LINE_HEIGHT, lines[i], WIDGET_TEXT, width - 10);
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

// The text of the input box with its caret (a byte offset at a character boundary).
struct EditLine {
  std::string text;
  size_t caret = 0;
  size_t limit = TEXT_INPUT_BYTES;   // in code page 932 bytes, as the engine will store the text

  size_t Cp932Size() const {
    size_t n = 0;
    for (size_t i = 0; i < text.size();) n += (size_t)WidgetCp932Bytes(WidgetNextCodePoint(text, &i));
    return n;
  }
  // Inserts typed or pasted text at the caret, as much as the limit lets in; control characters
  // are dropped.
  void Insert(const std::string& utf8) {
    size_t used = Cp932Size();
    for (size_t i = 0; i < utf8.size();) {
      size_t start = i;
      uint32_t cp = WidgetNextCodePoint(utf8, &i);
      if (cp < 0x20 || cp == 0x7F) continue;
      size_t bytes = (size_t)WidgetCp932Bytes(cp);
      if (used + bytes > limit) break;
      std::string one = cp == '?' && ((uint8_t)utf8[start] & 0x80) ? "?" : utf8.substr(start, i - start);
      text.insert(caret, one);
      caret += one.size();
      used += bytes;
    }
  }
  size_t Previous(size_t at) const {
    if (at == 0) return 0;
    at--;
    while (at > 0 && ((uint8_t)text[at] & 0xC0) == 0x80) at--;
    return at;
  }
  size_t Next(size_t at) const {
    if (at >= text.size()) return text.size();
    WidgetNextCodePoint(text, &at);
    return at;
  }
};

bool TextInputBoxOnMainThread(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                              std::string* out) {
  const int width = 320;
  std::vector<std::string> promptLines = WidgetWrapText(prompt ? prompt : "", width - 24, 6);
  int editY = 14 + (int)promptLines.size() * LINE_HEIGHT + 10;
  SDL_Rect edit{12, editY, width - 24, WIDGET_CELL + 8};
  Button ok{{(width - 80) / 2, editY + edit.h + 12, 80, BUTTON_HEIGHT}, WidgetParseLabel("OK")};
  int height = ok.rect.y + BUTTON_HEIGHT + 12;
  SDL_Window* window = OpenBoxWindow(caption, width, height);
  if (!window) return false;
  EditLine line;
  if (maxLength > 0 && (size_t)maxLength < line.limit) line.limit = (size_t)maxLength;
  line.Insert(defaultText ? defaultText : "");
  std::string composing;   // the input method's text not yet committed
  size_t scroll = 0;       // byte offset of the first shown character
  bool done = false;
  auto draw = [&] {
    WidgetCanvas c;
    WidgetResize(&c, width, height, WIDGET_FACE);
    for (size_t i = 0; i < promptLines.size(); i++) {
      int tw = WidgetTextWidth(promptLines[i], width);
      WidgetDrawText(&c, (width - tw) / 2, 14 + (int)i * LINE_HEIGHT, promptLines[i], WIDGET_TEXT, width - 4);
    }
    WidgetFill(&c, edit.x, edit.y, edit.w, edit.h, WIDGET_LIGHT);
    WidgetFrame(&c, edit.x, edit.y, edit.w, edit.h, WIDGET_EDGE);
    // Scroll so that the caret and the text being composed stay in view.
    int room = edit.w - 8;
    if (scroll > line.caret) scroll = line.caret;
    while (scroll < line.caret &&
           WidgetTextWidth(line.text.substr(scroll, line.caret - scroll) + composing, room + 1) > room - 2)
      scroll = line.Next(scroll);
    int x = edit.x + 4, y = edit.y + 4;
    std::string before = line.text.substr(scroll, line.caret - scroll);
    x = WidgetDrawText(&c, x, y, before, WIDGET_TEXT, edit.x + edit.w - 4);
    if (!composing.empty()) {
      int end = WidgetDrawText(&c, x, y, composing, WIDGET_SELECT, edit.x + edit.w - 4);
      WidgetFill(&c, x, y + WIDGET_CELL, end - x, 1, WIDGET_SELECT);
      x = end;
    }
    WidgetFill(&c, x, y, 1, WIDGET_CELL, WIDGET_TEXT);
    WidgetDrawText(&c, x + 1, y, line.text.substr(line.caret), WIDGET_TEXT, edit.x + edit.w - 4);
    DrawButton(&c, ok, true);
    WidgetPresent(window, c);
    SDL_Rect ime{edit.x, edit.y, edit.w, edit.h};
    SDL_SetTextInputRect(&ime);
  };
  bool wasTyping = SDL_IsTextInputActive();
  SDL_StartTextInput();
  draw();
  WidgetRunModal([&](const SDL_Event& e) {
    if (!WidgetEventFor(window, e)) return false;
    switch (e.type) {
      case SDL_WINDOWEVENT:
        // The box has no close button of its own: only OK leaves it.
        if (e.window.event == SDL_WINDOWEVENT_EXPOSED || e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) draw();
        return true;
      case SDL_TEXTINPUT:
        composing.clear();
        line.Insert(e.text.text);
        break;
      case SDL_TEXTEDITING: composing = e.edit.text; break;
      case SDL_MOUSEBUTTONUP:
        if (e.button.button == SDL_BUTTON_LEFT && Inside(ok.rect, e.button.x, e.button.y)) done = true;
        return true;
      case SDL_KEYDOWN: {
        if (!composing.empty()) return true;   // the input method has these keys
        SDL_Keycode k = e.key.keysym.sym;
        bool ctrl = (e.key.keysym.mod & KMOD_CTRL) != 0;
        if (k == SDLK_RETURN || k == SDLK_KP_ENTER) {
          done = true;
          return true;
        }
        if (k == SDLK_BACKSPACE && line.caret > 0) {
          size_t p = line.Previous(line.caret);
          line.text.erase(p, line.caret - p);
          line.caret = p;
        } else if (k == SDLK_DELETE && line.caret < line.text.size()) {
          line.text.erase(line.caret, line.Next(line.caret) - line.caret);
        } else if (k == SDLK_LEFT) {
          line.caret = line.Previous(line.caret);
        } else if (k == SDLK_RIGHT) {
          line.caret = line.Next(line.caret);
        } else if (k == SDLK_HOME) {
          line.caret = 0;
        } else if (k == SDLK_END) {
          line.caret = line.text.size();
        } else if (ctrl && k == SDLK_v && SDL_HasClipboardText()) {
          char* clip = SDL_GetClipboardText();
          if (clip) line.Insert(clip);
          SDL_free(clip);
        } else {
          return true;
        }
        break;
      }
      default: return true;
    }
    draw();
    return true;
  }, &done);
  if (!wasTyping) SDL_StopTextInput();
  SDL_DestroyWindow(window);
  SDL_PumpEvents();
  *out = line.text;
  return true;
}

}  // namespace

bool WidgetChoiceBox(const char* caption, const char* text, const char* const* labels, int count,
                     int defaultIndex, int cancelIndex, int* answer) {
  bool shown = false;
  return SdlRunOnMainThread([&] {
    shown = ChoiceBoxOnMainThread(caption, text, labels, count, defaultIndex, cancelIndex, answer);
  }) && shown;
}

bool WidgetTextInputBox(const char* caption, const char* prompt, const char* defaultText, int maxLength,
                        std::string* out) {
  bool shown = false;
  return SdlRunOnMainThread([&] { shown = TextInputBoxOnMainThread(caption, prompt, defaultText, maxLength, out); }) &&
         shown;
}
