// The vector step rows written once for any vector width: each mode's blend function computed
// in lanes instead of read from its lookup table, and the plain and alpha rows built on it.
// Included by one source file per instruction set, which first defines the set's `Isa` record
// of lane operations (every 128-bit half of a wider vector works on its own four pixels).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "layers/blend_rows_local.h"
#include "layers/blend_tables.h"

namespace {

template <class V>
struct StepRows {
  using I = typename V::I;

  [[gnu::always_inline]] static I Select(I mask, I yes, I no) { return V::Or(V::And(mask, yes), V::AndNot(mask, no)); }

  // x / 255 truncated, for 16-bit lanes holding 0..65025.
  [[gnu::always_inline]] static I Div255(I x) { return V::Srli16(V::Add16(V::Add16(x, V::Set16(1)), V::Srli16(x, 8)), 8); }

  // The overlay curve of a base b and a blend value v (16-bit lanes, 0..255 each): below the
  // middle v * 2b / 255, above it v * (512 - 2b) / 255 + 2b - 257, at 128 v itself.
  [[gnu::always_inline]] static I OverlayCurve(I v, I b) {
    I twice = V::Add16(b, b);
    I upper = V::CmpGt16(b, V::Set16(128));
    I factor = Select(upper, V::Sub16(V::Set16(512), twice), twice);
    I product = Div255(V::MulLo16(v, factor));
    I r = Select(upper, V::Sub16(V::Add16(product, twice), V::Set16(257)), product);
    return Select(V::CmpEq16(b, V::Set16(128)), v, r);
  }

  // Truncated quotients of 32-bit lanes through single precision: every quotient that survives
  // the clamp to a byte lies below 256 and at least 1/510 away from any integer it is not, far
  // beyond the rounding of one division.
  [[gnu::always_inline]] static I Quotient(I num, I den) { return V::CvttF(V::DivF(V::CvtF(num), V::CvtF(den))); }
  [[gnu::always_inline]] static I Max32(I a, I b) { return Select(V::CmpGt32(a, b), a, b); }

  // A function of 32-bit lanes per quarter, packed back with a clamp to 0..255.
  template <I (*f)(I, I)>
  [[gnu::always_inline]] static I ByQuarters(I s, I d) {
    I z = V::Zero();
    I sl = V::UnpackLo8(s, z), sh = V::UnpackHi8(s, z), dl = V::UnpackLo8(d, z), dh = V::UnpackHi8(d, z);
    I q0 = f(V::UnpackLo16(sl, z), V::UnpackLo16(dl, z));
    I q1 = f(V::UnpackHi16(sl, z), V::UnpackHi16(dl, z));
    I q2 = f(V::UnpackLo16(sh, z), V::UnpackLo16(dh, z));
    I q3 = f(V::UnpackHi16(sh, z), V::UnpackHi16(dh, z));
    return V::PackUs16(V::PackS32(q0, q1), V::PackS32(q2, q3));
  }

  // A function of 16-bit lanes per half, packed back with a clamp to 0..255.
  template <I (*f)(I, I)>
  [[gnu::always_inline]] static I ByHalves(I s, I d) {
    I z = V::Zero();
    return V::PackUs16(f(V::UnpackLo8(s, z), V::UnpackLo8(d, z)), f(V::UnpackHi8(s, z), V::UnpackHi8(d, z)));
  }

  // The blend functions that need wider lanes than bytes: a = s and b = d in 16-bit (Half) or
  // 32-bit (Quarter) lanes.
  [[gnu::always_inline]] static I MultiplyHalf(I a, I b) { return Div255(V::MulLo16(a, b)); }
  [[gnu::always_inline]] static I ScreenHalf(I a, I b) { return V::Sub16(V::Add16(a, b), Div255(V::MulLo16(a, b))); }
  [[gnu::always_inline]] static I ExclusionHalf(I a, I b) {
    I p = Div255(V::MulLo16(a, b));
    return V::Sub16(V::Add16(a, b), V::Add16(p, p));
  }
  [[gnu::always_inline]] static I OverlayHalf(I a, I b) { return OverlayCurve(a, b); }
  [[gnu::always_inline]] static I HardLightHalf(I a, I b) { return OverlayCurve(b, a); }
  // Outside the dark corner (s >= 128 with d <= 32, see BlendExact) the square-root term only
  // ever nudges a quotient below the integer it sits on: a darkening source moves d by
  // (s - 128) >> 1, a lightening one by (s - 129) >> 2, at least 0.
  [[gnu::always_inline]] static I SoftLightHalf(I a, I b) {
    I x = V::Sub16(a, V::Set16(128));
    I down = V::Srai16(x, 1);
    I up = V::Srai16(V::Max16(V::Sub16(x, V::Set16(1)), V::Zero()), 2);
    return V::Add16(b, Select(V::CmpGt16(V::Zero(), x), down, up));
  }
  [[gnu::always_inline]] static I LinearLightHalf(I a, I b) { return V::Sub16(V::Add16(b, V::Add16(a, a)), V::Set16(256)); }
  [[gnu::always_inline]] static I PinLightHalf(I a, I b) {
    I twice = V::Add16(a, a);
    I low = V::Min16(b, twice);
    I high = V::Max16(b, V::Sub16(twice, V::Set16(255)));
    return Select(V::CmpGt16(V::Set16(128), a), low, high);
  }
  // d = 0 divides by 1: 0 stays 0 and anything else clamps to 255.
  [[gnu::always_inline]] static I DivideQuarter(I a, I b) { return Quotient(V::Madd16(a, V::Set32(255)), Max32(b, V::Set32(1))); }
  [[gnu::always_inline]] static I ColorDodgeQuarter(I a, I b) { return Quotient(V::Slli32(b, 8), V::Sub32(V::Set32(256), a)); }
  [[gnu::always_inline]] static I ColorBurnQuarter(I a, I b) {
    return V::Sub32(V::Set32(255), Quotient(V::Slli32(V::Sub32(V::Set32(255), b), 8), V::Add32(a, V::Set32(1))));
  }
  // s = 0 and s = 255 are set apart by the caller.
  [[gnu::always_inline]] static I VividLightQuarter(I a, I b) {
    I twice = V::Add32(a, a);
    I burnNum = V::Sub32(V::Add32(V::Madd16(a, V::Set32(510)), V::Madd16(b, V::Set32(255))), V::Set32(65025));
    I burn = Quotient(burnNum, Max32(twice, V::Set32(1)));
    I dodge = Quotient(V::Madd16(b, V::Set32(255)), Max32(V::Sub32(V::Set32(510), twice), V::Set32(1)));
    return Select(V::CmpGt32(V::Set32(128), a), burn, dodge);
  }

  // T(s, d) of mode M for a vector of source and destination bytes.
  template <int M>
  [[gnu::always_inline]] static I BlendVector(I s, I d) {
    if constexpr (M == BLEND_NORMAL) return s;
    if constexpr (M == BLEND_ADD) return V::AddSat8(d, s);
    if constexpr (M == BLEND_SUBTRACT) return V::SubSat8(s, d);
    if constexpr (M == BLEND_MULTIPLY) return ByHalves<MultiplyHalf>(s, d);
    if constexpr (M == BLEND_DIVIDE) return ByQuarters<DivideQuarter>(s, d);
    if constexpr (M == BLEND_SCREEN) return ByHalves<ScreenHalf>(s, d);
    if constexpr (M == BLEND_LIGHTEN) return V::Max8(s, d);
    if constexpr (M == BLEND_DARKEN) return V::Min8(s, d);
    if constexpr (M == BLEND_DIFFERENCE) return V::Or(V::SubSat8(s, d), V::SubSat8(d, s));
    if constexpr (M == BLEND_EXCLUSION) return ByHalves<ExclusionHalf>(s, d);
    if constexpr (M == BLEND_OVERLAY) return ByHalves<OverlayHalf>(s, d);
    if constexpr (M == BLEND_COLOR_DODGE) return ByQuarters<ColorDodgeQuarter>(s, d);
    if constexpr (M == BLEND_COLOR_BURN) return ByQuarters<ColorBurnQuarter>(s, d);
    if constexpr (M == BLEND_LINEAR_BURN) return V::SubSat8(d, V::Xor(s, V::Set8(-1)));
    if constexpr (M == BLEND_HARD_LIGHT) return ByHalves<HardLightHalf>(s, d);
    if constexpr (M == BLEND_SOFT_LIGHT) return ByHalves<SoftLightHalf>(s, d);
    if constexpr (M == BLEND_VIVID_LIGHT) {
      I r = ByQuarters<VividLightQuarter>(s, d);
      r = Select(V::CmpEq8(s, V::Zero()), V::Zero(), r);
      return Select(V::CmpEq8(s, V::Set8(-1)), V::Set8(-1), r);
    }
    if constexpr (M == BLEND_LINEAR_LIGHT) return ByHalves<LinearLightHalf>(s, d);
    if constexpr (M == BLEND_PIN_LIGHT) return ByHalves<PinLightHalf>(s, d);
    return s;
  }

  // The vector form and the table agree everywhere except soft light's dark corner (a light
  // source over near-black: a lane or so a vector), whose bytes are worked out one by one.
  template <int M>
  [[gnu::always_inline]] static I BlendExact(I s, I d) {
    I t = BlendVector<M>(s, d);
    if constexpr (M == BLEND_SOFT_LIGHT) {
      I light = V::CmpEq8(V::And(s, V::Set8(-128)), V::Set8(-128));
      I dark = V::CmpEq8(V::SubSat8(d, V::Set8(32)), V::Zero());
      uint32_t corner = V::MoveMask8(V::And(light, dark));
      if (corner) {
        alignas(32) uint8_t sb[V::BYTES], db[V::BYTES], tb[V::BYTES];
        V::Store(sb, s);
        V::Store(db, d);
        V::Store(tb, t);
        const int32_t* factor = SoftLightCornerFactors();
        for (; corner; corner &= corner - 1) {
          int i = __builtin_ctz(corner);
          tb[i] = (uint8_t)(db[i] + (((sb[i] - 128) * factor[db[i]]) >> 15));
        }
        t = V::Load(tb);
      }
    }
    return t;
  }

  // d moved toward t by w/256 in each 16-bit lane: (d * (256 - w) + t * w) >> 8, which is
  // d + (((t - d) * w) >> 8) and never leaves 16 bits for w in 0..256.
  [[gnu::always_inline]] static I Toward(I d16, I t16, I w) {
    return V::Srli16(V::Add16(V::MulLo16(d16, V::Sub16(V::Set16(256), w)), V::MulLo16(t16, w)), 8);
  }

  // d moved by the step up u or the step down w (one of them 0) times o/256, truncated.
  [[gnu::always_inline]] static I TowardTruncated(I d16, I u16, I w16, I o) {
    return V::Sub16(V::Add16(d16, V::Srli16(V::MulLo16(u16, o), 8)), V::Srli16(V::MulLo16(w16, o), 8));
  }

  // The alpha weights of the pixels in the colour lanes of their 16-bit halves; the alpha
  // lanes get 0, so the destination's alpha byte comes back unchanged.
  template <bool PARTIAL>
  [[gnu::always_inline]] static void AlphaWeights(I s, I op, I* lo, I* hi) {
    I a = V::Add32(V::Srli32(s, 24), V::Set32(1));
    if (PARTIAL) a = V::Srli32(V::MulLo16(a, op), 8);
    a = V::Or(a, V::Slli32(a, 16));
    I colour = V::ColourLanes16();
    *lo = V::And(V::UnpackLo32(a, a), colour);
    *hi = V::And(V::UnpackHi32(a, a), colour);
  }

  enum Form { FORM_FULL, FORM_PARTIAL, FORM_PARTIAL_TRUNCATED, FORM_ALPHA, FORM_ALPHA_PARTIAL };

  template <int M, int FORM>
  [[gnu::always_inline]] static I StepVector(I d, I s, I op) {
    I t = BlendExact<M>(s, d);
    if constexpr (FORM == FORM_FULL) return t;
    I z = V::Zero();
    if constexpr (FORM == FORM_PARTIAL) {
      return V::PackUs16(Toward(V::UnpackLo8(d, z), V::UnpackLo8(t, z), op),
                         Toward(V::UnpackHi8(d, z), V::UnpackHi8(t, z), op));
    }
    if constexpr (FORM == FORM_PARTIAL_TRUNCATED) {
      // Toward t truncated toward d: the step up and the step down scaled separately.
      I up = V::SubSat8(t, d), down = V::SubSat8(d, t);
      return V::PackUs16(TowardTruncated(V::UnpackLo8(d, z), V::UnpackLo8(up, z), V::UnpackLo8(down, z), op),
                         TowardTruncated(V::UnpackHi8(d, z), V::UnpackHi8(up, z), V::UnpackHi8(down, z), op));
    }
    I wl, wh;
    AlphaWeights<FORM == FORM_ALPHA_PARTIAL>(s, op, &wl, &wh);
    return V::PackUs16(Toward(V::UnpackLo8(d, z), V::UnpackLo8(t, z), wl), Toward(V::UnpackHi8(d, z), V::UnpackHi8(t, z), wh));
  }

  // A vector at a time; the last bytes go through a scratch copy so they get the same
  // arithmetic. Alpha rows leave the bytes of a partial last pixel alone, as the table rows do.
  template <int M, int FORM>
  static void Row(uint8_t* dst, const uint8_t* src, int32_t o, size_t n) {
    I op = V::Set16(o);
    size_t i = 0;
    for (; i + V::BYTES <= n; i += V::BYTES) V::Store(dst + i, StepVector<M, FORM>(V::Load(dst + i), V::Load(src + i), op));
    size_t rest = n - i;
    if (FORM == FORM_ALPHA || FORM == FORM_ALPHA_PARTIAL) rest &= ~(size_t)3;
    if (rest == 0) return;
    alignas(32) uint8_t d[V::BYTES] = {}, s[V::BYTES] = {};
    memcpy(d, dst + i, rest);
    memcpy(s, src + i, rest);
    V::Store(d, StepVector<M, FORM>(V::Load(d), V::Load(s), op));
    memcpy(dst + i, d, rest);
  }

  // Opacities outside 0..255 never reach a partial row from the compositor; should one come,
  // the table row gives its bytes.
  template <int M, int FORM>
  static void GuardedRow(uint8_t* dst, const uint8_t* src, int32_t o, size_t n) {
    if (o < 0 || o > 255) return StepRowReference(M, FORM == FORM_ALPHA_PARTIAL, false)(dst, src, o, n);
    Row<M, FORM>(dst, src, o, n);
  }

  // The four rows of every mode: plain partial, plain full, alpha partial, alpha full.
  template <int M>
  static void Fill(BlendRow rows[4]) {
    constexpr int partial = M == BLEND_DIFFERENCE ? FORM_PARTIAL_TRUNCATED : FORM_PARTIAL;
    rows[0] = GuardedRow<M, partial>;
    rows[1] = Row<M, FORM_FULL>;
    rows[2] = GuardedRow<M, FORM_ALPHA_PARTIAL>;
    rows[3] = Row<M, FORM_ALPHA>;
  }

  template <size_t... M>
  static void FillAll(BlendRow rows[][4], std::index_sequence<M...>) {
    (Fill<(int)M>(rows[M]), ...);
  }

  struct Table {
    BlendRow rows[BLEND_MODE_COUNT][4];
  };

  static BlendRow Lookup(int32_t mode, bool alpha, bool full) {
    static const Table table = [] {
      Table t{};
      FillAll(t.rows, std::make_index_sequence<BLEND_MODE_COUNT>());
      return t;
    }();
    if (mode < 0 || mode >= BLEND_MODE_COUNT) return nullptr;
    return table.rows[mode][(alpha ? 2 : 0) + (full ? 1 : 0)];
  }
};

}  // namespace
