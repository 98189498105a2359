// Two doubles handled as one two-lane vector.
//
// The scans of the step choice, the pruning of net fluxes, the Euler step,
// the flux totals and the guard apply one operation to many species. Done on
// pairs of neighbouring array elements they take half the instructions. Each
// lane sees exactly the IEEE operation the scalar code would do (a product, a
// quotient, a sum, a comparison), so the results are the same bits; only the
// order in which independent results are formed changes.
//
// On x86-64 the pairs are SSE2 registers (part of the base instruction set,
// so no host-specific flag is needed); elsewhere, or when built with
// TOLVANEX_PORTABLE_PAIRS defined, the same functions work lane by lane.
#pragma once

#include <cstring>

#if defined(__SSE2__) && !defined(TOLVANEX_PORTABLE_PAIRS)
#include <emmintrin.h>
#define TOLVANEX_SSE2_PAIRS 1
#else
#define TOLVANEX_SSE2_PAIRS 0
#endif

namespace tolvanex {

#if TOLVANEX_SSE2_PAIRS

using DoublePair = __m128d;
using PairMask = __m128d;  // lanes all ones (true) or all zeros (false)

inline DoublePair both(double x) { return _mm_set1_pd(x); }
inline DoublePair pair_of(double first, double second) { return _mm_set_pd(second, first); }
inline DoublePair add(DoublePair a, DoublePair b) { return _mm_add_pd(a, b); }
inline DoublePair multiply(DoublePair a, DoublePair b) { return _mm_mul_pd(a, b); }
inline DoublePair divide(DoublePair a, DoublePair b) { return _mm_div_pd(a, b); }
inline PairMask less(DoublePair a, DoublePair b) { return _mm_cmplt_pd(a, b); }
inline PairMask at_least(DoublePair a, DoublePair b) { return _mm_cmpge_pd(a, b); }
inline PairMask both_hold(PairMask a, PairMask b) { return _mm_and_pd(a, b); }
inline PairMask either_holds(PairMask a, PairMask b) { return _mm_or_pd(a, b); }
// Lanes where the mask is set become +0, the others keep their value.
inline DoublePair zero_where(PairMask m, DoublePair v) { return _mm_andnot_pd(m, v); }
inline DoublePair absolute(DoublePair v) { return _mm_andnot_pd(_mm_set1_pd(-0.0), v); }
// Lane by lane "if (candidate > best) best = candidate": a NaN candidate
// never wins, a NaN best is never replaced.
inline DoublePair keep_larger(DoublePair best, DoublePair candidate) {
  return _mm_max_pd(candidate, best);
}
// The same rule between the two lanes: the second lane replaces the first
// only when it is greater.
inline double larger_lane(DoublePair v) {
  return _mm_cvtsd_f64(_mm_max_sd(_mm_unpackhi_pd(v, v), v));
}
inline bool any_lane(PairMask m) { return _mm_movemask_pd(m) != 0; }
inline bool all_lanes(PairMask m) { return _mm_movemask_pd(m) == 3; }
inline double first_lane(DoublePair v) { return _mm_cvtsd_f64(v); }
inline double second_lane(DoublePair v) { return _mm_cvtsd_f64(_mm_unpackhi_pd(v, v)); }

#else

struct DoublePair {
  double lane[2];
};
struct PairMask {
  bool lane[2];
};

inline DoublePair both(double x) { return {{x, x}}; }
inline DoublePair pair_of(double first, double second) { return {{first, second}}; }
inline DoublePair add(DoublePair a, DoublePair b) {
  return {{a.lane[0] + b.lane[0], a.lane[1] + b.lane[1]}};
}
inline DoublePair multiply(DoublePair a, DoublePair b) {
  return {{a.lane[0] * b.lane[0], a.lane[1] * b.lane[1]}};
}
inline DoublePair divide(DoublePair a, DoublePair b) {
  return {{a.lane[0] / b.lane[0], a.lane[1] / b.lane[1]}};
}
inline PairMask less(DoublePair a, DoublePair b) {
  return {{a.lane[0] < b.lane[0], a.lane[1] < b.lane[1]}};
}
inline PairMask at_least(DoublePair a, DoublePair b) {
  return {{a.lane[0] >= b.lane[0], a.lane[1] >= b.lane[1]}};
}
inline PairMask both_hold(PairMask a, PairMask b) {
  return {{a.lane[0] && b.lane[0], a.lane[1] && b.lane[1]}};
}
inline PairMask either_holds(PairMask a, PairMask b) {
  return {{a.lane[0] || b.lane[0], a.lane[1] || b.lane[1]}};
}
inline DoublePair zero_where(PairMask m, DoublePair v) {
  return {{m.lane[0] ? 0.0 : v.lane[0], m.lane[1] ? 0.0 : v.lane[1]}};
}
inline DoublePair absolute(DoublePair v) {
  return {{__builtin_fabs(v.lane[0]), __builtin_fabs(v.lane[1])}};
}
inline DoublePair keep_larger(DoublePair best, DoublePair candidate) {
  return {{candidate.lane[0] > best.lane[0] ? candidate.lane[0] : best.lane[0],
           candidate.lane[1] > best.lane[1] ? candidate.lane[1] : best.lane[1]}};
}
inline double larger_lane(DoublePair v) { return v.lane[1] > v.lane[0] ? v.lane[1] : v.lane[0]; }
inline bool any_lane(PairMask m) { return m.lane[0] || m.lane[1]; }
inline bool all_lanes(PairMask m) { return m.lane[0] && m.lane[1]; }
inline double first_lane(DoublePair v) { return v.lane[0]; }
inline double second_lane(DoublePair v) { return v.lane[1]; }

#endif

// Two neighbouring doubles at any (not necessarily aligned) place in memory.
inline DoublePair load_pair(const double* place) {
  double lanes[2];
  std::memcpy(lanes, place, sizeof lanes);
#if TOLVANEX_SSE2_PAIRS
  return _mm_loadu_pd(lanes);
#else
  return {{lanes[0], lanes[1]}};
#endif
}

inline void store_pair(double* place, DoublePair v) {
#if TOLVANEX_SSE2_PAIRS
  double lanes[2];
  _mm_storeu_pd(lanes, v);
#else
  double lanes[2] = {v.lane[0], v.lane[1]};
#endif
  std::memcpy(place, lanes, sizeof lanes);
}

}  // namespace tolvanex
