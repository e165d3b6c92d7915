#pragma once

#include <tolvane/Export.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "base/IReferenceCounted.h"

/// The attribute storage of a surfel collection: one contiguous array per attribute number,
/// each with a fixed element size. Views stay valid until the count grows beyond what the
/// arrays already hold, or an attribute is added.
///
/// Arrays of 32 KiB and more come from a process-wide cache of recently freed blocks (at most 64
/// blocks and 256 MiB, thread-safe), so that collections built and dropped over and over, as
/// compactions do, reuse memory that is already mapped instead of paying for fresh pages each time.
class TOLVANE_API CyAttributeContainer {
 public:
  CyAttributeContainer() = default;
  CyAttributeContainer(const CyAttributeContainer& other);
  CyAttributeContainer& operator=(const CyAttributeContainer&) = delete;
  ~CyAttributeContainer();

  struct View {
    void* pData = nullptr;
    unsigned int nStride = 0;
    unsigned int nElementSize = 0;
  };

  /// Adds an attribute of the given element size, holding GetCount() zeroed elements. Adding
  /// an attribute that is there already keeps it (and fails if the sizes differ).
  void Add(unsigned int id, unsigned int nElementSize);
  [[nodiscard]] bool Has(unsigned int id) const noexcept { return Find(id) != nullptr; }
  /// The attribute's view; pData is null when the attribute is absent.
  [[nodiscard]] View Get(unsigned int id) const noexcept;
  [[nodiscard]] std::vector<unsigned int> GetIds() const;

  [[nodiscard]] unsigned int GetCount() const noexcept { return m_nCount; }
  /// Resizes every attribute to n elements, in place when the arrays are large enough. With
  /// bKeep the first min(n, old) elements keep their bytes; every other element is left
  /// unspecified for the caller to write. Throws std::bad_alloc, leaving the container as it
  /// was.
  void SetCount(unsigned int n, bool bKeep);

  /// Frees the blocks the process-wide cache holds.
  static void ReleaseCachedBlocks() noexcept;

 private:
  struct BlockDeleter {
    std::size_t nCapacity;  // value-initialised to 0 by an empty Block
    void operator()(unsigned char* p) const noexcept;
  };
  using Block = std::unique_ptr<unsigned char[], BlockDeleter>;
  static Block Allocate(std::size_t nBytes);

  struct Attribute {
    unsigned int id = 0;
    unsigned int nElementSize = 0;
    Block bytes;
  };
  const Attribute* Find(unsigned int id) const noexcept;

  std::vector<Attribute> m_vecAttributes;
  unsigned int m_nCount = 0;
};

/// A reference-counted surfel storage as the general library sees it: an attribute container.
class TOLVANE_API CySurfelCollectionBase : public IReferenceCounted {
 public:
  ~CySurfelCollectionBase() override = default;
  [[nodiscard]] virtual CyAttributeContainer& GetAttributeContainer() = 0;
  [[nodiscard]] virtual const CyAttributeContainer& GetAttributeContainer() const = 0;
};

/// The storage a KaCSurfelContainer keeps its surfels in; shared with whoever asks for it
/// through GetCySurfelCollection.
class TOLVANE_API CySurfelCollectionStatic : public CySurfelCollectionBase {
 public:
  CySurfelCollectionStatic() = default;
  CySurfelCollectionStatic(const CySurfelCollectionStatic& other)
      : CySurfelCollectionBase(other), m_attributes(other.m_attributes) {}
  CySurfelCollectionStatic& operator=(const CySurfelCollectionStatic&) = delete;

  [[nodiscard]] CyAttributeContainer& GetAttributeContainer() override { return m_attributes; }
  [[nodiscard]] const CyAttributeContainer& GetAttributeContainer() const override {
    return m_attributes;
  }
  [[nodiscard]] const CbReferenceCounter<unsigned int>& getReferenceCounter() const override {
    return m_referenceCounter;
  }

 private:
  CbReferenceCounter<unsigned int> m_referenceCounter;
  CyAttributeContainer m_attributes;
};
