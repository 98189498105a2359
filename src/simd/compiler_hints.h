// Hints that shape the code the compiler makes of the iteration, without
// changing any operation it does.
#pragma once

// Functions of the iteration's straight path are always inlined, so that the
// whole iteration compiles into one stretch of code.
#define TOLVANEX_HOT inline __attribute__((always_inline))

namespace tolvanex {

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

// Makes the compiler read every value of the records from memory again after
// this point, instead of keeping the copies it already has. Long runs of
// unrolled code otherwise hold many such copies at once, and those that do
// not fit in the registers go to the stack and back: extra stores and loads,
// some of them on the path from one step to the next.
inline void read_records_again() {
#if defined(__GNUC__)
  __asm__ volatile("" ::: "memory");
#endif
}

}  // namespace tolvanex
