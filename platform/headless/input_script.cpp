// Reads the headless backend's timed input scripts: one event a line, turned into the events
// PollEvent hands out once the clock reaches each line's time.
#include <cstdlib>
#include <sstream>
#include <vector>

#include "platform/headless/headless.h"

namespace {

bool ReadInt(std::istringstream& in, long lo, long hi, int* out) {
  long v;
  if (!(in >> v) || v < lo || v > hi) return false;
  *out = static_cast<int>(v);
  return true;
}

PlatEventRecord Event(PlatEventType type, int window) {
  PlatEventRecord e{};
  e.type = type;
  e.window = window;
  return e;
}

}  // namespace

bool HeadlessParseInputScript(const std::string& text, std::vector<HeadlessTimedEvent>* out, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  int number = 0;
  uint32_t last = 0;
  while (std::getline(lines, line)) {
    number++;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    // A text line keeps the rest of its line as typed, '#' and all.
    std::string typed;
    {
      std::istringstream head(line);
      std::string time, kind;
      if (head >> time >> kind && kind == "text") {
        head.get();
        std::getline(head, typed);
        line.resize(line.size() - typed.size());
      }
    }
    size_t hash = line.find('#');
    if (hash != std::string::npos) line.resize(hash);
    std::istringstream in(line);
    std::string first;
    if (!(in >> first)) continue;
    auto fail = [&](const char* what) {
      *error = "line " + std::to_string(number) + ": " + what;
      return false;
    };
    char* end = nullptr;
    unsigned long at = strtoul(first.c_str(), &end, 10);
    if (*end || first[0] == '-' || at > 0x7FFFFFFFul) return fail("a time in milliseconds comes first");
    if (at < last) return fail("times must not go backwards");
    last = static_cast<uint32_t>(at);
    std::string kind;
    in >> kind;
    int window = 0;
    HeadlessTimedEvent t{last, {}};
    if (kind == "quit") {
      t.events.push_back(Event(PLAT_EVENT_QUIT, -1));
    } else if (kind == "close") {
      if (!ReadInt(in, 0, 3, &window)) return fail("close takes a window slot 0-3");
      t.events.push_back(Event(PLAT_EVENT_CLOSE, window));
    } else if (kind == "click") {
      int x, y;
      if (!ReadInt(in, 0, 3, &window) || !ReadInt(in, -32768, 32767, &x) || !ReadInt(in, -32768, 32767, &y))
        return fail("click takes a window slot 0-3 and client X Y");
      for (PlatEventType type : {PLAT_EVENT_MOUSE_MOVE, PLAT_EVENT_MOUSE_DOWN, PLAT_EVENT_MOUSE_UP}) {
        PlatEventRecord e = Event(type, window);
        e.x = x;
        e.y = y;
        e.clicks = 1;
        t.events.push_back(e);
      }
    } else if (kind == "key" || kind == "keydown" || kind == "keyup") {
      int code;
      if (!ReadInt(in, 0, 3, &window) || !ReadInt(in, 1, 255, &code)) return fail("a key event takes a window slot 0-3 and a key code 1-255");
      std::vector<PlatEventType> types;
      if (kind != "keyup") types.push_back(PLAT_EVENT_KEY_DOWN);
      if (kind != "keydown") types.push_back(PLAT_EVENT_KEY_UP);
      for (PlatEventType type : types) {
        PlatEventRecord e = Event(type, window);
        e.key = code;
        t.events.push_back(e);
      }
    } else if (kind == "text") {
      t.kind = HeadlessTimedEvent::TEXT_ANSWER;
      t.text = typed;
    } else if (kind == "button") {
      if (!ReadInt(in, 1, 4, &t.number)) return fail("button takes the button's place in the box, 1-4");
      t.number--;
      t.kind = HeadlessTimedEvent::BUTTON_ANSWER;
    } else if (kind == "shot") {
      if (!ReadInt(in, 0, 3, &t.number)) return fail("shot takes a window slot 0-3 and a file name");
      // The name is the rest of the line, so it may hold spaces.
      std::getline(in, t.text);
      t.text.erase(0, t.text.find_first_not_of(" \t"));
      t.text.erase(t.text.find_last_not_of(" \t") + 1);
      if (t.text.empty()) return fail("shot takes a window slot 0-3 and a file name");
      t.kind = HeadlessTimedEvent::SHOT;
    } else {
      return fail("the event is one of quit, close, click, key, keydown, keyup, text, button, shot");
    }
    std::string extra;
    if (in >> extra) return fail("unexpected text after the event");
    out->push_back(std::move(t));
  }
  return true;
}
