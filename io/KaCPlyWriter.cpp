#include "io/KaCPlyWriter.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "base/CbException.h"
#include "base/OutputFile.h"

namespace {

constexpr std::size_t c_nChunkBytes = std::size_t{1} << 16;
// Bytes of one binary row before the extra properties: 6 floats, 3 colour bytes, a float
// quality, tissue and boundary bytes and a 32-bit value.
constexpr std::size_t c_nBinaryRowBytes = 6 * 4 + 3 + 4 + 1 + 1 + 4;
// The longest ASCII row before the extra properties: 7 floats of at most 15 characters,
// 6 integers of at most 10, and their separators.
constexpr std::size_t c_nMaxAsciiRowBytes = 7 * 16 + 6 * 11;
constexpr std::size_t c_nMaxAsciiFloatBytes = 16;

[[noreturn]] void Fail(int line, const std::string& problem) {
  throw CbException("KaCPlyWriter::Write", __FILE__, line, problem);
}

void CheckExtra(const std::vector<KaCPlyWriter::FloatProperty>& extra, unsigned int n) {
  static const char* const c_fixed[] = {
      "x",         "y",     "z",    "nx",           "ny",          "nz",
      "red",       "green", "blue", c_szPlyQuality, c_szPlyTissue, c_szPlyBoundary,
      c_szPlyValue};
  for (std::size_t i = 0; i < extra.size(); ++i) {
    const std::string& name = extra[i].strName;
    if (name.empty() || name.find_first_of(" \t\r\n\v\f") != std::string::npos) {
      Fail(__LINE__, "extra PLY property name '" + name + "' is empty or holds white space");
    }
    bool bTaken = false;
    for (const char* f : c_fixed) bTaken = bTaken || name == f;
    for (std::size_t j = 0; j < i; ++j) bTaken = bTaken || name == extra[j].strName;
    if (bTaken) Fail(__LINE__, "extra PLY property name '" + name + "' is already used");
    if (extra[i].pValues == nullptr && n > 0) {
      Fail(__LINE__, "extra PLY property '" + name + "' has no values");
    }
  }
}

std::string HeaderText(unsigned int n, EPlyFormat eFormat, bool bSignedValue,
                       const std::vector<KaCPlyWriter::FloatProperty>& extra) {
  std::string h = "ply\nformat ";
  h += GetPlyFormatName(eFormat);
  h += " 1.0\ncomment tolvane surfel collection\nelement vertex " + std::to_string(n) +
       "\n"
       "property float x\nproperty float y\nproperty float z\n"
       "property float nx\nproperty float ny\nproperty float nz\n"
       "property uchar red\nproperty uchar green\nproperty uchar blue\n";
  h += std::string("property float ") + c_szPlyQuality + "\n";
  h += std::string("property uchar ") + c_szPlyTissue + "\n";
  h += std::string("property uchar ") + c_szPlyBoundary + "\n";
  h += std::string(bSignedValue ? "property int " : "property uint ") + c_szPlyValue + "\n";
  for (const auto& e : extra) h += "property float " + e.strName + "\n";
  h += "end_header\n";
  return h;
}

bool IsLittleEndianHost() {
  const std::uint16_t probe = 1;
  unsigned char b[2];
  std::memcpy(b, &probe, 2);
  return b[0] == 1;
}

template <std::size_t N>
inline char* Put(char* p, const void* v) {
  std::memcpy(p, v, N);
  return p + N;
}

// Reverses the byte order of the 4-byte fields of one binary row in place.
void SwapRow(char* row, std::size_t nExtra) {
  static constexpr std::size_t c_fields[] = {0, 4, 8, 12, 16, 20, 27, 33};
  auto swap4 = [](char* p) {
    std::swap(p[0], p[3]);
    std::swap(p[1], p[2]);
  };
  for (std::size_t off : c_fields) swap4(row + off);
  for (std::size_t k = 0; k < nExtra; ++k) swap4(row + c_nBinaryRowBytes + 4 * k);
}

inline char* PutText(char* p, float v) {
  // Shortest round trip; NaN prints as "nan" (which from_chars reads back, payload aside).
  return std::to_chars(p, p + c_nMaxAsciiFloatBytes, v).ptr;
}

inline char* PutText(char* p, unsigned int v) { return std::to_chars(p, p + 10, v).ptr; }

}  // namespace

std::uint64_t KaCPlyWriter::GetBinaryBodyBytes(std::uint64_t nSurfels,
                                               std::size_t nExtra) noexcept {
  return nSurfels * (c_nBinaryRowBytes + 4 * nExtra);
}

void KaCPlyWriter::Write(const KaCSurfelCollectionCCT& c, EPlyFormat eFormat,
                         const std::vector<FloatProperty>& vecExtra, const Sink& sink) {
  const unsigned int n = c.GetNrSurfels();
  CheckExtra(vecExtra, n);
  const auto positions = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = c.GetNormalAccessor();
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto values = c.GetAccessor<unsigned int>(eSurfelAttributeValue);
  // The values go out as "int" when they all fit one, which more programs load than "uint";
  // the four bytes are the same either way.
  unsigned int maxValue = 0;
  for (unsigned int i = 0; i < n; ++i) maxValue = std::max(maxValue, values[i]);
  const std::string header =
      HeaderText(n, eFormat, maxValue <= static_cast<unsigned int>(INT32_MAX), vecExtra);
  sink(header.data(), header.size());

  const KaCQualityAccessor& quality = c.GetQualityAccessor();
  const KaCTissueTypeAccessor& tissue = c.GetTissueTypeAccessor();
  const KaCBoundaryFlagAccessor& boundary = c.GetBoundaryFlagAccessor();
  const CbVector3f* table = KaCNormalCodec::GetTable();
  const std::size_t nExtra = vecExtra.size();
  std::vector<const float*> extra(nExtra);
  for (std::size_t k = 0; k < nExtra; ++k) extra[k] = vecExtra[k].pValues;

  const bool bAscii = eFormat == EPlyFormat::eAscii;
  const std::size_t rowBytes = bAscii ? c_nMaxAsciiRowBytes + nExtra * (c_nMaxAsciiFloatBytes + 1)
                                      : c_nBinaryRowBytes + 4 * nExtra;
  std::vector<char> buffer(c_nChunkBytes + rowBytes);
  char* const begin = buffer.data();
  char* p = begin;
  if (bAscii) {
    for (unsigned int i = 0; i < n; ++i) {
      const CbVector3f& pos = positions[i];
      const CbVector3f& nv = table[normals[i]];
      const KaCCompressedColor& col = colors[i];
      for (float f : {pos.x, pos.y, pos.z, nv.x, nv.y, nv.z}) {
        p = PutText(p, f);
        *p++ = ' ';
      }
      for (unsigned int u : {static_cast<unsigned int>(col.r), static_cast<unsigned int>(col.g),
                             static_cast<unsigned int>(col.b)}) {
        p = PutText(p, u);
        *p++ = ' ';
      }
      p = PutText(p, quality[i]);
      *p++ = ' ';
      *p++ = static_cast<char>('0' + tissue[i]);
      *p++ = ' ';
      *p++ = boundary[i] ? '1' : '0';
      *p++ = ' ';
      p = PutText(p, values[i]);
      for (std::size_t k = 0; k < nExtra; ++k) {
        *p++ = ' ';
        p = PutText(p, extra[k][i]);
      }
      *p++ = '\n';
      if (static_cast<std::size_t>(p - begin) >= c_nChunkBytes) {
        sink(begin, static_cast<std::size_t>(p - begin));
        p = begin;
      }
    }
  } else {
    const bool swap = (eFormat == EPlyFormat::eBinaryLittleEndian) != IsLittleEndianHost();
    for (unsigned int i = 0; i < n; ++i) {
      char* const row = p;
      const float q = quality[i];
      const auto t = static_cast<unsigned char>(tissue[i]);
      const auto b = static_cast<unsigned char>(boundary[i] ? 1 : 0);
      const std::uint32_t v = values[i];
      p = Put<12>(p, &positions[i]);
      p = Put<12>(p, &table[normals[i]]);
      p = Put<3>(p, &colors[i]);
      p = Put<4>(p, &q);
      p = Put<1>(p, &t);
      p = Put<1>(p, &b);
      p = Put<4>(p, &v);
      for (std::size_t k = 0; k < nExtra; ++k) p = Put<4>(p, &extra[k][i]);
      if (swap) SwapRow(row, nExtra);
      if (static_cast<std::size_t>(p - begin) >= c_nChunkBytes) {
        sink(begin, static_cast<std::size_t>(p - begin));
        p = begin;
      }
    }
  }
  if (p != begin) sink(begin, static_cast<std::size_t>(p - begin));
}

void KaCPlyWriter::WriteFile(const KaCSurfelCollectionCCT& collection, const std::string& strPath,
                             EPlyFormat eFormat, const std::vector<FloatProperty>& vecExtra) {
  CheckExtra(vecExtra, collection.GetNrSurfels());
  tolvane::OutputFile file(strPath);
  Write(collection, eFormat, vecExtra,
        [&](const char* pData, std::size_t nBytes) { file.Write(pData, nBytes); });
  file.Commit();
}

std::string KaCPlyWriter::WriteBuffer(const KaCSurfelCollectionCCT& collection, EPlyFormat eFormat,
                                      const std::vector<FloatProperty>& vecExtra) {
  std::string out;
  Write(collection, eFormat, vecExtra,
        [&](const char* pData, std::size_t nBytes) { out.append(pData, nBytes); });
  return out;
}
