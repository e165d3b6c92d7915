#include "container/CySurfelCollectionBase.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>

namespace {

// Freed blocks kept for reuse. Fresh pages are expensive (every first touch of a page is a
// fault), and a filter that compacts a collection allocates and frees the same sizes on every
// call; handing the same mapped blocks back makes that cost disappear.
class BlockCache {
 public:
  static constexpr std::size_t c_nMinBytes = 32 * 1024;
  static constexpr std::size_t c_nMaxBytes = 256u * 1024 * 1024;
  static constexpr std::size_t c_nMaxBlocks = 64;

  static BlockCache& Instance() {
    // Never destroyed: containers may be freed during static destruction.
    static BlockCache* s_pCache = new BlockCache;
    return *s_pCache;
  }

  // A cached block of at least nBytes and at most twice that, or null.
  unsigned char* Take(std::size_t nBytes, std::size_t& nCapacity) {
    if (nBytes < c_nMinBytes) return nullptr;
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t best = m_vecBlocks.size();
    for (std::size_t k = 0; k < m_vecBlocks.size(); ++k) {
      const std::size_t cap = m_vecBlocks[k].nCapacity;
      if (cap >= nBytes && cap / 2 <= nBytes &&
          (best == m_vecBlocks.size() || cap < m_vecBlocks[best].nCapacity)) {
        best = k;
      }
    }
    if (best == m_vecBlocks.size()) return nullptr;
    unsigned char* p = m_vecBlocks[best].p;
    nCapacity = m_vecBlocks[best].nCapacity;
    m_nBytes -= nCapacity;
    m_vecBlocks.erase(m_vecBlocks.begin() + static_cast<std::ptrdiff_t>(best));
    return p;
  }

  // Keeps the block, dropping the oldest ones beyond the limits; false when it is not kept.
  bool Give(unsigned char* p, std::size_t nCapacity) noexcept {
    if (nCapacity < c_nMinBytes || nCapacity > c_nMaxBytes) return false;
    std::vector<unsigned char*> evicted;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      try {
        m_vecBlocks.push_back({p, nCapacity});
      } catch (...) {
        return false;
      }
      m_nBytes += nCapacity;
      while (m_nBytes > c_nMaxBytes || m_vecBlocks.size() > c_nMaxBlocks) {
        m_nBytes -= m_vecBlocks.front().nCapacity;
        evicted.push_back(m_vecBlocks.front().p);
        m_vecBlocks.erase(m_vecBlocks.begin());
      }
    }
    for (unsigned char* q : evicted) ::operator delete[](q);
    return true;
  }

  void Clear() noexcept {
    std::vector<Entry> blocks;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      blocks.swap(m_vecBlocks);
      m_nBytes = 0;
    }
    for (const Entry& e : blocks) ::operator delete[](e.p);
  }

 private:
  struct Entry {
    unsigned char* p;
    std::size_t nCapacity;
  };
  std::mutex m_mutex;
  std::vector<Entry> m_vecBlocks;
  std::size_t m_nBytes = 0;
};

}  // namespace

void CyAttributeContainer::BlockDeleter::operator()(unsigned char* p) const noexcept {
  if (p == nullptr) return;
  if (!BlockCache::Instance().Give(p, nCapacity)) ::operator delete[](p);
}

CyAttributeContainer::Block CyAttributeContainer::Allocate(std::size_t nBytes) {
  std::size_t nCapacity = 0;
  unsigned char* p = BlockCache::Instance().Take(nBytes, nCapacity);
  if (p == nullptr) {
    nCapacity = nBytes;
    p = static_cast<unsigned char*>(::operator new[](nBytes == 0 ? 1 : nBytes));
  }
  return Block(p, BlockDeleter{nCapacity});
}

void CyAttributeContainer::ReleaseCachedBlocks() noexcept { BlockCache::Instance().Clear(); }

CyAttributeContainer::CyAttributeContainer(const CyAttributeContainer& other)
    : m_nCount(other.m_nCount) {
  m_vecAttributes.reserve(other.m_vecAttributes.size());
  for (const Attribute& a : other.m_vecAttributes) {
    const std::size_t n = static_cast<std::size_t>(m_nCount) * a.nElementSize;
    Attribute copy;
    copy.id = a.id;
    copy.nElementSize = a.nElementSize;
    copy.bytes = Allocate(n);
    if (n > 0) std::memcpy(copy.bytes.get(), a.bytes.get(), n);
    m_vecAttributes.push_back(std::move(copy));
  }
}

CyAttributeContainer::~CyAttributeContainer() = default;

void CyAttributeContainer::Add(unsigned int id, unsigned int nElementSize) {
  if (const Attribute* p = Find(id)) {
    if (p->nElementSize != nElementSize) {
      throw std::invalid_argument("attribute added twice with different element sizes");
    }
    return;
  }
  const std::size_t n = static_cast<std::size_t>(m_nCount) * nElementSize;
  Attribute a;
  a.id = id;
  a.nElementSize = nElementSize;
  a.bytes = Allocate(n);
  if (n > 0) std::memset(a.bytes.get(), 0, n);
  m_vecAttributes.push_back(std::move(a));
}

CyAttributeContainer::View CyAttributeContainer::Get(unsigned int id) const noexcept {
  View v;
  if (const Attribute* p = Find(id)) {
    v.pData = p->bytes.get();
    v.nStride = p->nElementSize;
    v.nElementSize = p->nElementSize;
  }
  return v;
}

std::vector<unsigned int> CyAttributeContainer::GetIds() const {
  std::vector<unsigned int> ids;
  ids.reserve(m_vecAttributes.size());
  for (const Attribute& a : m_vecAttributes) ids.push_back(a.id);
  return ids;
}

void CyAttributeContainer::SetCount(unsigned int n, bool bKeep) {
  // Allocate every array that has to grow first, so that a failed allocation leaves the
  // container unchanged; arrays that are large enough stay where they are.
  std::vector<Block> fresh(m_vecAttributes.size());
  for (std::size_t k = 0; k < m_vecAttributes.size(); ++k) {
    const Attribute& a = m_vecAttributes[k];
    const std::size_t need = static_cast<std::size_t>(n) * a.nElementSize;
    if (need <= a.bytes.get_deleter().nCapacity && a.bytes) continue;
    fresh[k] = Allocate(need);
    if (bKeep) {
      const std::size_t keep = std::min(need, static_cast<std::size_t>(m_nCount) * a.nElementSize);
      if (keep > 0) std::memcpy(fresh[k].get(), a.bytes.get(), keep);
    }
  }
  for (std::size_t k = 0; k < m_vecAttributes.size(); ++k) {
    if (fresh[k]) m_vecAttributes[k].bytes = std::move(fresh[k]);
  }
  m_nCount = n;
}

const CyAttributeContainer::Attribute* CyAttributeContainer::Find(unsigned int id) const noexcept {
  for (const Attribute& a : m_vecAttributes) {
    if (a.id == id) return &a;
  }
  return nullptr;
}
