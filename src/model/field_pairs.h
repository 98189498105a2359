// Two neighbouring double fields of a record handled as one two-lane vector.
//
// The scans of the step choice, the pruning of net fluxes, the Euler step,
// the flux totals and the guard apply one operation to many species. Done on
// pairs of neighbouring fields they take half the instructions. Each lane
// sees exactly the IEEE operation the scalar code would do (a product, a
// quotient, a sum, a comparison), so the results are the same bits; only the
// order in which independent results are formed changes.
//
// On x86-64 the pairs are SSE2 registers (part of the base instruction set,
// so no host-specific flag is needed); elsewhere, or when built with
// TOLVANEX_PORTABLE_PAIRS defined, the same functions work lane by lane.
//
// The records involved (SpeciesState, SpeciesRates, NetFluxes, FluxTotals)
// are plain structs of doubles without padding; a pair is copied in and out
// of their object representation with memcpy, which compilers turn into one
// vector load or store.
#pragma once

#include <cstddef>
#include <cstring>
#include <type_traits>

#if defined(__SSE2__) && !defined(TOLVANEX_PORTABLE_PAIRS)
#include <emmintrin.h>
#endif

// Functions of the iteration's straight path are always inlined, so that the
// whole iteration compiles into one stretch of code.
#define TOLVANEX_HOT inline __attribute__((always_inline))

namespace tolvanex {

#if defined(__SSE2__) && !defined(TOLVANEX_PORTABLE_PAIRS)

using DoublePair = __m128d;
using PairMask = __m128d;  // lanes all ones (true) or all zeros (false)

inline DoublePair both(double x) { return _mm_set1_pd(x); }
inline DoublePair pair_of(double first, double second) { return _mm_set_pd(second, first); }
inline DoublePair add(DoublePair a, DoublePair b) { return _mm_add_pd(a, b); }
inline DoublePair multiply(DoublePair a, DoublePair b) { return _mm_mul_pd(a, b); }
inline DoublePair divide(DoublePair a, DoublePair b) { return _mm_div_pd(a, b); }
inline PairMask greater(DoublePair a, DoublePair b) { return _mm_cmpgt_pd(a, b); }
inline PairMask less(DoublePair a, DoublePair b) { return _mm_cmplt_pd(a, b); }
inline PairMask at_least(DoublePair a, DoublePair b) { return _mm_cmpge_pd(a, b); }
inline PairMask equal(DoublePair a, DoublePair b) { return _mm_cmpeq_pd(a, b); }
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
inline PairMask greater(DoublePair a, DoublePair b) {
  return {{a.lane[0] > b.lane[0], a.lane[1] > b.lane[1]}};
}
inline PairMask less(DoublePair a, DoublePair b) {
  return {{a.lane[0] < b.lane[0], a.lane[1] < b.lane[1]}};
}
inline PairMask at_least(DoublePair a, DoublePair b) {
  return {{a.lane[0] >= b.lane[0], a.lane[1] >= b.lane[1]}};
}
inline PairMask equal(DoublePair a, DoublePair b) {
  return {{a.lane[0] == b.lane[0], a.lane[1] == b.lane[1]}};
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

// Two doubles at any (not necessarily aligned) place in memory.
inline DoublePair load_pair_from(const void* place) {
  double lanes[2];
  std::memcpy(lanes, place, sizeof lanes);
#if defined(__SSE2__) && !defined(TOLVANEX_PORTABLE_PAIRS)
  return _mm_loadu_pd(lanes);
#else
  return {{lanes[0], lanes[1]}};
#endif
}

inline void store_pair_to(void* place, DoublePair v) {
#if defined(__SSE2__) && !defined(TOLVANEX_PORTABLE_PAIRS)
  double lanes[2];
  _mm_storeu_pd(lanes, v);
#else
  double lanes[2] = {v.lane[0], v.lane[1]};
#endif
  std::memcpy(place, lanes, sizeof lanes);
}

// Two neighbouring fields of a record, by the byte offset of the first.
template <class Record>
inline DoublePair load_pair(const Record& record, std::size_t byte_offset) {
  static_assert(std::is_standard_layout_v<Record>);
  return load_pair_from(reinterpret_cast<const unsigned char*>(&record) + byte_offset);
}

template <class Record>
inline void store_pair(Record& record, std::size_t byte_offset, DoublePair v) {
  static_assert(std::is_standard_layout_v<Record>);
  store_pair_to(reinterpret_cast<unsigned char*>(&record) + byte_offset, v);
}

template <class Record>
inline double load_field(const Record& record, std::size_t byte_offset) {
  double x;
  std::memcpy(&x, reinterpret_cast<const unsigned char*>(&record) + byte_offset, sizeof x);
  return x;
}

inline constexpr std::size_t kPairBytes = 2 * sizeof(double);

// x, as a value the compiler must keep in a register rather than re-create
// before every use (as it otherwise does with the constant 0 in long runs of
// comparisons).
inline double register_held(double x) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
  __asm__("" : "+x"(x));  // x: an SSE register
#endif
  return x;
}

// Written inside an if, keeps the compiler from turning that if into a
// select (a max, a blend or a conditional move). A select waits for both of
// its inputs, and the running maxima of the step rules lie on the path from
// one step to the next: with a branch the processor goes on with the
// predicted value, and that path does not wait for every ratio of a list.
inline void keep_as_branch() {
#if defined(__GNUC__)
  __asm__ volatile("");
#endif
}

}  // namespace tolvanex
