#pragma once

#include <cstddef>
#include <type_traits>

/// Attribute numbers of a surfel collection and their element types.
enum ESurfelAttribute : unsigned int {
  eSurfelAttributePosition = 0,   ///< CbVector3f, 12 bytes
  eSurfelAttributeNormal = 100,   ///< 16-bit normal code (KaCNormalCodec)
  eSurfelAttributeFlags = 103,    ///< flag byte: bit 0 boundary, bits 1-2 tissue type,
                                  ///< bits 3-6 trunc(quality x 15) in compact storage
  eSurfelAttributeQuality = 104,  ///< 32-bit float quality (full attribute set only)
  eSurfelAttributeValue = 105,    ///< a four-byte value the host may use (e.g. a frame number)
  eSurfelAttributeColor = 108     ///< KaCCompressedColor, 3 bytes R, G, B
};

/// Which attributes a collection holds, and so how it stores qualities.
enum ESurfelAttributeSet : int {
  /// Positions, normals, flag byte, float qualities (104), value (105), colours. Qualities are
  /// kept exactly as written.
  eSurfelAttributeSetFull = 0,
  /// The same without attribute 104: the quality lives in bits 3-6 of the flag byte as
  /// trunc(q x 15), so a written 0.5 reads back as 7/15.
  eSurfelAttributeSetCompact = 1
};

/// View of one attribute: the first element and the distance between elements in bytes.
/// Element i lives at pData + i * nStride bytes. Valid until the collection's count changes.
template <class T>
struct KaTAttributeAccessor {
  T* pData = nullptr;
  unsigned int nStride = 0;

  T& operator[](unsigned int i) const noexcept {
    using Byte = std::conditional_t<std::is_const_v<T>, const unsigned char, unsigned char>;
    return *reinterpret_cast<T*>(reinterpret_cast<Byte*>(pData) +
                                 static_cast<std::size_t>(i) * nStride);
  }
};
