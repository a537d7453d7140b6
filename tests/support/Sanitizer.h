#pragma once
// True in a build under ThreadSanitizer (scripts/test-threads.sh): every memory
// access is checked there and shadowed, so programs run several times slower and
// hold several times the memory. Timings and memory figures say nothing about the
// product in such a build; the tests that measure them keep all their other checks.
namespace tcmtest {
#if defined(__SANITIZE_THREAD__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif
} // namespace tcmtest
