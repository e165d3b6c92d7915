#include "io/EPlyFormat.h"

const char* GetPlyFormatName(EPlyFormat eFormat) noexcept {
  switch (eFormat) {
    case EPlyFormat::eAscii:
      return "ascii";
    case EPlyFormat::eBinaryLittleEndian:
      return "binary_little_endian";
    case EPlyFormat::eBinaryBigEndian:
      return "binary_big_endian";
  }
  return "ascii";
}
