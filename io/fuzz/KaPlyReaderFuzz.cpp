// libFuzzer entry point for the PLY reader: any byte string must either read or throw
// CbException, never crash, hang or allocate beyond what the bytes can hold.
#include <cstddef>
#include <cstdint>

#include "base/CbException.h"
#include "io/KaCPlyReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nBytes) {
  try {
    const auto spCollection = KaCPlyReader::ReadBuffer(pData, nBytes, "fuzz.ply");
    // Touch what was read, so that the sanitizers see every attribute written.
    volatile float sink = 0.0f;
    for (unsigned int i = 0; i < spCollection->GetNrSurfels(); ++i) {
      sink = sink + spCollection->GetPosition(i).x + spCollection->GetQualityAccessor()[i];
    }
  } catch (const CbException&) {
    // Malformed input is reported, which is all that is asked of the reader.
  }
  return 0;
}
