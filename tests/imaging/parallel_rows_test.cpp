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

// A quota is rounded up to whole cores, never below one; "max" and anything
// unreadable set no limit.
TEST(ParallelRows, ReadsTheCgroupsCpuQuota) {
  const std::pair<const char*, std::optional<unsigned>> quotas[] = {
      {"max 100000\n", std::nullopt}, {"200000 100000\n", 2u},    {"150000 100000", 2u},
      {"50000 100000\n", 1u},         {"0 100000\n", 1u},         {"400000 50000\n", 8u},
      {"100000 0\n", std::nullopt},   {"100000\n", std::nullopt}, {"2x 100000\n", std::nullopt},
  };
  for (const auto& [text, cores] : quotas) EXPECT_EQ(QuotaCores(text), cores) << text;
  const std::pair<const char*, std::optional<std::string>> cgroups[] = {
      {"0::/user.slice/session-2.scope\n", "/user.slice/session-2.scope"},
      {"4:memory:/a\n1:cpu:/b\n0::/c\n", "/c"},
      {"4:memory:/a\n1:cpu,cpuacct:/b\n", std::nullopt},
      {"10::/x\n", std::nullopt}};
  for (const auto& [text, path] : cgroups) EXPECT_EQ(CgroupPath(text), path) << text;
}

}  // namespace
}  // namespace zavo
