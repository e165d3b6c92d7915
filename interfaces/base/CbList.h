#pragma once

#include <cstddef>
#include <iterator>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "base/CbException.h"

/// Doubly linked list whose nodes come from a pool of its own. The pool grows in blocks: the
/// first block holds the number of nodes given at construction, each further block 1.5 times
/// the previous one (truncated). Freed nodes go back to the pool and are reused; the blocks are
/// released with the list. When the pool cannot get memory the list throws
/// CbExceptionContainer and stays as it was. Not synchronised: the owner locks.
template <class T>
class CbList {
 public:
  struct Node {
    Node* pNext = nullptr;
    Node* pPrev = nullptr;
    T value;
  };

  class const_iterator {
   public:
    using iterator_category = std::bidirectional_iterator_tag;
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    using pointer = const T*;
    using reference = const T&;
    const_iterator() = default;
    explicit const_iterator(const Node* p) : m_p(p) {}
    reference operator*() const { return m_p->value; }
    pointer operator->() const { return &m_p->value; }
    const_iterator& operator++() {
      m_p = m_p->pNext;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator old = *this;
      m_p = m_p->pNext;
      return old;
    }
    bool operator==(const const_iterator& o) const { return m_p == o.m_p; }
    bool operator!=(const const_iterator& o) const { return m_p != o.m_p; }

   private:
    const Node* m_p = nullptr;
  };

  explicit CbList(std::size_t nBlockSize = 10) : m_nBlockSize(nBlockSize == 0 ? 1 : nBlockSize) {}
  CbList(const CbList& other) : m_nBlockSize(other.m_nBlockSize) {
    for (const T& v : other) AddTail(v);
  }
  CbList& operator=(const CbList& other) {
    if (this != &other) {
      RemoveAll();
      for (const T& v : other) AddTail(v);
    }
    return *this;
  }
  ~CbList() { RemoveAll(); }

  /// Appends a copy of the value after the last node; gives the new node.
  Node* AddTail(const T& value) {
    Node* p = NewNode(value);
    p->pPrev = m_pTail;
    if (m_pTail != nullptr) {
      m_pTail->pNext = p;
    } else {
      m_pHead = p;
    }
    m_pTail = p;
    ++m_nCount;
    return p;
  }
  /// Inserts a copy of the value before the first node; gives the new node.
  Node* AddHead(const T& value) {
    Node* p = NewNode(value);
    p->pNext = m_pHead;
    if (m_pHead != nullptr) {
      m_pHead->pPrev = p;
    } else {
      m_pTail = p;
    }
    m_pHead = p;
    ++m_nCount;
    return p;
  }
  /// Removes the first node and gives its value. Throws CbExceptionContainer on an empty list.
  T RemoveHead() {
    if (m_pHead == nullptr) {
      throw CbExceptionContainer("CbList::RemoveHead", __FILE__, __LINE__, "list is empty");
    }
    Node* p = m_pHead;
    T value = std::move(p->value);
    m_pHead = p->pNext;
    if (m_pHead != nullptr) {
      m_pHead->pPrev = nullptr;
    } else {
      m_pTail = nullptr;
    }
    --m_nCount;
    FreeNode(p);
    return value;
  }
  /// Releases every entry, walking from the first node, and returns the nodes to the pool.
  void RemoveAll() noexcept {
    while (m_pHead != nullptr) {
      Node* p = m_pHead;
      m_pHead = p->pNext;
      if (m_pHead == nullptr) m_pTail = nullptr;
      --m_nCount;
      FreeNode(p);
    }
  }

  [[nodiscard]] std::size_t GetCount() const noexcept { return m_nCount; }
  [[nodiscard]] bool IsEmpty() const noexcept { return m_nCount == 0; }
  [[nodiscard]] const T& GetHead() const { return CheckedNode(m_pHead)->value; }
  [[nodiscard]] const T& GetTail() const { return CheckedNode(m_pTail)->value; }
  [[nodiscard]] Node* GetHeadNode() const noexcept { return m_pHead; }
  [[nodiscard]] Node* GetTailNode() const noexcept { return m_pTail; }

  const_iterator begin() const noexcept { return const_iterator(m_pHead); }
  const_iterator end() const noexcept { return const_iterator(nullptr); }

  /// Pool diagnostics: number of blocks, nodes in block k, and nodes held in all blocks.
  [[nodiscard]] std::size_t GetBlockCount() const noexcept { return m_vecBlocks.size(); }
  [[nodiscard]] std::size_t GetBlockNodeCount(std::size_t k) const { return m_vecBlocks[k].n; }
  [[nodiscard]] std::size_t GetCapacity() const noexcept {
    std::size_t n = 0;
    for (const Block& b : m_vecBlocks) n += b.n;
    return n;
  }

 private:
  // Raw node storage; a node's value is constructed when the node is taken from the pool and
  // destroyed when it goes back.
  struct Slot {
    alignas(Node) unsigned char bytes[sizeof(Node)];
  };
  struct Block {
    std::unique_ptr<Slot[]> slots;
    std::size_t n = 0;
  };

  Node* CheckedNode(Node* p) const {
    if (p == nullptr)
      throw CbExceptionContainer("CbList::Get", __FILE__, __LINE__, "list is empty");
    return p;
  }

  void Grow() {
    std::size_t n =
        m_vecBlocks.empty() ? m_nBlockSize : static_cast<std::size_t>(m_vecBlocks.back().n * 1.5);
    if (n == 0) n = 1;
    try {
      Block b;
      b.slots.reset(new Slot[n]);
      b.n = n;
      m_vecBlocks.push_back(std::move(b));
    } catch (const std::bad_alloc&) {
      throw CbExceptionContainer("CbList::Grow", __FILE__, __LINE__,
                                 "the node pool cannot get memory");
    }
    Slot* slots = m_vecBlocks.back().slots.get();
    for (std::size_t k = n; k-- > 0;) {
      Node* p = reinterpret_cast<Node*>(&slots[k]);
      FreeListPush(p);
    }
  }
  void FreeListPush(Node* p) noexcept {
    *reinterpret_cast<Node**>(static_cast<void*>(p)) = m_pFree;
    m_pFree = p;
  }
  Node* NewNode(const T& value) {
    if (m_pFree == nullptr) Grow();
    Node* p = m_pFree;
    m_pFree = *reinterpret_cast<Node**>(static_cast<void*>(p));
    try {
      return new (static_cast<void*>(p)) Node{nullptr, nullptr, value};
    } catch (...) {
      FreeListPush(p);
      throw;
    }
  }
  void FreeNode(Node* p) noexcept {
    p->~Node();
    FreeListPush(p);
  }

  std::size_t m_nBlockSize;
  std::vector<Block> m_vecBlocks;
  Node* m_pFree = nullptr;
  Node* m_pHead = nullptr;
  Node* m_pTail = nullptr;
  std::size_t m_nCount = 0;
};
