// A loop over the compile-time indices 0 .. N-1, written out in full: each
// call gets its index as a constant, so that what a table says about that
// index is decided when the program is compiled.
#pragma once

#include <cstddef>
#include <utility>

#include "simd/compiler_hints.h"

namespace tolvanex {

template <std::size_t N, class Body>
TOLVANEX_HOT void for_each_index(Body&& body) {
  [&]<std::size_t... i>(std::index_sequence<i...>) __attribute__((always_inline)) {
    (body(std::integral_constant<std::size_t, i>{}), ...);
  }(std::make_index_sequence<N>{});
}

}  // namespace tolvanex
