#include "container/CySurfelCollectionBase.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

void CyAttributeContainer::Add(unsigned int id, unsigned int nElementSize) {
  if (const Attribute* p = Find(id)) {
    if (p->nElementSize != nElementSize) {
      throw std::invalid_argument("attribute added twice with different element sizes");
    }
    return;
  }
  Attribute a;
  a.id = id;
  a.nElementSize = nElementSize;
  a.bytes.assign(static_cast<std::size_t>(m_nCount) * nElementSize, 0);
  m_vecAttributes.push_back(std::move(a));
}

CyAttributeContainer::View CyAttributeContainer::Get(unsigned int id) const noexcept {
  View v;
  if (const Attribute* p = Find(id)) {
    // Views hand out write access; the container's constness guards its shape, not the bytes.
    v.pData = const_cast<unsigned char*>(p->bytes.data());
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
  // The same count keeps the arrays, so views taken before stay valid as documented.
  if (n == m_nCount) {
    if (!bKeep) {
      for (Attribute& a : m_vecAttributes) std::fill(a.bytes.begin(), a.bytes.end(), 0);
    }
    return;
  }
  // Build every new array first so that a failed allocation leaves the container unchanged.
  std::vector<std::vector<unsigned char>> fresh;
  fresh.reserve(m_vecAttributes.size());
  for (const Attribute& a : m_vecAttributes) {
    std::vector<unsigned char> bytes(static_cast<std::size_t>(n) * a.nElementSize, 0);
    if (bKeep) {
      const std::size_t keep = std::min(bytes.size(), a.bytes.size());
      if (keep > 0) std::memcpy(bytes.data(), a.bytes.data(), keep);
    }
    fresh.push_back(std::move(bytes));
  }
  for (std::size_t k = 0; k < m_vecAttributes.size(); ++k) {
    m_vecAttributes[k].bytes.swap(fresh[k]);
  }
  m_nCount = n;
}

const CyAttributeContainer::Attribute* CyAttributeContainer::Find(unsigned int id) const noexcept {
  for (const Attribute& a : m_vecAttributes) {
    if (a.id == id) return &a;
  }
  return nullptr;
}
