#include <atomic>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/CbCriticalSection.h"
#include "base/CbSmartPointer.h"

namespace {

std::atomic<int> g_nDestroyed{0};
std::atomic<int> g_nDeleted{0};

class Counted : public IReferenceCounted {
 public:
  Counted() = default;
  Counted(const Counted& other) : IReferenceCounted(other) {}
  ~Counted() override { ++g_nDestroyed; }
  [[nodiscard]] const CbReferenceCounter<unsigned int>& getReferenceCounter() const override {
    return m_counter;
  }
  CbReferenceCounter<unsigned int> m_counter;
  int m_iPayload = 7;
};

// A second base in front, so that the counted face is not at the object's address.
struct Padding {
  virtual ~Padding() = default;
  double m_dPad = 1.0;
};
class CountedSecond : public Padding, public Counted {};

void CountingDeleter(const IReferenceCounted* p) {
  ++g_nDeleted;
  delete p;
}

TEST(CbSmartPointer, CountsFollowCopiesMovesAndResets) {
  g_nDestroyed = 0;
  auto* p = new Counted;
  EXPECT_EQ(p->getReferenceCounter().GetCount(), 0u);
  {
    CbSmartPointer<Counted> a(p);
    EXPECT_EQ(p->m_counter.GetCount(), 1u);
    CbSmartPointer<Counted> b = a;
    EXPECT_EQ(p->m_counter.GetCount(), 2u);
    CbSmartPointer<Counted> c = std::move(b);
    EXPECT_EQ(p->m_counter.GetCount(), 2u);
    EXPECT_EQ(b.Get(), nullptr);
    CbSmartPointer<const Counted> d = c;  // conversion to const
    EXPECT_EQ(p->m_counter.GetCount(), 3u);
    c.Reset();
    d = nullptr;
    EXPECT_EQ(p->m_counter.GetCount(), 1u);
    EXPECT_EQ(g_nDestroyed, 0);
  }
  EXPECT_EQ(g_nDestroyed, 1);
}

TEST(CbSmartPointer, CopiedObjectStartsFromZeroSecondBaseAndDeleterDestroyWhole) {
  g_nDestroyed = 0;
  g_nDeleted = 0;
  CbSmartPointer<Counted> a(new Counted);
  Counted copy(*a);
  EXPECT_EQ(copy.getReferenceCounter().GetCount(), 0u);
  EXPECT_EQ(a->getReferenceCounter().GetCount(), 1u);

  CbSmartPointer<Counted> b(new CountedSecond);  // face at an offset inside the object
  EXPECT_NE(static_cast<void*>(b.Get()),
            static_cast<void*>(static_cast<Padding*>(static_cast<CountedSecond*>(b.Get()))));
  b.Reset();
  EXPECT_EQ(g_nDestroyed, 1);

  b = new Counted;
  b->m_counter.SetDeleter(&CountingDeleter);
  b.Reset();
  EXPECT_EQ(g_nDeleted, 1);
  EXPECT_EQ(g_nDestroyed, 2);
}

TEST(CbWeakPointer, IsNulledWhenTheObjectDies) {
  CbSmartPointer<Counted> a(new Counted);
  CbWeakPointer<Counted> w(a);
  CbWeakPointer<Counted> w2 = w;
  EXPECT_EQ(w.Lock()->m_iPayload, 7);
  EXPECT_TRUE(a->m_counter.HasWeakLinks());
  a.Reset();
  EXPECT_EQ(w.Lock().Get(), nullptr);
  EXPECT_TRUE(w2.IsExpired());
}

// Many threads copy and drop pointers to one object while the main thread drops its own; the
// object must be destroyed exactly once, after the last holder let go.
TEST(CbSmartPointer, ReleaseToZeroRaceDestroysOnce) {
  for (int round = 0; round < 50; ++round) {
    g_nDestroyed = 0;
    CbSmartPointer<Counted> shared(new Counted);
    CbWeakPointer<Counted> weak(shared);
    std::vector<std::thread> threads;
    std::atomic<bool> go{false};
    for (int t = 0; t < 4; ++t) {
      CbSmartPointer<Counted> mine = shared;
      threads.emplace_back([mine = std::move(mine), &go, &weak]() mutable {
        while (!go) std::this_thread::yield();
        for (int k = 0; k < 200; ++k) {
          CbSmartPointer<Counted> tmp = mine;
          CbSmartPointer<Counted> locked = weak.Lock();
          if (locked) {
            EXPECT_EQ(locked->m_iPayload, 7);
          }
        }
        mine.Reset();
      });
    }
    go = true;
    shared.Reset();
    for (auto& t : threads) t.join();
    EXPECT_EQ(g_nDestroyed, 1);
    EXPECT_TRUE(weak.IsExpired());
  }
}

TEST(CbCriticalSection, IsReentrantForItsOwnerAndExclusiveForOthers) {
  CbCriticalSection cs;
  cs.Enter();
  cs.Enter();  // same thread: no deadlock
  bool bOtherGotIt = true;
  std::thread([&] { bOtherGotIt = cs.TryEnter(); }).join();
  EXPECT_FALSE(bOtherGotIt);
  cs.Leave();
  cs.Leave();
  std::thread([&] {
    bOtherGotIt = cs.TryEnter();
    if (bOtherGotIt) cs.Leave();
  }).join();
  EXPECT_TRUE(bOtherGotIt);
}

}  // namespace
