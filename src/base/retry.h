// The launcher's one retry rule: every network step gets three attempts, one right after
// the other, and the first success ends it.
#pragma once

namespace base {

inline constexpr int kAttempts = 3;

// Calls `attempt` until it returns true, at most `attempts` times. True at the first success.
template <typename Attempt>
bool Retry(Attempt&& attempt, int attempts = kAttempts) {
  for (int i = 0; i < attempts; ++i) {
    if (attempt()) return true;
  }
  return false;
}

}  // namespace base
