// The .kcg decoder: the engine's own raw B, G, R, A format, stored plain or as two zlib parts
// that two pixel workers can inflate at once.
#include <cstring>

#include <zlib.h>

#include "app/engine.h"
#include "app/workers.h"
#include "layers/image_codecs.h"

namespace {

// Workers 0 and 1 each record here whether their half inflated; the submitter reads both once
// the pool reports the two jobs done.
bool g_HalfInflated[2];

// The most bytes a zlib stream inflates to per stored byte (deflate's longest match, 258
// bytes, coded in two bits at best).
constexpr uint64_t kZlibMostExpansion = 1032;

// Words 6-9: part 1 size, part 1 stored size, part 2 size, part 2 stored size; word 14 the
// image, word 15 the file image. The sizes were checked against both before submission.
void JobUncompressHalves(WorkerJob* job) {
  int32_t half = job->mWord0;
  if (half < 0 || half > 1) return;
  uint32_t part1Size = (uint32_t)job->mWord6, part1Stored = (uint32_t)job->mWord7;
  uint32_t part2Size = (uint32_t)job->mWord8, part2Stored = (uint32_t)job->mWord9;
  const uint8_t* payload = job->mWord15 + KCG_HEADER_BYTES;
  g_HalfInflated[half] = half == 0 ? InflateKcgPart(job->mWord14, part1Size, payload, part1Stored)
                                   : InflateKcgPart(job->mWord14 + part1Size, part2Size, payload + part1Stored, part2Stored);
}

}  // namespace

bool ParseKcgHeader(const uint8_t* data, size_t size, KcgHeader* header) {
  if (size < KCG_HEADER_BYTES) return false;
  memcpy(header->mMagic, data, 4);
  header->mWidth = (int32_t)ReadLe32(data + 4);
  header->mHeight = (int32_t)ReadLe32(data + 8);
  header->mCompression = ReadLe32(data + 16);
  header->mPart1Size = ReadLe32(data + 32);
  header->mPart1Stored = ReadLe32(data + 36);
  header->mPart2Size = ReadLe32(data + 48);
  header->mPart2Stored = ReadLe32(data + 52);
  return true;
}

bool InflateKcgPart(uint8_t* dest, uint32_t capacity, const uint8_t* source, uint32_t sourceSize) {
  uLongf destLength = capacity;
  if (uncompress(dest, &destLength, source, sourceSize) != Z_OK) return false;
  // A stream shorter than its part leaves the rest of the part defined.
  memset(dest + destLength, 0, capacity - destLength);
  return true;
}

int DecodeKcgMemory(const uint8_t* data, size_t size, DecodeTarget* target) {
  const char* name = target->mFileName;
  KcgHeader h;
  if (!ParseKcgHeader(data, size, &h)) return ReportScriptErrorF(104010, 1, name), -1;
  if (memcmp(h.mMagic, "KCG", 4) != 0) ShowErrorBox("", "File Check Error.");
  if (h.mWidth > MAX_IMAGE_SIDE || h.mHeight > MAX_IMAGE_SIDE || h.mWidth <= 0 || h.mHeight <= 0)
    return ReportScriptErrorF(100091, 1, name), -1;
  uint64_t imageBytes = (uint64_t)h.mWidth * (uint64_t)h.mHeight * 4;
  uint64_t available = size - KCG_HEADER_BYTES;
  // Every part must fit both the file and the image before anything is written. Raw pixels,
  // and those of a compression without a decoder, must all be in the file; zlib parts can
  // stand for at most kZlibMostExpansion times their stored bytes.
  if (h.mCompression != 1 && imageBytes > available) return ReportScriptErrorF(104010, 1, name), -1;
  if (h.mCompression == 1 && imageBytes > kZlibMostExpansion * available) return ReportScriptErrorF(104010, 1, name), -1;
  bool part1Fits = h.mPart1Size <= imageBytes && h.mPart1Stored <= available;
  bool part2Fits = part1Fits && h.mPart2Size <= imageBytes - h.mPart1Size &&
                   h.mPart2Stored <= available - h.mPart1Stored;

  uint8_t* image = AllocTargetImage(target, h.mWidth, h.mHeight);
  if (!image) return -1;
  target->mHasAlpha = 1;
  const uint8_t* payload = data + KCG_HEADER_BYTES;
  if (h.mCompression == 0) {
    memcpy(image, payload, imageBytes);
    return 0;
  }
  if (h.mCompression != 1) {
    // An unknown compression gives a defined, fully transparent image.
    memset(image, 0, imageBytes);
    return 0;
  }
  if (!part1Fits) return ShowErrorBox("", "Uncompress Status Error 1."), -1;
  if (!part2Fits) return ShowErrorBox("", "Uncompress Status Error 2."), -1;
  // Bytes that the parts do not cover stay defined.
  if (h.mPart1Size + (uint64_t)h.mPart2Size < imageBytes)
    memset(image + h.mPart1Size + h.mPart2Size, 0, imageBytes - h.mPart1Size - h.mPart2Size);
  WorkerJob job{};
  job.mWord1 = JOB_UNCOMPRESS_HALVES;
  job.mWord6 = (int32_t)h.mPart1Size, job.mWord7 = (int32_t)h.mPart1Stored;
  job.mWord8 = (int32_t)h.mPart2Size, job.mWord9 = (int32_t)h.mPart2Stored;
  job.mWord12 = h.mWidth, job.mWord13 = h.mHeight;
  job.mWord14 = image;
  job.mWord15 = data;
  g_HalfInflated[0] = g_HalfInflated[1] = false;
  SetWorkerJobBody(JOB_UNCOMPRESS_HALVES, JobUncompressHalves);
  // With fewer than two workers both halves are inflated here, one after the other.
  if (!SubmitToFirstTwoWorkers(job)) {
    job.mWord0 = 0;
    JobUncompressHalves(&job);
    job.mWord0 = 1;
    JobUncompressHalves(&job);
  }
  if (!g_HalfInflated[0]) return ShowErrorBox("", "Uncompress Status Error 1."), -1;
  if (!g_HalfInflated[1]) return ShowErrorBox("", "Uncompress Status Error 2."), -1;
  return 0;
}
