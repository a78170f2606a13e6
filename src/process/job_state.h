#pragma once
#include <optional>
#include <string>

namespace korval::job {

inline constexpr const char* kNoCode = "9999";

// The job's process-wide flags and results. Main thread only.
struct JobState {
  bool is_windows_nt = false;  // read by the read thread, set before any call
  bool use_profile7 = false;
  std::string detail1 = kNoCode;
  std::string detail2 = kNoCode;
  // What was written as Retour: nothing when no exchange was attempted.
  std::optional<bool> outcome;
  // The job file refused the outcome (or, at the start, the removal of Retour).
  bool outcome_unwritten = false;
  // The user closed the window during the job; every wait ends and no failure is
  // blamed on the bank or the network.
  bool stopped_by_user = false;
};

}  // namespace korval::job
