#pragma once
// The main thread runs everything but the port's reads. Entry points meant for it
// check their caller in debug and sanitizer builds, so that a call from the read
// thread fails in tests instead of racing; release builds check nothing.

namespace korval::platform {

#if !defined(NDEBUG) || defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kChecksMainThread = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
inline constexpr bool kChecksMainThread = true;
#else
inline constexpr bool kChecksMainThread = false;
#endif
#else
inline constexpr bool kChecksMainThread = false;
#endif

// The calling thread becomes the main thread: at the process object's creation.
void RecordMainThread();
// Aborts, naming entry_point, when called on another thread than the recorded one.
void CheckMainThread(const char* entry_point);

inline void ExpectMainThread(const char* entry_point) {
  if constexpr (kChecksMainThread) CheckMainThread(entry_point);
}

}  // namespace korval::platform
