#include "imaging/parallel_rows.h"

#include <gtest/gtest.h>

#include <vector>

namespace zavo {
namespace {

TEST(ParallelRows, StartsNoMoreThreadsThanCoresOrPiecesAndNoneForSmallWork) {
  const uint64_t big = uint64_t{1} << 40;
  EXPECT_EQ(ThreadsFor(1000, big), UsableCores());
  EXPECT_EQ(ThreadsFor(1, big), 1u);
  EXPECT_EQ(ThreadsFor(1000, kParallelMinBytes - 1), 1u);
  ScopedThreadCount forced(5);
  EXPECT_EQ(ThreadsFor(1000, 10), 5u);
  EXPECT_EQ(ThreadsFor(3, 10), 3u);
  {
    ScopedThreadCount inner(1);
    EXPECT_EQ(ThreadsFor(1000, big), 1u);
  }
  EXPECT_EQ(ThreadsFor(1000, 10), 5u);
}

TEST(ParallelRows, GivesEveryRowToExactlyOneBand) {
  for (unsigned threads : {1u, 2u, 3u, 4u}) {
    for (uint32_t rows : {1u, 2u, 7u, 64u}) {
      ScopedThreadCount forced(threads);
      std::vector<int> seen(rows, 0);
      ForEachRowBand(rows, 1, [&](uint32_t first, uint32_t count) {
        for (uint32_t row = first; row < first + count; ++row) ++seen[row];
      });
      EXPECT_EQ(seen, std::vector<int>(rows, 1)) << threads << " threads, " << rows << " rows";
    }
  }
}

}  // namespace
}  // namespace zavo
