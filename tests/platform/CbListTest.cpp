#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbArray.h"
#include "base/CbList.h"

namespace {

std::string Join(const CbList<int>& list) {
  std::string s;
  for (int v : list) s += std::to_string(v) + ",";
  return s;
}

// Each block holds 1.5 times the previous one, truncated (22.5 -> 22, 4.5 -> 4), and a new
// block comes only when the pool is exactly full.
TEST(CbList, PoolGrowsInBlocksOfOnePointFiveTimesThePrevious) {
  const std::vector<std::size_t> cases[] = {{10, 15, 22}, {3, 4, 6, 9}};
  for (const std::vector<std::size_t>& blocks : cases) {
    CbList<int> list(blocks[0]);
    EXPECT_EQ(list.GetBlockCount(), 0u);
    std::size_t nCapacity = 0;
    for (std::size_t k = 0; k < blocks.size(); ++k) {
      nCapacity += blocks[k];
      while (list.GetCount() < nCapacity) list.AddTail(0);
      ASSERT_EQ(list.GetBlockCount(), k + 1);
      EXPECT_EQ(list.GetBlockNodeCount(k), blocks[k]);
    }
    EXPECT_EQ(list.GetCapacity(), nCapacity);
  }
}

TEST(CbList, KeepsOrderAndReusesFreedNodes) {
  CbList<int> list(4);
  list.AddTail(2);
  list.AddTail(3);
  list.AddHead(1);
  EXPECT_EQ(Join(list), "1,2,3,");
  EXPECT_EQ(list.RemoveHead(), 1);
  EXPECT_EQ(list.GetHead(), 2);
  EXPECT_EQ(list.GetTail(), 3);
  list.RemoveAll();
  EXPECT_TRUE(list.IsEmpty());
  for (int i = 0; i < 4; ++i) list.AddTail(i);
  EXPECT_EQ(list.GetBlockCount(), 1u);  // the freed nodes came back
  EXPECT_EQ(Join(list), "0,1,2,3,");

  CbList<int> copy(list);
  copy.AddTail(9);
  EXPECT_EQ(Join(copy), "0,1,2,3,9,");
  EXPECT_EQ(list.GetCount(), 4u);
  EXPECT_THROW(CbList<int>().RemoveHead(), CbExceptionContainer);
}

struct ThrowOnCopy {
  static inline int s_nCopiesLeft = 0;
  int v = 0;
  explicit ThrowOnCopy(int x) : v(x) {}
  ThrowOnCopy(const ThrowOnCopy& o) : v(o.v) {
    if (s_nCopiesLeft-- <= 0) throw std::runtime_error("copy failed");
  }
  ThrowOnCopy& operator=(const ThrowOnCopy&) = default;
};

TEST(CbList, FailedCopyLeavesTheListAndItsPoolIntact) {
  CbList<ThrowOnCopy> list(2);
  ThrowOnCopy::s_nCopiesLeft = 1;
  list.AddTail(ThrowOnCopy(1));
  EXPECT_THROW(list.AddTail(ThrowOnCopy(2)), std::runtime_error);
  EXPECT_EQ(list.GetCount(), 1u);
  ThrowOnCopy::s_nCopiesLeft = 10;
  list.AddTail(ThrowOnCopy(3));
  list.AddTail(ThrowOnCopy(4));
  EXPECT_EQ(list.GetCount(), 3u);
  EXPECT_EQ(list.GetTail().v, 4);
}

TEST(CbArray, CheckedAccessThrows) {
  CbArray<int> a;
  a.Add(5);
  a.SetSize(3);
  EXPECT_EQ(a.GetSize(), 3u);
  EXPECT_EQ(a.GetAt(0), 5);
  EXPECT_THROW((void)a.GetAt(3), CbExceptionContainer);
}

}  // namespace
