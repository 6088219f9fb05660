// The icon theme lookup: a theme's index.theme names its folders with the sizes they hold; the
// folder that holds the icon at the asked size wins, else the one nearest it; then the themes
// it inherits, then hicolor. Pictures are PNG files read with libpng.
#include <png.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "platform/icon_theme.h"
#include "platform/platform.h"

namespace {

constexpr size_t MAX_INDEX_BYTES = 1 << 20;   // a theme's index.theme; real ones are a few KB
constexpr int MAX_INHERIT_DEPTH = 8;
constexpr int MAX_ICON_SIDE = 1024;

struct IconFolder {
  std::string path;   // relative to the theme folder
  int size = 0, minSize = 0, maxSize = 0, threshold = 2;
  enum { FIXED, SCALABLE, THRESHOLD } type = THRESHOLD;
};

struct Theme {
  std::vector<std::string> roots;   // every base folder that holds a folder of this theme
  std::vector<IconFolder> folders;
  std::vector<std::string> inherits;
};

std::vector<std::string> SplitList(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream in(text);
  std::string part;
  while (std::getline(in, part, separator)) {
    while (!part.empty() && (part.back() == ' ' || part.back() == '\r')) part.pop_back();
    size_t first = part.find_first_not_of(' ');
    if (first != std::string::npos && !part.empty()) parts.push_back(part.substr(first));
  }
  return parts;
}

int Number(const std::string& text, int fallback) {
  char* end = nullptr;
  long v = strtol(text.c_str(), &end, 10);
  if (end == text.c_str() || v < 0 || v > 65536) return fallback;
  return (int)v;
}

// The base folders icon themes live in, in the order they are searched.
std::vector<std::string> IconBases() {
  std::vector<std::string> bases;
  const char* home = getenv("XDG_DATA_HOME");
  if (home && home[0] == '/') bases.push_back(std::string(home) + "/icons");
  else if (const char* h = getenv("HOME")) bases.push_back(std::string(h) + "/.local/share/icons");
  const char* dirs = getenv("XDG_DATA_DIRS");
  for (const std::string& d : SplitList(dirs && dirs[0] ? dirs : "/usr/local/share:/usr/share", ':'))
    if (d[0] == '/') bases.push_back(d + "/icons");
  return bases;
}

// Reads a theme's index (the first base folder that has one); false when no base has it.
bool LoadTheme(const std::string& name, Theme* theme) {
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return false;
  std::string index;
  for (const std::string& base : IconBases()) {
    std::string folder = base + "/" + name;
    if (!PlatFolderExists(folder)) continue;
    theme->roots.push_back(folder);
    if (!index.empty()) continue;
    std::ifstream in(folder + "/index.theme", std::ios::binary);
    if (!in) continue;
    index.resize(MAX_INDEX_BYTES);
    in.read(&index[0], (std::streamsize)index.size());
    index.resize((size_t)in.gcount());
  }
  if (index.empty()) return false;
  std::map<std::string, std::map<std::string, std::string>> sections;
  std::string section;
  for (const std::string& line : SplitList(index, '\n')) {
    if (line[0] == '#') continue;
    if (line[0] == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      continue;
    }
    size_t eq = line.find('=');
    if (eq == std::string::npos) continue;
    std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    while (!key.empty() && key.back() == ' ') key.pop_back();
    size_t start = value.find_first_not_of(' ');
    sections[section][key] = start == std::string::npos ? "" : value.substr(start);
  }
  auto& head = sections["Icon Theme"];
  theme->inherits = SplitList(head["Inherits"], ',');
  for (const std::string& path : SplitList(head["Directories"], ',')) {
    auto found = sections.find(path);
    if (found == sections.end() || path.find("..") != std::string::npos) continue;
    auto& keys = found->second;
    if (Number(keys["Scale"], 1) != 1) continue;   // pictures for doubled screens
    IconFolder f;
    f.path = path;
    f.size = Number(keys["Size"], 0);
    if (f.size <= 0) continue;
    f.minSize = Number(keys["MinSize"], f.size);
    f.maxSize = Number(keys["MaxSize"], f.size);
    f.threshold = Number(keys["Threshold"], 2);
    const std::string& type = keys["Type"];
    f.type = type == "Fixed" ? IconFolder::FIXED : type == "Scalable" ? IconFolder::SCALABLE : IconFolder::THRESHOLD;
    theme->folders.push_back(f);
  }
  return true;
}

// How far a folder's sizes lie from the asked size (0: it matches).
int SizeDistance(const IconFolder& f, int size) {
  switch (f.type) {
    case IconFolder::FIXED: return abs(f.size - size);
    case IconFolder::SCALABLE:
      if (size < f.minSize) return f.minSize - size;
      return size > f.maxSize ? size - f.maxSize : 0;
    default:
      if (size < f.size - f.threshold) return f.minSize - size;
      return size > f.size + f.threshold ? size - f.maxSize : 0;
  }
}

// The file of the icon in a theme nearest the size, "" when the theme lacks it.
std::string FindInTheme(const Theme& theme, const std::string& name, int size) {
  std::string best;
  int bestDistance = INT_MAX;
  for (const IconFolder& f : theme.folders) {
    int distance = SizeDistance(f, size);
    if (distance >= bestDistance) continue;
    for (const std::string& root : theme.roots) {
      std::string file = root + "/" + f.path + "/" + name + ".png";
      if (!PlatFileExists(file)) continue;
      best = file;
      bestDistance = distance;
      break;
    }
    if (bestDistance == 0) break;
  }
  return best;
}

std::string FindIcon(const std::string& themeName, const std::string& name, int size, int depth,
                     std::vector<std::string>* seen) {
  if (depth > MAX_INHERIT_DEPTH || std::find(seen->begin(), seen->end(), themeName) != seen->end()) return "";
  seen->push_back(themeName);
  Theme theme;
  if (!LoadTheme(themeName, &theme)) return "";
  std::string file = FindInTheme(theme, name, size);
  for (size_t i = 0; file.empty() && i < theme.inherits.size(); i++)
    file = FindIcon(theme.inherits[i], name, size, depth + 1, seen);
  return file;
}

bool ReadPng(const std::string& file, PlatIcon* out) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, file.c_str())) return false;
  if (image.width == 0 || image.height == 0 || image.width > MAX_ICON_SIDE || image.height > MAX_ICON_SIDE) {
    png_image_free(&image);
    return false;
  }
  // B, G, R, A bytes are 0xAARRGGBB words on this little-endian machine.
  image.format = PNG_FORMAT_BGRA;
  std::vector<uint32_t> pixels((size_t)image.width * image.height);
  if (!png_image_finish_read(&image, nullptr, pixels.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  out->width = (int)image.width;
  out->height = (int)image.height;
  out->argb.swap(pixels);
  return true;
}

}  // namespace

bool PlatLoadThemeIcon(const char* name, int size, PlatIcon* out) {
  if (!name || !name[0] || strchr(name, '/') || size <= 0) return false;
  std::string file;
  for (const char* theme : {"Adwaita", "hicolor"}) {
    std::vector<std::string> seen;
    file = FindIcon(theme, name, size, 0, &seen);
    if (!file.empty()) break;
  }
  return !file.empty() && ReadPng(file, out);
}
