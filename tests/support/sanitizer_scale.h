// How much slower this build runs the simulated machine, so that long runs
// can scale their counts to stay within the CI's time.
#pragma once

#if defined(__SANITIZE_THREAD__)
#define RELIABILITY_THREAD_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define RELIABILITY_THREAD_SANITIZER 1
#endif
#endif

#if defined(__SANITIZE_ADDRESS__)
#define RELIABILITY_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RELIABILITY_ADDRESS_SANITIZER 1
#endif
#endif

enum class BuildKind { kPlain, kAddressSanitizer, kThreadSanitizer };

#if defined(RELIABILITY_THREAD_SANITIZER)
inline constexpr BuildKind kBuildKind = BuildKind::kThreadSanitizer;
#elif defined(RELIABILITY_ADDRESS_SANITIZER)
inline constexpr BuildKind kBuildKind = BuildKind::kAddressSanitizer;
#else
inline constexpr BuildKind kBuildKind = BuildKind::kPlain;
#endif

inline constexpr const char* BuildName() {
  switch (kBuildKind) {
    case BuildKind::kThreadSanitizer:
      return "ThreadSanitizer";
    case BuildKind::kAddressSanitizer:
      return "AddressSanitizer";
    case BuildKind::kPlain:
      break;
  }
  return "plain";
}

// The count that fits this build's time: plain, under ASan+UBSan, under TSan.
inline constexpr int ScaledCount(int plain, int address_sanitizer, int thread_sanitizer) {
  switch (kBuildKind) {
    case BuildKind::kThreadSanitizer:
      return thread_sanitizer;
    case BuildKind::kAddressSanitizer:
      return address_sanitizer;
    case BuildKind::kPlain:
      break;
  }
  return plain;
}
