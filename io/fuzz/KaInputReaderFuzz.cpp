// libFuzzer entry point for the mesh and point-set reader (PLY with faces, STL, OBJ): any byte
// string must either read or throw CbException, never crash, hang or allocate beyond what the
// bytes can hold. The first byte picks the name's extension, which is the reader's hint.
#include <cstddef>
#include <cstdint>

#include "base/CbException.h"
#include "io/InputReader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* pData, std::size_t nBytes) {
  if (nBytes == 0) return 0;
  static const char* const c_names[] = {"fuzz.ply", "fuzz.stl", "fuzz.obj", "fuzz"};
  try {
    const auto spCollection =
        tolvane::InputReader::ReadBuffer(pData + 1, nBytes - 1, c_names[pData[0] % 4]);
    volatile unsigned int sink = 0;
    for (unsigned int i = 0; i < spCollection->GetNrSurfels(); ++i) {
      sink = sink + spCollection->GetNormalAccessor()[i];
    }
  } catch (const CbException&) {
    // Malformed input is reported, which is all that is asked of the reader.
  }
  return 0;
}
