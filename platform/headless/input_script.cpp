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
    } else {
      return fail("the event is one of quit, close, click, key, keydown, keyup");
    }
    std::string extra;
    if (in >> extra) return fail("unexpected text after the event");
    out->push_back(std::move(t));
  }
  return true;
}
