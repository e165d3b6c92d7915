#include "io/KaCPlyWriter.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <functional>

#include "io/KaCAtomicFile.h"

namespace {

constexpr std::size_t c_nChunkBytes = std::size_t{1} << 16;

std::string HeaderText(unsigned int n, EPlyFormat eFormat) {
  std::string h = "ply\nformat ";
  h += GetPlyFormatName(eFormat);
  h += " 1.0\n"
       "comment tolvane surfel collection\n"
       "element vertex " +
       std::to_string(n) +
       "\n"
       "property float x\nproperty float y\nproperty float z\n"
       "property float nx\nproperty float ny\nproperty float nz\n"
       "property uchar red\nproperty uchar green\nproperty uchar blue\n"
       "property float quality\n"
       "property uchar tissue\n"
       "property uchar boundary\n"
       "property uint value\n"
       "end_header\n";
  return h;
}

bool IsLittleEndianHost() {
  const std::uint16_t probe = 1;
  unsigned char b[2];
  std::memcpy(b, &probe, 2);
  return b[0] == 1;
}

template <class T>
void AppendBinary(std::string& out, T v, bool swap) {
  char b[sizeof(T)];
  std::memcpy(b, &v, sizeof(T));
  if (swap) {
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  out.append(b, sizeof(T));
}

template <class T>
void AppendText(std::string& out, T v, char sep) {
  char b[32];
  const auto [ptr, ec] = std::to_chars(b, b + sizeof b, v);
  (void)ec;  // 32 characters hold every float and every 32-bit integer
  out.append(b, ptr);
  out += sep;
}

// Writes header and body in chunks to sink.
void Write(const KaCSurfelCollectionCCT& c, EPlyFormat eFormat,
           const std::function<void(const std::string&)>& sink) {
  const unsigned int n = c.GetNrSurfels();
  std::string chunk = HeaderText(n, eFormat);
  chunk.reserve(c_nChunkBytes + 256);
  const auto positions = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = c.GetNormalAccessor();
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto values = c.GetAccessor<unsigned int>(eSurfelAttributeValue);
  const KaCQualityAccessor& quality = c.GetQualityAccessor();
  const KaCTissueTypeAccessor& tissue = c.GetTissueTypeAccessor();
  const KaCBoundaryFlagAccessor& boundary = c.GetBoundaryFlagAccessor();
  const CbVector3f* table = KaCNormalCodec::GetTable();
  const bool bAscii = eFormat == EPlyFormat::eAscii;
  const bool swap = (eFormat == EPlyFormat::eBinaryLittleEndian) != IsLittleEndianHost();
  for (unsigned int i = 0; i < n; ++i) {
    const CbVector3f& p = positions[i];
    const CbVector3f& nv = table[normals[i]];
    const KaCCompressedColor& col = colors[i];
    const float q = quality[i];
    const auto t = static_cast<unsigned int>(tissue[i]);
    const unsigned int b = boundary[i] ? 1u : 0u;
    if (bAscii) {
      for (float f : {p.x, p.y, p.z, nv.x, nv.y, nv.z}) AppendText(chunk, f, ' ');
      for (unsigned int u : {static_cast<unsigned int>(col.r), static_cast<unsigned int>(col.g),
                             static_cast<unsigned int>(col.b)}) {
        AppendText(chunk, u, ' ');
      }
      AppendText(chunk, q, ' ');
      AppendText(chunk, t, ' ');
      AppendText(chunk, b, ' ');
      AppendText(chunk, values[i], '\n');
    } else {
      for (float f : {p.x, p.y, p.z, nv.x, nv.y, nv.z}) AppendBinary(chunk, f, swap);
      chunk += static_cast<char>(col.r);
      chunk += static_cast<char>(col.g);
      chunk += static_cast<char>(col.b);
      AppendBinary(chunk, q, swap);
      chunk += static_cast<char>(t);
      chunk += static_cast<char>(b);
      AppendBinary(chunk, static_cast<std::uint32_t>(values[i]), swap);
    }
    if (chunk.size() >= c_nChunkBytes) {
      sink(chunk);
      chunk.clear();
    }
  }
  sink(chunk);
}

}  // namespace

void KaCPlyWriter::WriteFile(const KaCSurfelCollectionCCT& collection, const std::string& strPath,
                             EPlyFormat eFormat) {
  KaCAtomicFile file(strPath);
  Write(collection, eFormat, [&](const std::string& chunk) { file.Write(chunk); });
  file.Commit();
}

std::string KaCPlyWriter::WriteBuffer(const KaCSurfelCollectionCCT& collection,
                                      EPlyFormat eFormat) {
  std::string out;
  Write(collection, eFormat, [&](const std::string& chunk) { out += chunk; });
  return out;
}
