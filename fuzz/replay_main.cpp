// The plain driver of the regression pass: feeds every file of the folders (or the files)
// named on the command line to the target, one after another, in name order. A file ending
// in ".hex" holds the input as hexadecimal digits (whitespace and '#' comments ignored).
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/engine.h"
#include "fuzz/fuzz_support.h"

namespace fs = std::filesystem;

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeHex(const std::string& text, std::string* out) {
  out->clear();
  int high = -1;
  for (size_t i = 0; i < text.size(); i++) {
    char c = text[i];
    if (c == '#') {
      while (i < text.size() && text[i] != '\n') i++;
      continue;
    }
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
    int d = HexDigit(c);
    if (d < 0) return false;
    if (high < 0) {
      high = d;
    } else {
      *out += (char)(high << 4 | d);
      high = -1;
    }
  }
  return high < 0;
}

}  // namespace

int main(int argc, char** argv) {
  // Paths are made absolute first: the engine moves the current folder to its game folder.
  std::vector<fs::path> inputs;
  for (int i = 1; i < argc; i++) {
    std::error_code ec;
    fs::path given = fs::absolute(argv[i], ec);
    if (fs::is_directory(given, ec)) {
      for (const fs::directory_entry& e : fs::directory_iterator(given, ec))
        if (e.is_regular_file()) inputs.push_back(e.path());
    } else if (fs::is_regular_file(given, ec)) {
      inputs.push_back(given);
    }
  }
  std::sort(inputs.begin(), inputs.end());
  int failed = 0;
  for (const fs::path& p : inputs) {
    std::ifstream in(p, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (p.extension() == ".hex") {
      std::string decoded;
      if (!DecodeHex(bytes, &decoded)) {
        fprintf(stderr, "replay: %s: not hexadecimal\n", p.c_str());
        failed++;
        continue;
      }
      bytes.swap(decoded);
    }
    fprintf(stderr, "replay: %s (%zu bytes)\n", p.c_str(), bytes.size());
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    // What the input made the engine say is kept beside it in the test log.
    const char* shown = LastErrorDialogText();
    if (shown && shown[0]) fprintf(stderr, "replay:   last message: %s\n", shown);
  }
  printf("replay: %zu inputs, %d unreadable\n", inputs.size(), failed);
  if (inputs.empty()) {
    fprintf(stderr, "replay: no inputs found\n");
    return 1;
  }
  return failed ? 1 : 0;
}
