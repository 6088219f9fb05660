// The processor probe, the choice of the kernel level and the zeroed allocation.
#include <cpuid.h>

#include <cstdlib>

#include "app/engine.h"
#include "app/hooks.h"
#include "layers/pixel_kernels.h"

uint8_t g_CpuFeatures[CPU_FEATURE_COUNT];
int32_t g_KernelLevel;

// The identification instruction exists when bit 21 of the flags register can be flipped.
bool HasCpuid() {
  uint64_t before, after;
  __asm__ volatile(
      "pushfq\n\t"
      "pop %0\n\t"
      "mov %0, %1\n\t"
      "xor $0x200000, %1\n\t"
      "push %1\n\t"
      "popfq\n\t"
      "pushfq\n\t"
      "pop %1\n\t"
      "push %0\n\t"
      "popfq"
      : "=&r"(before), "=&r"(after)
      :
      : "cc");
  return ((before ^ after) & 0x200000) != 0;
}

void ProbeCpuFeatures() {
  for (uint8_t& flag : g_CpuFeatures) flag = 0;
  if (!HasCpuid()) return;
  unsigned a, b, c, d;
  __cpuid(0, a, b, c, d);
  if (a > 0) {
    __cpuid(1, a, b, c, d);
    g_CpuFeatures[CPU_MMX] = (d >> 23) & 1;
    g_CpuFeatures[CPU_SSE] = (d >> 25) & 1;
    g_CpuFeatures[CPU_SSE2] = (d >> 26) & 1;
    g_CpuFeatures[CPU_SSE3] = c & 1;
    g_CpuFeatures[CPU_SSSE3] = (c >> 9) & 1;
    g_CpuFeatures[CPU_SSE41] = (c >> 19) & 1;
    g_CpuFeatures[CPU_SSE42] = (c >> 20) & 1;
  }
  __cpuid(0x80000000u, a, b, c, d);
  if (a > 0x80000000u) {
    __cpuid(0x80000001u, a, b, c, d);
    g_CpuFeatures[CPU_3DNOW] = (d >> 31) & 1;
    g_CpuFeatures[CPU_3DNOW_EXT] = (d >> 30) & 1;
    g_CpuFeatures[CPU_SSE4A] = (c >> 6) & 1;
    g_CpuFeatures[CPU_EXT_ECX11] = (c >> 11) & 1;
  }
}

// Level 1 runs everywhere; SSE lifts it to 2 and SSE2 to 3, each when its switch allows.
int32_t ChooseKernelLevel(const uint8_t features[CPU_FEATURE_COUNT], uint8_t allowSse, uint8_t allowSse2) {
  int32_t level = 1;
  if (features[CPU_SSE] && allowSse) level = 2;
  if (features[CPU_SSE2] && allowSse2) level = 3;
  return level;
}

bool CpuHasAvx2() { return __builtin_cpu_supports("avx2"); }

void InstallPixelKernels(int32_t level) {
  g_KernelLevel = level < 1 ? 1 : level > 3 ? 3 : level;
  g_PixelKernels = g_FastKernels[g_KernelLevel == 1 ? 0 : 1];
  if (CpuHasAvx2()) UseAvx2Kernels(&g_PixelKernels, g_KernelLevel);
}

void InitPixelKernels() {
  ProbeCpuFeatures();
  InstallPixelKernels(ChooseKernelLevel(g_CpuFeatures, g_AllowSse, g_AllowSse2));
}

void* AllocZeroed(size_t n) {
  void* block = malloc(n ? n : 1);
  if (!block) return nullptr;
  g_PixelKernels.zeroFill((uint8_t*)block, n);
  return block;
}
