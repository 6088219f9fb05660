// Writes the seed inputs of every fuzz target into OUT/<target>/, made by the project's own
// writers (the format writers of tools/lib, the assembler, the engine's image writers and its
// save command), libpng, libjpeg and libvorbis; fuzz/CMakeLists.txt adds movies made by the
// ffmpeg tool. Usage: write_seeds OUT DEMO_LISTING
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// jpeglib.h needs stdio.h before it.
#include <jpeglib.h>
#include <png.h>
#include <vorbis/vorbisenc.h>

#include "app/engine.h"
#include "files/files.h"
#include "fuzz/fuzz_listings.h"
#include "fuzz/fuzz_support.h"
#include "layers/image_codecs.h"
#include "layers/layer.h"
#include "script/vars.h"
#include "tools/lib/binary_writer.h"
#include "tools/lib/image_formats.h"
#include "tools/lib/movie_writer.h"
#include "tools/lib/pack_writer.h"
#include "tools/lib/program_bundle.h"
#include "tools/lib/title_images.h"
#include "tools/lib/wave_writer.h"

namespace fs = std::filesystem;

// The seed writer runs no target, but links the harness that the save and task-state seeds
// are made with.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t*, size_t) { return 0; }

namespace {

std::string g_Out;

void Seed(const std::string& target, const std::string& name, const std::string& bytes) {
  fs::create_directories(g_Out + "/" + target);
  std::ofstream out(g_Out + "/" + target + "/" + name, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), (std::streamsize)bytes.size());
  if (!out) {
    fprintf(stderr, "write_seeds: cannot write %s/%s\n", target.c_str(), name.c_str());
    exit(1);
  }
}

std::string ReadWhole(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

uint8_t Pattern(int x, int y, int c) { return (uint8_t)(x * 37 + y * 11 + c * 83); }

// ---------------------------------------------------------------------------------------------
// Images.

std::string Bmp(int width, int height, int bits, bool topDown) {
  int paletteCount = bits <= 8 ? 1 << bits : 0;
  uint32_t stride = (uint32_t)((width * bits + 31) / 32 * 4);
  uint32_t offset = 14 + 40 + paletteCount * 4;
  BinaryWriter w;
  w.Bytes("BM");
  w.U32(offset + stride * height);
  w.U32(0);
  w.U32(offset);
  w.U32(40);
  w.U32((uint32_t)width);
  w.U32((uint32_t)(topDown ? -height : height));
  w.U16(1);
  w.U16((uint16_t)bits);
  w.U32(0);
  w.U32(stride * height);
  w.U32(2835);
  w.U32(2835);
  w.U32(0);
  w.U32(0);
  for (int i = 0; i < paletteCount; i++) w.U8(Pattern(i, 0, 0)), w.U8(Pattern(i, 0, 1)), w.U8(Pattern(i, 0, 2)), w.U8(0);
  for (int y = 0; y < height; y++) {
    std::string row(stride, '\0');
    for (int x = 0; x < width; x++) {
      if (bits >= 24) {
        for (int c = 0; c < bits / 8; c++) row[x * bits / 8 + c] = (char)Pattern(x, y, c);
      } else {
        int bit = x * bits;
        row[bit / 8] = (char)(row[bit / 8] | (Pattern(x, y, 0) & ((1 << bits) - 1)) << (8 - bits - bit % 8));
      }
    }
    w.Bytes(row);
  }
  return w.Data();
}

void PngWrite(png_structp png, png_bytep data, png_size_t length) {
  static_cast<std::string*>(png_get_io_ptr(png))->append(reinterpret_cast<const char*>(data), length);
}

void PngFlush(png_structp) {}

std::string Png(int width, int height, int colourType, int depth, bool interlaced, bool transparency) {
  std::string out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    fprintf(stderr, "write_seeds: libpng failed\n");
    exit(1);
  }
  png_set_write_fn(png, &out, PngWrite, PngFlush);
  png_set_IHDR(png, info, width, height, depth, colourType, interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_gAMA(png, info, 1 / 2.2);
  if (colourType == PNG_COLOR_TYPE_PALETTE) {
    png_color palette[16];
    for (int i = 0; i < 16; i++) palette[i] = {Pattern(i, 1, 0), Pattern(i, 1, 1), Pattern(i, 1, 2)};
    png_set_PLTE(png, info, palette, 16);
    if (transparency) {
      png_byte alpha[4] = {0, 64, 128, 255};
      png_set_tRNS(png, info, alpha, 4, nullptr);
    }
  } else if (transparency) {
    png_color_16 key{};
    key.gray = 3;
    key.red = key.green = key.blue = 3;
    png_set_tRNS(png, info, nullptr, 0, &key);
  }
  png_write_info(png, info);
  int channels = colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 4 : colourType == PNG_COLOR_TYPE_RGB ? 3
               : colourType == PNG_COLOR_TYPE_GRAY_ALPHA ? 2 : 1;
  size_t rowBytes = ((size_t)width * channels * depth + 7) / 8;
  std::vector<std::vector<png_byte>> rows(height, std::vector<png_byte>(rowBytes));
  for (int y = 0; y < height; y++)
    for (size_t i = 0; i < rowBytes; i++) rows[y][i] = colourType == PNG_COLOR_TYPE_PALETTE ? (png_byte)((i + y) % 16 * (depth == 8 ? 1 : 0x11)) : Pattern((int)i, y, 0);
  std::vector<png_bytep> pointers;
  for (auto& r : rows) pointers.push_back(r.data());
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

std::string Jpeg(int width, int height, bool grey, bool progressive, int restart, bool subsampled, int quality = 85) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = width;
  c.image_height = height;
  c.input_components = grey ? 1 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, quality, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  c.restart_interval = restart;
  if (!grey && !subsampled)
    for (int i = 0; i < 3; i++) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  jpeg_start_compress(&c, TRUE);
  std::vector<JSAMPLE> row((size_t)width * c.input_components);
  while (c.next_scanline < c.image_height) {
    for (int x = 0; x < width * c.input_components; x++) row[x] = Pattern(x, c.next_scanline, 0);
    JSAMPROW p = row.data();
    jpeg_write_scanlines(&c, &p, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::string out(reinterpret_cast<const char*>(buffer), size);
  free(buffer);
  return out;
}

std::string BgraPixels(int width, int height) {
  std::string pixels((size_t)width * height * 4, '\0');
  for (int y = 0; y < height; y++)
    for (int x = 0; x < width; x++)
      for (int c = 0; c < 4; c++) pixels[((size_t)y * width + x) * 4 + c] = (char)Pattern(x, y, c);
  return pixels;
}

GifImageSpec GifImage(int left, int top, int width, int height, int colours) {
  GifImageSpec image;
  image.left = left, image.top = top, image.width = width, image.height = height;
  for (int i = 0; i < width * height; i++) image.indexes.push_back((uint8_t)(i * 7 % colours));
  return image;
}

std::vector<uint8_t> GifPalette(int colours) {
  std::vector<uint8_t> palette;
  for (int i = 0; i < colours * 3; i++) palette.push_back(Pattern(i, 2, 0));
  return palette;
}

void ImageSeeds() {
  Seed("bmp", "title.bmp", MakeBmp24(32, 16, [](int x, int y, uint8_t bgr[3]) { TitlePixel(0, x, y, bgr); }));
  const struct { int bits; bool topDown; int width, height; } bmps[] = {
      {1, false, 13, 5}, {4, false, 9, 7}, {8, false, 17, 3}, {24, true, 6, 6}, {32, false, 5, 4}};
  for (const auto& b : bmps)
    Seed("bmp", "bits" + std::to_string(b.bits) + (b.topDown ? "_topdown" : "") + ".bmp", Bmp(b.width, b.height, b.bits, b.topDown));

  const struct { const char* name; int type, depth; bool interlaced, transparency; } pngs[] = {
      {"rgba8", PNG_COLOR_TYPE_RGB_ALPHA, 8, false, false}, {"rgb8_key", PNG_COLOR_TYPE_RGB, 8, false, true},
      {"rgba16_adam7", PNG_COLOR_TYPE_RGB_ALPHA, 16, true, false}, {"palette4_trns", PNG_COLOR_TYPE_PALETTE, 4, false, true},
      {"palette8_adam7", PNG_COLOR_TYPE_PALETTE, 8, true, false}, {"grey16", PNG_COLOR_TYPE_GRAY, 16, false, true},
      {"grey_alpha8", PNG_COLOR_TYPE_GRAY_ALPHA, 8, true, false}, {"grey1", PNG_COLOR_TYPE_GRAY, 1, false, false}};
  for (const auto& p : pngs) Seed("png", std::string(p.name) + ".png", Png(11, 7, p.type, p.depth, p.interlaced, p.transparency));

  Seed("jpeg", "colour420.jpg", Jpeg(19, 13, false, false, 0, true));
  Seed("jpeg", "colour444_restart.jpg", Jpeg(24, 8, false, false, 1, false));
  Seed("jpeg", "progressive.jpg", Jpeg(16, 16, false, true, 0, true));
  Seed("jpeg", "grey.jpg", Jpeg(9, 21, true, false, 0, false));
  Seed("jpeg", "grey_progressive.jpg", Jpeg(8, 8, true, true, 2, false, 100));

  GifSpec one;
  one.screenWidth = 12, one.screenHeight = 9;
  one.globalPalette = GifPalette(16);
  one.images.push_back(GifImage(0, 0, 12, 9, 16));
  Seed("gif", "one.gif", MakeGif(one));
  GifSpec frames;
  frames.screenWidth = 20, frames.screenHeight = 10;
  frames.globalPalette = GifPalette(4);
  frames.extraBlocks = std::string("\x21\xFF\x0BNETSCAPE2.0\x03\x01\x00\x00\x00", 19);
  GifImageSpec a = GifImage(2, 1, 8, 6, 4);
  a.hasControl = true, a.transparent = true, a.transparentIndex = 1;
  GifImageSpec b = GifImage(10, 3, 9, 7, 32);
  b.interlaced = true, b.localPalette = GifPalette(32), b.minCodeSize = 9;
  GifImageSpec c = GifImage(0, 0, 20, 10, 4);
  c.hasControl = true, c.minCodeSize = 11;
  frames.images = {a, b, c};
  Seed("gif", "frames.gif", MakeGif(frames));
  GifSpec cut = one;
  cut.trailer = false;
  Seed("gif", "no_trailer.gif", MakeGif(cut));

  Seed("kcg", "raw.kcg", MakeKcg(7, 5, BgraPixels(7, 5), false));
  Seed("kcg", "zlib.kcg", MakeKcg(16, 9, BgraPixels(16, 9), true));
  Seed("kcg", "zlib_split.kcg", MakeKcg(5, 5, BgraPixels(5, 5), true, 13));

  std::vector<FrameSetEntry> plain, masked;
  for (int i = 0; i < 3; i++) plain.push_back({Jpeg(8 + 4 * i, 6, false, false, 0, true), ""});
  for (int i = 0; i < 2; i++) masked.push_back({Jpeg(10, 10 - 2 * i, false, i == 1, 0, true), Jpeg(10, 10 - 2 * i, true, false, 0, false)});
  Seed("frameset", "plain.fs", MakeFrameSet(plain, false, 11, 22, 33));
  Seed("frameset", "masked.fs", MakeFrameSet(masked, true, 1, 2, 3));
}

// ---------------------------------------------------------------------------------------------
// Sounds.

std::string Tone(int frames, int channels, int bits) {
  std::string data;
  for (int i = 0; i < frames; i++)
    for (int c = 0; c < channels; c++) {
      double v = std::sin(i * 0.05 * (c + 1)) * 0.5;
      if (bits == 8) data += (char)(uint8_t)(128 + v * 127);
      else if (bits == 16) data += Pcm16({(int16_t)(v * 32767)});
      else {
        float f = (float)v;
        data.append(reinterpret_cast<const char*>(&f), 4);
      }
    }
  return data;
}

std::string Vorbis(int channels, int rate, int frames) {
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, 0.1f) != 0) {
    fprintf(stderr, "write_seeds: vorbis encoder refused\n");
    exit(1);
  }
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_block vb;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 1);
  std::string out;
  ogg_page page;
  ogg_packet header, comments, codebooks;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &codebooks);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &codebooks);
  auto take = [&](ogg_page& p) {
    out.append(reinterpret_cast<const char*>(p.header), p.header_len);
    out.append(reinterpret_cast<const char*>(p.body), p.body_len);
  };
  while (ogg_stream_flush(&os, &page)) take(page);
  int done = 0;
  bool eos = false;
  while (!eos) {
    int n = frames - done < 1024 ? frames - done : 1024;
    if (n > 0) {
      float** buffer = vorbis_analysis_buffer(&vd, n);
      for (int i = 0; i < n; i++)
        for (int c = 0; c < channels; c++) buffer[c][i] = (float)(std::sin((done + i) * 0.03 * (c + 1)) * 0.4);
      vorbis_analysis_wrote(&vd, n);
      done += n;
    } else {
      vorbis_analysis_wrote(&vd, 0);
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet)) {
        ogg_stream_packetin(&os, &packet);
        while (ogg_stream_pageout(&os, &page)) {
          take(page);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return out;
}

void SoundSeeds() {
  Seed("wav", "mono8.wav", WaveFile(1, 1, 8000, 8, Tone(4000, 1, 8)));
  Seed("wav", "stereo16.wav", WaveFile(1, 2, 22050, 16, Tone(11025, 2, 16)));
  Seed("wav", "float32.wav", WaveFile(3, 1, 11025, 32, Tone(3000, 1, 32), 18));
  Seed("wav", "mulaw.wav", WaveFile(7, 1, 8000, 8, Tone(3000, 1, 8), 18));
  Seed("wav", "pcm24.wav", WaveFile(1, 2, 8000, 24, std::string(6 * 2000, '\x21')));
  Seed("ogg", "mono.ogg", Vorbis(1, 11025, 12000));
  Seed("ogg", "stereo.ogg", Vorbis(2, 22050, 30000));
}

// ---------------------------------------------------------------------------------------------
// Packs, the appended block and settings.

std::string Pack(const std::vector<PackWriterFile>& files, uint32_t version = 480) {
  PackWriterOptions options;
  options.version = version;
  std::string error;
  std::string bytes = BuildPack(files, options, nullptr, &error);
  if (bytes.empty()) {
    fprintf(stderr, "write_seeds: %s\n", error.c_str());
    exit(1);
  }
  return bytes;
}

PackWriterFile Entry(const std::string& name, const std::string& bytes, bool compress, bool repair) {
  PackWriterFile f;
  f.name = name, f.bytes = bytes, f.compress = compress, f.repair = repair;
  return f;
}

void PackSeeds() {
  std::string text(3000, 'k');
  for (size_t i = 0; i < text.size(); i++) text[i] = (char)('a' + i * 7 % 26);
  std::string data = Pack({Entry("kvbin/kvc.kbn", text, true, true), Entry("image/title.bmp", Bmp(4, 4, 24, false), false, true),
                           Entry("sound/click.wav", WaveFile(1, 1, 8000, 8, Tone(100, 1, 8)), true, false),
                           Entry("readme.txt", "", false, false)});
  Seed("pack", "one", FuzzJoinFiles({{"data.kpk", data}}));
  std::string update = Pack({Entry("image/title.bmp", Bmp(2, 2, 24, true), true, true)});
  Seed("pack", "update", FuzzJoinFiles({{"data.kpk", data}, {"update1.kpk", update}}));
  Seed("pack", "old_version", FuzzJoinFiles({{"old.kpk", Pack({Entry("a.txt", "abc", true, true)}, 234)}}));

  std::string program = "\x7F" "ELF fuzz program bytes";
  std::string small = Pack({Entry("kvbin/kvt.kbn", "12345678", true, true)});
  for (const auto& [name, image] : {std::pair<std::string, std::string>{"pack", ""}, {"pack_saver", Bmp(3, 2, 24, false)}}) {
    std::string block = BuildAppendedBlock(small, image);
    BinaryWriter w;
    w.U32((uint32_t)program.size());
    w.Bytes(program);
    w.Bytes(block);
    Seed("appended", name, w.Data());
  }
  BinaryWriter none;
  none.U32(4);
  none.Bytes(program);
  Seed("appended", "nothing_appended", none.Data());

  BinaryWriter words;
  const uint32_t values[32] = {1, 1, 1, 0, 1, 0, 1, 3, 2, 1, 0, 0, 21, 0, 0, 1};
  for (uint32_t v : values) words.U32(v);
  BinaryWriter location;
  for (int i = 0; i < 32; i++) location.U32(i == 21 ? 2 : 0);
  Seed("settings", "both", words.Data() + location.Data());
  Seed("settings", "short", words.Data().substr(0, 12));
}

// ---------------------------------------------------------------------------------------------
// Script sets, save data and task states.

const char* const kExpressionListing = R"(
config width=320 height=240 title="fuzz" show=1 debug=0 sound=0
global int i = 0
global int total = 0
global int grid[3,4] = 7
global real x = 1.5
global str name = "abc"
global str parts[4] = ""
global int counter@48 = 0
global int arg@50[17] = 0
global int ret@54[17] = 0
file main.txt
local int k = 3
*SYSTEM_START
total = (5 + 3) * 2 - 7 / 3 % 2 | 0x10 & 0xFF ^ 3
x = x * 2.25 - total / 4.0
name = name + str(total) + "\\n" + str(x)
i = num("42") + grid[2,3]
if total > 10 && i != 0 || k == 3
  parts[1] = "yes"
elseif total < 0
  parts[1] = "no"
else
  parts[1] = "maybe"
endif
loop 4
  i += 1
  if i % 2 == 0
    continue
  endif
  grid[i % 3, i % 4] = i * i
endloop
call SUB i, x, name
loop 3
  total += counter * 2 + ret[1] - grid[counter % 3, 1]
  call ADD counter
endloop
taskstart name="W" label="WORKER" priority=2
layer name="box" file="" width=16 height=8 x=3 y=4 priority=1 visible=1 opacity=128 blend=3
layerquery name="box" out=grid[0,0] width=1
math out=x x=2.0 y=0.5 pow=1
varutil a=ref(parts) size=1
dim str more[2] = "x"
dim int local[3] = -1
wait frames=1
jump (("END"))
*SUB
return 1, 2.0, "r"
*ADD
return arg[1] + arg[0] * 3
*WORKER
loop 3
  total += 1
  wait frames=1
endloop
taskend name="W"
*END
messageend 1, 2
wait frames=1000
)";

// Calls in loops between two files, nested, with a task whose state is taken mid-call and
// resumed by another.
const char* const kCallListing = R"(
config width=320 height=240 title="fuzz" show=1 debug=0 sound=0
global int i = 0
global int total = 0
global int depth = 0
global str state = ""
global int arg@50[17] = 0
global int ret@54[17] = 0
file main.txt
*SYSTEM_START
taskstart name="W" label="WORKER"
loop 50
  call MIX i, total
  total = ret[1]
  call OUTER i
  total += ret[1]
  i += 1
endloop
wait frames=2
taskquery name="W" out=depth calls=1
taskquery name="W" out=state state=1
taskend name="W"
taskstart name="V" label="WORKER" state=state
*IDLE
wait frames=1
jump IDLE
*INNER
return arg[1] % 1000
*WORKER
loop 4
  call STEP i, 3
  total += ret[1]
endloop
*PARK
wait frames=1
jump PARK
file library.txt
*MIX
return (arg[1] * 7 + arg[2]) % 100003
*OUTER
call INNER arg[1] + 1
return ret[1] * 2
*STEP
wait frames=1
return arg[1] * 2 + arg[2]
)";

void ScriptSeeds(const std::string& demoListing) {
  for (const auto& [name, listing] : {std::pair<std::string, std::string>{"expressions", kExpressionListing},
                                      {"calls", kCallListing},
                                      {"demo", ReadWhole(demoListing)}}) {
    AssembledSet set;
    if (listing.empty() || !AssembleListing(listing, &set)) {
      fprintf(stderr, "write_seeds: listing %s: %s\n", name.c_str(), set.error.c_str());
      exit(1);
    }
    std::vector<FuzzFile> files;
    for (const auto& [file, bytes] : set.files) files.push_back({file, bytes});
    Seed("script", name, FuzzJoinFiles(files));
  }
}

// The assembler's seeds are the project's listings as their authors write them, in UTF-8.
void KvasmSeeds(const std::string& demoListing) {
  Seed("kvasm", "demo.txt", ReadWhole(demoListing));
  Seed("kvasm", "expressions.txt", kExpressionListing);
  Seed("kvasm", "savedata.txt", std::string(kFuzzMessages) + kSaveDataListing);
  Seed("kvasm", "taskstate.txt", std::string(kFuzzMessages) + kTaskStateListing);
}

std::vector<FuzzFile> SetFiles(const AssembledSet& set) {
  std::vector<FuzzFile> files;
  for (const auto& [name, bytes] : set.files) files.push_back({name, bytes});
  return files;
}

void SaveDataSeeds() {
  AssembledSet set = AssembleFuzzListing(kSaveDataListing);
  FuzzUseMemoryFiles(SetFiles(set));
  FuzzRemoveFile("save/fz.sd");
  if (!FuzzBootScripts() || !AddSaveLayer() || StoreIntElement(set.variables.at("write"), 0, 1) != 0) {
    fprintf(stderr, "write_seeds: the save listing did not boot: %s\n", LastErrorDialogText());
    exit(1);
  }
  FuzzRunPasses(1);
  FuzzEndScripts();
  std::string saved = ReadWhole(FuzzFolder() + "/save/fz.sd");
  if (saved.empty()) {
    fprintf(stderr, "write_seeds: no save file written: %s\n", LastErrorDialogText());
    exit(1);
  }
  Seed("savedata", "slots.sd", saved);
}

void TaskStateSeeds() {
  AssembledSet set = AssembleFuzzListing(kTaskStateListing);
  for (int delay = 1; delay <= 4; delay++) {
    FuzzUseMemoryFiles(SetFiles(set));
    if (!FuzzBootScripts() || StoreIntElement(set.variables.at("mode"), 0, 1) != 0 ||
        StoreIntElement(set.variables.at("delay"), 0, delay) != 0) {
      fprintf(stderr, "write_seeds: the task-state listing did not boot\n");
      exit(1);
    }
    FuzzRunPasses(delay + 2);
    const char* state = ReadStringElement(set.variables.at("saved"), 0);
    std::string text = state ? state : "";
    FuzzEndScripts();
    if (text.empty()) {
      fprintf(stderr, "write_seeds: no task state taken: %s\n", LastErrorDialogText());
      exit(1);
    }
    Seed("taskstate", "after" + std::to_string(delay), text);
  }
  FuzzUseMemoryFiles({});
}

// Movies of uncompressed pictures at ordinary and hostile rates, a header claiming more than
// a game can show, and lists that name other files, among them the input itself (the target
// writes every input to "fuzz.mpg").
void MovieSeeds() {
  Seed("movie", "raw.avi", RawAviMovie(32, 16, 1, 25, 6));
  Seed("movie", "odd_size.avi", RawAviMovie(7, 5, 1, 10, 3));
  Seed("movie", "zero_rate.avi", RawAviMovie(8, 8, 0, 0, 3));
  Seed("movie", "slow_rate.avi", RawAviMovie(16, 8, 100000, 1, 2));
  Seed("movie", "wide_header.avi", RawAviMovie(8193, 16, 1, 25, 0));
  Seed("movie", "concat_list", "ffconcat version 1.0\nfile fuzz.mpg\n");
  Seed("movie", "playlist", "#EXTM3U\n#EXT-X-TARGETDURATION:2\n#EXTINF:1.0,\nfuzz.mpg\n#EXT-X-ENDLIST\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: write_seeds OUT_FOLDER DEMO_LISTING\n");
    return 2;
  }
  g_Out = argv[1];
  FuzzStart();
  ImageSeeds();
  SoundSeeds();
  PackSeeds();
  ScriptSeeds(argv[2]);
  KvasmSeeds(argv[2]);
  SaveDataSeeds();
  TaskStateSeeds();
  MovieSeeds();
  return 0;
}
