#include "imaging/parallel_rows.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace zavo
