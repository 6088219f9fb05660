// The processor probe and the table of pixel row routines that every fill, copy and blend uses.
#pragma once

#include <cstddef>
#include <cstdint>

// Row routines. Pointers are byte pointers into rows of B, G, R, A pixels; n is a byte count.
// Callers guarantee: pointers valid for n bytes; the blend routines get at least one pixel;
// destination and sources of one call do not overlap, except that `copy` copies forwards
// (8 bytes at a time, then the rest), which makes a copy to a lower address safe.
// Per-pixel routines leave the last n % 4 bytes alone. Every slot may be called from any
// thread at once on disjoint destinations; none keeps state or allocates.
struct PixelKernels {
  void (*zeroFill)(uint8_t* dst, size_t n);
  void (*fillBytes)(uint8_t* dst, size_t n, uint8_t value);
  void (*fillPixels)(uint8_t* dst, size_t n, uint32_t pixel);    // n / 4 pixels written
  void (*copy)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*crossFade)(uint8_t* dst, const uint8_t* src, int32_t a, size_t n);   // a 0..256
  void (*alphaBlend)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*alphaBlendOpacity)(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);  // op 0..255
  void (*ruleBlend)(uint8_t* dst, const uint8_t* src, const uint8_t* rule, int32_t progress,
                    int32_t sharpness, size_t n);
  void (*crossFadeTwo)(uint8_t* dst, const uint8_t* src1, const uint8_t* src2, int32_t a, size_t n);
  void (*add)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*addOpacity)(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
  void (*addAlpha)(uint8_t* dst, const uint8_t* src, int32_t unused, size_t n);
  void (*addAlphaOpacity)(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
  void (*subtract)(uint8_t* dst, const uint8_t* src, size_t n);   // source minus destination
  void (*multiply)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*screen)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*screenOpacity)(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
  void (*lighten)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*darken)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*linearBurn)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*linearLight)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*composeOverAlpha)(uint8_t* dst, const uint8_t* src, size_t n);
  void (*composeOverAlphaOpacity)(uint8_t* dst, const uint8_t* src, int32_t op, size_t n);
  void (*composeOverScaledAlpha)(uint8_t* dst, const uint8_t* src, int32_t factor, size_t n);
  void (*composeOverAlphaTwoFactor)(uint8_t* dst, const uint8_t* src, int32_t dstFactor,
                                    int32_t op, size_t n);
};
constexpr int PIXEL_KERNEL_COUNT = 25;
static_assert(sizeof(PixelKernels) == PIXEL_KERNEL_COUNT * sizeof(void*));

// Filled once by InitPixelKernels; read by every thread afterwards.
extern PixelKernels g_PixelKernels;
// The arithmetic level installed: 1 (plain integer vectors) or 3 (with the SSE integer
// extensions); 2 and 3 install the same routines. 0 before InitPixelKernels.
extern int32_t g_KernelLevel;

// Processor flags, 0 or 1 each, written only by ProbeCpuFeatures.
enum CpuFeature {
  CPU_MMX, CPU_3DNOW, CPU_3DNOW_EXT, CPU_SSE, CPU_SSE2, CPU_SSE3, CPU_SSSE3, CPU_SSE41, CPU_SSE42,
  CPU_SSE4A, CPU_EXT_ECX11, CPU_FEATURE_COUNT
};
extern uint8_t g_CpuFeatures[CPU_FEATURE_COUNT];

bool HasCpuid();
void ProbeCpuFeatures();
// The level the features and the two user switches allow: 1, 2 or 3.
int32_t ChooseKernelLevel(const uint8_t features[CPU_FEATURE_COUNT], uint8_t allowSse,
                          uint8_t allowSse2);
// Installs the fast routines of `level` (1..3) into g_PixelKernels.
void InstallPixelKernels(int32_t level);

// n zeroed bytes from the C heap (free with free()); null when the allocation fails.
void* AllocZeroed(size_t n);

// The two arithmetic sets, [0] = level 1, [1] = levels 2 and 3: the plain scalar reference and
// the fast set that must give the same bytes. Exposed for tests and benchmarks.
extern const PixelKernels g_ReferenceKernels[2];
extern const PixelKernels g_FastKernels[2];

// True when the processor (and the system) can run AVX2 code.
bool CpuHasAvx2();
// Puts the AVX2 routines of `level` (1..3) over their SSE2 twins in `set`, which must hold that
// level's fast set; InstallPixelKernels does it when the processor has AVX2.
void UseAvx2Kernels(PixelKernels* set, int32_t level);
