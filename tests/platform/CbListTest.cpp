#include <string>

#include <gtest/gtest.h>

#include "base/CbArray.h"
#include "base/CbList.h"

namespace {

std::string Join(const CbList<int>& list) {
  std::string s;
  for (int v : list) s += std::to_string(v) + ",";
  return s;
}

TEST(CbList, PoolGrowsInBlocksOfOnePointFiveTimesThePrevious) {
  CbList<int> list(10);
  EXPECT_EQ(list.GetBlockCount(), 0u);
  for (int i = 0; i < 10; ++i) list.AddTail(i);
  EXPECT_EQ(list.GetBlockCount(), 1u);
  list.AddTail(10);
  ASSERT_EQ(list.GetBlockCount(), 2u);
  EXPECT_EQ(list.GetBlockNodeCount(1), 15u);
  for (int i = 11; i < 26; ++i) list.AddTail(i);
  ASSERT_EQ(list.GetBlockCount(), 3u);
  EXPECT_EQ(list.GetBlockNodeCount(2), 22u);  // 15 x 1.5 = 22.5, truncated
  EXPECT_EQ(list.GetCapacity(), 47u);

  CbList<int> small(3);
  for (int i = 0; i < 14; ++i) small.AddTail(i);
  ASSERT_EQ(small.GetBlockCount(), 4u);  // 3, 4, 6, 9
  EXPECT_EQ(small.GetBlockNodeCount(1), 4u);
  EXPECT_EQ(small.GetBlockNodeCount(2), 6u);
  EXPECT_EQ(small.GetBlockNodeCount(3), 9u);
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
