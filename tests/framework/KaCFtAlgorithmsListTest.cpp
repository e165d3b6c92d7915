#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <tolvane/KaCFtAlgorithmsList.h>

#include "container/KaAMpFtSurfelCollection.h"

namespace {

using FilterPtr = CbSmartPointer<KaIFtSurfelCollection>;
using FilterList = KaCFtAlgorithmsList::FilterList;

std::atomic<int> g_nDestroyed{0};

// Appends its letter to a shared log and adds its step to every surfel's x coordinate.
class RecordingFilter : public KaAMpFtSurfelCollection {
 public:
  RecordingFilter(char cName, std::string* pLog, float fStep = 1.0f)
      : m_cName(cName), m_pLog(pLog), m_fStep(fStep) {}
  ~RecordingFilter() override { ++g_nDestroyed; }
  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& c) const override {
    if (m_pLog != nullptr) {
      std::lock_guard<std::mutex> lock(m_logMutex);
      *m_pLog += m_cName;
    }
    for (unsigned int i = 0; i < c.GetNrSurfels(); ++i) {
      c.SetPosition(i, c.GetPosition(i) + CbVector3f(m_fStep, 0, 0));
    }
  }
  [[nodiscard]] unsigned int Count() const { return getReferenceCounter().GetCount(); }

 private:
  char m_cName;
  std::string* m_pLog;
  float m_fStep;
  static inline std::mutex m_logMutex;
};

class ThrowingFilter : public KaAMpFtSurfelCollection {
 public:
  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& /*c*/) const override {
    throw std::runtime_error("filter failed");
  }
};

// Exposes the protected members for the tests.
class InspectableList : public KaCFtAlgorithmsList {
 public:
  using KaCFtAlgorithmsList::getCSFilterAlgorithms;
  using KaCFtAlgorithmsList::getFilterAlgorithms;
  [[nodiscard]] unsigned int Count() const { return getReferenceCounter().GetCount(); }
};

FilterList Make(std::initializer_list<FilterPtr> filters) {
  FilterList list(3);
  for (const FilterPtr& f : filters) list.AddTail(f);
  return list;
}

// A repeated filter runs each time; a nested list runs in place under the same lock.
TEST(KaCFtAlgorithmsList, RunsFiltersInOrderIncludingRepeatedAndNestedEntries) {
  std::string log;
  auto* a = new RecordingFilter('a', &log);
  CbSmartPointer<KaCFtAlgorithmsList> inner(new KaCFtAlgorithmsList);
  inner->SetFilterAlgorithms(
      Make({new RecordingFilter('x', &log), new RecordingFilter('y', &log)}));
  KaCFtAlgorithmsList list;
  list.SetFilterAlgorithms(Make({a, new RecordingFilter('b', &log), a, inner, inner}));
  EXPECT_EQ(a->Count(), 2u);
  KaCSurfelCollectionCCT c(2, true);
  list(c);
  EXPECT_EQ(log, "abaxyxy");
  EXPECT_EQ(c.GetPosition(1).x, 7.0f);
}

TEST(KaCFtAlgorithmsList, CopyIsEmptyAndAssignmentSharesFilters) {
  std::string log;
  CbSmartPointer<RecordingFilter> a(new RecordingFilter('a', &log));
  CbSmartPointer<RecordingFilter> b(new RecordingFilter('b', &log));
  InspectableList source;
  source.SetFilterAlgorithms(Make({a, b}));
  EXPECT_EQ(a->Count(), 2u);

  InspectableList copy(source);
  EXPECT_EQ(copy.GetCount(), 0u);
  EXPECT_EQ(copy.Count(), 0u);

  InspectableList assigned;
  assigned = source;
  ASSERT_EQ(assigned.GetCount(), 2u);
  EXPECT_EQ(assigned.getFilterAlgorithms().GetHead().Get(), a.Get());
  EXPECT_EQ(a->Count(), 3u);
  EXPECT_EQ(b->Count(), 3u);
  const InspectableList& self = assigned;  // through a reference: compilers warn on x = x
  assigned = self;                         // self-assignment keeps everything
  EXPECT_EQ(a->Count(), 3u);
}

TEST(KaCFtAlgorithmsList, ReplacingReleasesOldFiltersBeforeReturning) {
  g_nDestroyed = 0;
  std::string log;
  InspectableList list;
  list.SetFilterAlgorithms(Make({new RecordingFilter('a', &log), new RecordingFilter('b', &log)}));
  EXPECT_EQ(g_nDestroyed, 0);
  list.SetFilterAlgorithms(list.getFilterAlgorithms());  // its own list: nothing changes
  EXPECT_EQ(list.GetCount(), 2u);
  EXPECT_EQ(g_nDestroyed, 0);
  list.SetFilterAlgorithms(Make({new RecordingFilter('c', &log)}));
  EXPECT_EQ(g_nDestroyed, 2);
  KaCSurfelCollectionCCT c(1, true);
  list(c);
  EXPECT_EQ(log, "c");
}

TEST(KaCFtAlgorithmsList, ThrowingFilterStopsTheRunAndFreesTheLock) {
  std::string log;
  InspectableList list;
  list.SetFilterAlgorithms(Make(
      {new RecordingFilter('a', &log, 5.0f), new ThrowingFilter, new RecordingFilter('c', &log)}));
  KaCSurfelCollectionCCT c(1, true);
  EXPECT_THROW(list(c), std::runtime_error);
  EXPECT_EQ(log, "a");
  EXPECT_EQ(c.GetPosition(0).x, 5.0f);  // the first filter's change stays
  bool bFree = false;
  std::thread([&] {
    bFree = list.getCSFilterAlgorithms().TryEnter();
    if (bFree) list.getCSFilterAlgorithms().Leave();
  }).join();
  EXPECT_TRUE(bFree);
  EXPECT_THROW(list(c), std::runtime_error);
  EXPECT_EQ(log, "aa");
}

// A filter that empties its own list while it runs: the temporary reference keeps it alive
// until its call returns.
class SelfRemovingFilter : public KaAMpFtSurfelCollection {
 public:
  explicit SelfRemovingFilter(KaCFtAlgorithmsList* pList) : m_pList(pList) {}
  ~SelfRemovingFilter() override { ++g_nDestroyed; }
  using KaAMpFtSurfelCollection::operator();
  void operator()(KaCSurfelCollectionCCT& /*c*/) const override {
    m_pList->SetFilterAlgorithms(FilterList(1));
    m_nDestroyedDuringCall = g_nDestroyed;
  }
  KaCFtAlgorithmsList* m_pList;
  static inline int m_nDestroyedDuringCall = -1;
};

TEST(KaCFtAlgorithmsList, RunningFilterOutlivesItsLastHolder) {
  g_nDestroyed = 0;
  KaCFtAlgorithmsList list;
  list.SetFilterAlgorithms(Make({new SelfRemovingFilter(&list)}));
  KaCSurfelCollectionCCT c(1, true);
  list(c);
  EXPECT_EQ(SelfRemovingFilter::m_nDestroyedDuringCall, 0);
  EXPECT_EQ(g_nDestroyed, 1);
  EXPECT_EQ(list.GetCount(), 0u);
}

// One thread applies while another replaces the filters: every application sees one whole
// list, old or new, never a mix.
TEST(KaCFtAlgorithmsList, ApplicationNeverSeesAHalfReplacedList) {
  std::string log;
  KaCFtAlgorithmsList list;
  const FilterList abc = Make({new RecordingFilter('a', &log), new RecordingFilter('b', &log),
                               new RecordingFilter('c', &log)});
  const FilterList xyz = Make({new RecordingFilter('x', &log), new RecordingFilter('y', &log),
                               new RecordingFilter('z', &log)});
  list.SetFilterAlgorithms(abc);
  std::atomic<bool> done{false};
  std::thread replacer([&] {
    for (int k = 0; k < 300; ++k) list.SetFilterAlgorithms((k % 2) != 0 ? abc : xyz);
    done = true;
  });
  KaCSurfelCollectionCCT c(1, true);
  int runs = 0;
  while (!done || runs < 10) {
    list(c);
    ++runs;
  }
  replacer.join();
  ASSERT_EQ(log.size() % 3, 0u);
  for (std::size_t k = 0; k < log.size(); k += 3) {
    const std::string run = log.substr(k, 3);
    EXPECT_TRUE(run == "abc" || run == "xyz") << run;
  }
}

}  // namespace
