// DUO_ASSERT(condition): an invariant whose breach would corrupt memory or state silently (a
// slot index out of its table, a queue past its bound). Active in Debug builds and in builds
// configured with DUOSCOPE_ASSERTS=ON (the test builds); compiled out of the shipped build,
// where the condition is not evaluated. Not for inputs: a bad file or a bad byte from the
// network gets an error, never an assertion.
#pragma once

#include <cstdio>
#include <cstdlib>

#if defined(DUOSCOPE_ASSERTS) || !defined(NDEBUG)
inline constexpr bool kInvariantsChecked = true;
[[noreturn]] inline void DuoAssertFailed(const char* condition, const char* file, int line) {
    std::fprintf(stderr, "duoscope: invariant broken: %s (%s:%d)\n", condition, file, line);
    std::abort();
}
#define DUO_ASSERT(condition)                                                                      \
    ((condition) ? (void)0 : DuoAssertFailed(#condition, __FILE__, __LINE__))
#else
inline constexpr bool kInvariantsChecked = false;
#define DUO_ASSERT(condition) ((void)sizeof(condition))
#endif
