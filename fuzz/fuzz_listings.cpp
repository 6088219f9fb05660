// The fixed listings of the fuzz targets (see fuzz_listings.h).
#include "fuzz/fuzz_listings.h"

#include <cstdio>
#include <cstdlib>

#include "layers/layer.h"

const char* const kFuzzMessages =
    "message 100010 \"E100010 %s %s\"\n"
    "message 100030 \"E100030 %s %s\"\n"
    "message 101000 \"E101000 %s %s %lld %d %d\"\n"
    "message 101010 \"E101010 %s %s %lld %d\"\n"
    "message 101020 \"E101020 %s %s %lld\"\n"
    "message 101030 \"E101030 %s %s %lld\"\n"
    "message 101250 \"E101250 %s %s\"\n"
    "message 101600 \"E101600 %s %s %d\"\n"
    "message 102100 \"E102100 %s %s %s\"\n"
    "message 102110 \"E102110 %s %s\"\n"
    "message 102120 \"E102120 %s %s\"\n"
    "message 102140 \"E102140 %s %s %d %s\"\n"
    "message 102150 \"E102150 %s %s\"\n"
    "message 102160 \"E102160 %s %s\"\n"
    "message 102170 \"E102170 %s %s %d\"\n"
    "message 105010 \"E105010 %s\"\n"
    "message 108030 \"E108030\"\n"
    "message 900060 \"E900060\"\n"
    "message 900080 \"E900080\"\n";

const char* const kSaveDataListing = R"(
global int write = 0
global int a[2,3] = 0
global real r[4] = 0
global str t[3] = ""
global int n = 0
file main.txt
*SYSTEM_START
if write == 1
  a[0,0] = -5
  a[1,2] = 0x7FFFFFFFFFFF
  r[3] = 2.5
  r[0] = -0.125
  t[0] = "alpha"
  t[2] = "omega"
  n = 77
  savewrite slot=1 var=ref(a)
  savewrite slot=2 var=ref(r)
  savewrite slot=3 var=ref(t)
  savewrite slot=4 var=t[2]
  savewrite slot=5 var=n
  savewrite slot=6 layer="pic"
  savewrite file="fz"
  write = 0
endif
saveload file="fz" slot=1 var=ref(a)
saveload file="fz" slot=2 var=ref(r)
saveload file="fz" slot=3 var=ref(t)
saveload file="fz" slot=4 var=t[1]
saveload file="fz" slot=5 var=n
saveload file="fz" slot=6 layer="pic"
wait frames=1000
)";

const char* const kTaskStateListing = R"(
global int mode = 0
global int delay = 1
global int steps = 0
global int trace = 0
global str saved = ""
file main.txt
*SYSTEM_START
if mode == 1
  taskstart name="T" label="WORKER"
  wait frames=delay
  taskquery name="T" out=saved state=1
  taskend name="T"
else
  taskstart name="U" label="PARKED" state=saved
endif
wait frames=1000
*PARKED
wait frames=1000
file worker.txt
*WORKER
if 1
  loop 3
    call SUB
    trace += 1
  endloop
endif
wait frames=1000
*SUB
loop 2
  steps += 1
  wait frames=1
endloop
return
)";

AssembledSet AssembleFuzzListing(const std::string& listing) {
  AssembledSet set;
  if (!AssembleListing(std::string(kFuzzMessages) + listing, &set)) {
    fprintf(stderr, "fuzz listing: %s\n", set.error.c_str());
    abort();
  }
  return set;
}

bool AddSaveLayer() {
  NameNode* node = CreateNamedNode(g_LayerRoot, "W0/pic", false, 1);
  LayerRecord* r = node ? AttachNewLayerRecord(node) : nullptr;
  if (!r) return false;
  r->mPixels = AllocImageBuffer(nullptr, 5, 3, nullptr);
  if (!r->mPixels) return false;
  r->mWidth = 5;
  r->mHeight = 3;
  for (int i = 0; i < 5 * 3 * 4; i++) r->mPixels[i] = (uint8_t)(11 + i * 7);
  return true;
}
