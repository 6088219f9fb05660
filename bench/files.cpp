// File and pack speed: the index build over 100,000 entries and lookups by name, each against
// std::unordered_map in the same run, zlib entry reads against plain zlib, and the name hash
// against a plain byte loop.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "app/engine.h"
#include "app/format_keys.h"
#include "app/hooks.h"
#include "files/files.h"
#include "platform/platform.h"
#include "script/nametree.h"
#include "tools/lib/pack_writer.h"

namespace {

constexpr int kEntries = 100000;

std::string EntryName(int i) {
  char name[64];
  snprintf(name, sizeof name, "image\\bg%03d\\cg_%06d.png", i % 500, i);
  return name;
}

// A program folder holding one pack of 100,000 entries: small ones and one large zlib entry.
struct PackFolder {
  std::string path;
  std::string large;
  PackFolder() {
    path = (std::filesystem::temp_directory_path() / ("kivor-bench-" + std::to_string(std::random_device{}()))).string();
    std::filesystem::create_directories(path);
    std::vector<PackWriterFile> files;
    for (int i = 0; i < kEntries - 1; i++) {
      PackWriterFile f;
      f.name = EntryName(i);
      f.bytes = "x";
      f.compress = false;
      f.repair = false;
      files.push_back(f);
    }
    // Text-like data that compresses about 4 to 1.
    large.resize(8 << 20);
    uint32_t x = 1;
    for (char& c : large) {
      x = x * 1103515245u + 12345u;
      c = (char)(' ' + ((x >> 16) % 23));
    }
    PackWriterFile big;
    big.name = "large.bin";
    big.bytes = large;
    files.push_back(big);
    std::string error;
    WritePackFile(path + "/data.kpk", files, PackWriterOptions{}, &error);
    PlatformInit("headless");
    FillNameLengthTable(g_NameLengthTable);
    g_ExeFolderReal = path;
    g_ProjectFolderReal = path;
  }
  ~PackFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

PackFolder& Folder() {
  static PackFolder folder;
  return folder;
}

void BM_BuildPackIndex100k(benchmark::State& state) {
  Folder();
  for (auto _ : state) {
    if (BuildPackIndex() != 0) state.SkipWithError("index build failed");
  }
  state.counters["entries"] = g_PackIndex.mCount;
}
BENCHMARK(BM_BuildPackIndex100k)->Unit(benchmark::kMillisecond);

void BM_FindInPacksByName(benchmark::State& state) {
  Folder();
  if (g_PackIndex.mCount == 0) BuildPackIndex();
  std::vector<std::string> names;
  for (int i = 0; i < 4096; i++) names.push_back(EntryName((i * 7919) % (kEntries - 1)));
  size_t i = 0;
  for (auto _ : state) {
    FileLocation loc{};
    benchmark::DoNotOptimize(FindInPacks(&loc, names[i++ & 4095].c_str()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FindInPacksByName);

// CPU time in ms since `start`.
double MsSince(std::clock_t start) { return 1000.0 * (double)(std::clock() - start) / CLOCKS_PER_SEC; }

double MedianOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// The index against std::unordered_map<std::string, int32_t> over the same 100,000 names,
// alternated within each iteration and timed by CPU time. Build: the whole BuildPackIndex
// (folder scan, directory read, unscrambling, duplicate rule, sort) against inserting the
// names, already in memory, into a map sized beforehand. Lookup: 16,384 present names in a
// scattered order, by the text a caller holds, against map.find of the same strings. x_build
// and x_lookup are medians of the per-iteration ratios.
void BM_PackIndexVsUnorderedMap(benchmark::State& state) {
  Folder();
  std::vector<std::string> all;
  for (int i = 0; i < kEntries - 1; i++) all.push_back(EntryName(i));
  std::vector<std::string> wanted;
  for (int i = 0; i < 16384; i++) wanted.push_back(all[(size_t)(((int64_t)i * 7919) % (kEntries - 1))]);
  std::vector<double> builds, lookups, ours, theirs, oursFind, theirsFind;
  for (auto _ : state) {
    std::clock_t start = std::clock();
    if (BuildPackIndex() != 0) return state.SkipWithError("index build failed");
    double ourBuild = MsSince(start);
    start = std::clock();
    std::unordered_map<std::string, int32_t> map;
    map.reserve(all.size());
    for (size_t i = 0; i < all.size(); i++) map.emplace(all[i], (int32_t)i);
    double mapBuild = MsSince(start);
    int64_t found = 0;
    start = std::clock();
    for (int round = 0; round < 4; round++)
      for (const std::string& name : wanted) {
        FileLocation loc{};
        found += FindInPacks(&loc, name.c_str());
      }
    double ourFind = MsSince(start);
    start = std::clock();
    for (int round = 0; round < 4; round++)
      for (const std::string& name : wanted) found += map.find(name)->second;
    double mapFind = MsSince(start);
    benchmark::DoNotOptimize(found);
    ours.push_back(ourBuild);
    theirs.push_back(mapBuild);
    oursFind.push_back(ourFind);
    theirsFind.push_back(mapFind);
    builds.push_back(ourBuild / mapBuild);
    lookups.push_back(ourFind / mapFind);
  }
  double perLookup = 1e6 / (4.0 * (double)wanted.size());
  state.counters["build_ms"] = MedianOf(ours);
  state.counters["map_build_ms"] = MedianOf(theirs);
  state.counters["lookup_ns"] = MedianOf(oursFind) * perLookup;
  state.counters["map_lookup_ns"] = MedianOf(theirsFind) * perLookup;
  state.counters["x_build"] = MedianOf(builds);
  state.counters["x_lookup"] = MedianOf(lookups);
}
BENCHMARK(BM_PackIndexVsUnorderedMap)->Unit(benchmark::kMillisecond)->Iterations(15);

void BM_ReadZlibEntry(benchmark::State& state) {
  PackFolder& folder = Folder();
  if (g_PackIndex.mCount == 0) BuildPackIndex();
  for (auto _ : state) {
    FileLocation loc{};
    if (FindInPacks(&loc, "large.bin") != 2 || ReadPackEntry(&loc, "large.bin") != 0) {
      state.SkipWithError("read failed");
      break;
    }
    free(loc.mData);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)folder.large.size());
}
BENCHMARK(BM_ReadZlibEntry)->Unit(benchmark::kMillisecond);

// The same stream inflated by zlib alone from memory: the ceiling of the entry read.
void BM_PlainUncompress(benchmark::State& state) {
  PackFolder& folder = Folder();
  uLongf room = compressBound((uLong)folder.large.size());
  std::string packed(room, 0);
  compress2((Bytef*)packed.data(), &room, (const Bytef*)folder.large.data(), (uLong)folder.large.size(), 6);
  packed.resize(room);
  std::vector<uint8_t> out(folder.large.size());
  for (auto _ : state) {
    uLongf size = out.size();
    benchmark::DoNotOptimize(uncompress(out.data(), &size, (const Bytef*)packed.data(), (uLong)packed.size()));
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)folder.large.size());
}
BENCHMARK(BM_PlainUncompress)->Unit(benchmark::kMillisecond);

std::string HashInput() {
  std::string s(1 << 16, 0);
  for (size_t i = 0; i < s.size(); i++) s[i] = (char)(i * 31 + 7);
  return s;
}

void BM_NameHash(benchmark::State& state) {
  std::string data = HashInput();
  for (auto _ : state) benchmark::DoNotOptimize(NameHash(data.data(), data.size()));
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
}
BENCHMARK(BM_NameHash);

// A plain byte loop over the same bytes: the floor any hash is measured against.
void BM_PlainByteLoop(benchmark::State& state) {
  std::string data = HashInput();
  for (auto _ : state) {
    uint32_t sum = 0;
    for (unsigned char c : data) sum = sum * 31 + c;
    benchmark::DoNotOptimize(sum);
  }
  state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)data.size());
}
BENCHMARK(BM_PlainByteLoop);

// Short names, as the lookups hash them.
void BM_NameHashShortNames(benchmark::State& state) {
  std::vector<std::string> names;
  for (int i = 0; i < 1024; i++) names.push_back(EntryName(i));
  size_t i = 0;
  for (auto _ : state) {
    const std::string& n = names[i++ & 1023];
    benchmark::DoNotOptimize(NameHash(n.data(), n.size()));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_NameHashShortNames);

}  // namespace

BENCHMARK_MAIN();
