#include <tolvane/KaCFtAlgorithmsList.h>

namespace {

constexpr std::size_t c_nNodeBlockSize = 10;

}  // namespace

KaCFtAlgorithmsList::KaCFtAlgorithmsList() : m_FilterAlgorithms(c_nNodeBlockSize) {}

KaCFtAlgorithmsList::KaCFtAlgorithmsList(const KaCFtAlgorithmsList& other)
    : KaIFtSurfelCollection(other), m_FilterAlgorithms(c_nNodeBlockSize) {}

KaCFtAlgorithmsList& KaCFtAlgorithmsList::operator=(const KaCFtAlgorithmsList& other) {
  if (this != &other) {
    m_FilterAlgorithms.RemoveAll();
    for (const auto& spFilter : other.m_FilterAlgorithms) m_FilterAlgorithms.AddTail(spFilter);
  }
  return *this;
}

// Members go in reverse order: the critical section first, then the entries.
KaCFtAlgorithmsList::~KaCFtAlgorithmsList() = default;

void KaCFtAlgorithmsList::operator()(KaCSurfelCollectionCCT& collection) const {
  CbCriticalSectionGuard guard(m_csFilterAlgorithms);
  if (m_FilterAlgorithms.IsEmpty()) return;
  const FilterList::Node* pLast = m_FilterAlgorithms.GetTailNode();
  const FilterList::Node* pNode = m_FilterAlgorithms.GetHeadNode();
  while (pNode != nullptr) {
    const FilterList::Node* pNext = pNode->pNext;
    // The temporary reference keeps the filter alive even if its last other holder lets go
    // of it while it runs.
    const CbSmartPointer<KaIFtSurfelCollection> spFilter = pNode->value;
    (*spFilter)(collection);
    if (pNode == pLast) break;
    pNode = pNext;
  }
}

void KaCFtAlgorithmsList::SetFilterAlgorithms(const FilterList& filterAlgorithms) {
  CbCriticalSectionGuard guard(m_csFilterAlgorithms);
  if (&filterAlgorithms == &m_FilterAlgorithms) return;
  m_FilterAlgorithms.RemoveAll();
  for (const auto& spFilter : filterAlgorithms) m_FilterAlgorithms.AddTail(spFilter);
}
