// How a benchmark reports: one "BENCH" line per figure, which
// scripts/run-bench.sh gathers into the table. Everything else a benchmark
// prints is detail for its own log.
#pragma once

#include <algorithm>
#include <cstdio>
#include <vector>

namespace bench {

// BENCH <what> | <figure> | <baseline> | <ratio> | <aim and verdict>
inline void Report(const char* what, const char* figure, const char* baseline, const char* ratio,
                   const char* aim) {
  printf("BENCH %s | %s | %s | %s | %s\n", what, figure, baseline, ratio, aim);
  fflush(stdout);
}

// The q-quantile (0..1) of the samples, nearest rank.
inline double Quantile(std::vector<double> samples, double q) {
  if (samples.empty())
    return 0;
  std::sort(samples.begin(), samples.end());
  size_t rank = static_cast<size_t>(q * static_cast<double>(samples.size()) + 0.5);
  if (rank > 0)
    --rank;
  return samples[std::min(rank, samples.size() - 1)];
}

}  // namespace bench
