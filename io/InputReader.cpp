#include "io/InputReader.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <string_view>
#include <unordered_map>

#include "base/CbException.h"
#include "container/KaCNormalCodec.h"
#include "io/ByteSource.h"

namespace tolvane {

namespace {

constexpr std::size_t c_nStlHeaderBytes = 80;
constexpr std::size_t c_nStlFacetBytes = 50;

[[noreturn]] void Fail(const std::string& name, int line, const std::string& problem) {
  throw CbException("tolvane::InputReader::Read", __FILE__, line, name + ": " + problem);
}

bool EndsWith(const std::string& s, const char* suffix) {
  const std::size_t n = std::strlen(suffix);
  if (s.size() < n) return false;
  for (std::size_t i = 0; i < n; ++i) {
    const char c = s[s.size() - n + i];
    if (static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) != suffix[i]) return false;
  }
  return true;
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

// The lines of a text, numbered from 1, each split into white-space separated tokens.
class TextLines {
 public:
  TextLines(std::string_view text, const std::string& name) : m_text(text), m_name(name) {}

  bool Next() {
    if (m_pos >= m_text.size()) return false;
    std::size_t nl = m_text.find('\n', m_pos);
    if (nl == std::string_view::npos) nl = m_text.size();
    const std::string_view line = m_text.substr(m_pos, nl - m_pos);
    m_pos = nl + 1;
    ++m_nLine;
    m_tokens.clear();
    for (std::size_t i = 0; i < line.size();) {
      while (i < line.size() && IsSpace(line[i])) ++i;
      const std::size_t start = i;
      while (i < line.size() && !IsSpace(line[i])) ++i;
      if (i > start) m_tokens.push_back(line.substr(start, i - start));
    }
    return true;
  }
  [[nodiscard]] const std::vector<std::string_view>& Tokens() const { return m_tokens; }
  [[nodiscard]] std::size_t Size() const { return m_tokens.size(); }
  [[nodiscard]] std::string_view operator[](std::size_t i) const { return m_tokens[i]; }

  // A number token, read as a double first (as the PLY reader reads its ASCII values).
  [[nodiscard]] float Float(std::size_t i) const {
    std::string_view t = m_tokens[i];
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    double v = 0.0;
    const auto [ptr, ec] = std::from_chars(t.data(), t.data() + t.size(), v);
    if (t.empty() || ec != std::errc() || ptr != t.data() + t.size()) {
      Fail(m_name, __LINE__,
           Where() + "bad number '" + std::string(m_tokens[i].substr(0, 40)) + "'");
    }
    return static_cast<float>(v);
  }
  [[noreturn]] void Refuse(int line, const std::string& problem) const {
    Fail(m_name, line, Where() + problem);
  }
  [[nodiscard]] std::string Where() const { return "line " + std::to_string(m_nLine) + ": "; }

 private:
  std::string_view m_text;
  const std::string& m_name;
  std::size_t m_pos = 0;
  int m_nLine = 0;
  std::vector<std::string_view> m_tokens;
};

// Vertices at the same position become one; -0 and 0 are the same position.
class VertexMerger {
 public:
  std::uint32_t Add(CbVector3f p) {
    p = CbVector3f(p.x + 0.0f, p.y + 0.0f, p.z + 0.0f);
    Key k;
    std::memcpy(k.bits, &p, sizeof k.bits);
    const auto [it, bNew] = m_index.emplace(k, static_cast<std::uint32_t>(m_positions.size()));
    if (bNew) m_positions.push_back(p);
    return it->second;
  }
  [[nodiscard]] const std::vector<CbVector3f>& Positions() const { return m_positions; }

 private:
  struct Key {
    std::uint32_t bits[3];
    bool operator==(const Key& o) const {
      return bits[0] == o.bits[0] && bits[1] == o.bits[1] && bits[2] == o.bits[2];
    }
  };
  struct Hash {
    std::size_t operator()(const Key& k) const {
      std::uint64_t h = k.bits[0] * 0x9E3779B97F4A7C15ull;
      h ^= (h >> 29) ^ (k.bits[1] * 0xC2B2AE3D27D4EB4Full);
      h ^= (h >> 31) ^ (k.bits[2] * 0x165667B19E3779F9ull);
      return static_cast<std::size_t>(h ^ (h >> 32));
    }
  };
  std::unordered_map<Key, std::uint32_t, Hash> m_index;
  std::vector<CbVector3f> m_positions;
};

void CheckFinite(const CbVector3f& p, const std::string& name, const std::string& where) {
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
    Fail(name, __LINE__, where + "position is not finite");
  }
}

CbSmartPointer<KaCSurfelCollectionCCT> NewCollection(const std::vector<CbVector3f>& positions,
                                                     const std::string& name) {
  if (positions.size() > std::numeric_limits<unsigned int>::max() - 1u) {
    Fail(name, __LINE__, "too many vertices");
  }
  CbSmartPointer<KaCSurfelCollectionCCT> sp =
      new KaCSurfelCollectionCCT(static_cast<unsigned int>(positions.size()), true);
  auto pos = sp->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  for (std::size_t i = 0; i < positions.size(); ++i)
    pos[static_cast<unsigned int>(i)] = positions[i];
  return sp;
}

bool IsBinaryStl(const std::string& bytes) {
  if (bytes.size() < c_nStlHeaderBytes + 4) return false;
  std::uint32_t n = 0;
  std::memcpy(&n, bytes.data() + c_nStlHeaderBytes, 4);  // little endian, as on every host we run
  return bytes.size() == c_nStlHeaderBytes + 4 + std::uint64_t{n} * c_nStlFacetBytes;
}

bool StartsWithWord(const std::string& bytes, const char* word) {
  std::size_t i = 0;
  while (i < bytes.size() && IsSpace(bytes[i])) ++i;
  const std::size_t n = std::strlen(word);
  return bytes.compare(i, n, word) == 0 && (i + n == bytes.size() || IsSpace(bytes[i + n]));
}

// An OBJ file's first keyword is one of these (after comments and blank lines).
bool LooksLikeObj(const std::string& bytes) {
  TextLines lines(bytes, "");
  for (int k = 0; k < 1000 && lines.Next(); ++k) {
    if (lines.Size() == 0 || lines[0][0] == '#') continue;
    const std::string_view key = lines[0];
    return key == "v" || key == "vn" || key == "vt" || key == "f" || key == "o" || key == "g" ||
           key == "mtllib" || key == "usemtl" || key == "s";
  }
  return false;
}

std::uint32_t StlVertex(const char* p, VertexMerger& merger, const std::string& name,
                        std::uint32_t facet) {
  CbVector3f v;
  std::memcpy(&v, p, 12);
  CheckFinite(v, name, "facet " + std::to_string(facet) + ": ");
  return merger.Add(v);
}

CbSmartPointer<KaCSurfelCollectionCCT> ReadBinaryStl(const std::string& bytes,
                                                     const std::string& name,
                                                     std::vector<std::uint32_t>& triangles) {
  std::uint32_t n = 0;
  std::memcpy(&n, bytes.data() + c_nStlHeaderBytes, 4);
  VertexMerger merger;
  triangles.reserve(std::size_t{n} * 3);
  const char* p = bytes.data() + c_nStlHeaderBytes + 4;
  for (std::uint32_t f = 0; f < n; ++f, p += c_nStlFacetBytes) {
    // 12 bytes of facet normal (recomputed from the vertices), 3 vertices, 2 attribute bytes.
    for (int k = 0; k < 3; ++k) triangles.push_back(StlVertex(p + 12 + 12 * k, merger, name, f));
  }
  return NewCollection(merger.Positions(), name);
}

CbSmartPointer<KaCSurfelCollectionCCT> ReadAsciiStl(const std::string& bytes,
                                                    const std::string& name,
                                                    std::vector<std::uint32_t>& triangles) {
  TextLines lines(bytes, name);
  VertexMerger merger;
  bool bSolid = false;
  bool bEnd = false;
  int inLoop = -1;  // vertices seen in the open loop, -1 outside a loop
  while (lines.Next()) {
    if (lines.Size() == 0) continue;
    const std::string_view key = lines[0];
    if (bEnd && key == "solid") bSolid = bEnd = false;  // files may hold several solids
    if (bEnd) lines.Refuse(__LINE__, "data after endsolid");
    if (!bSolid) {
      if (key != "solid") lines.Refuse(__LINE__, "an ASCII STL file starts with 'solid'");
      bSolid = true;
    } else if (key == "facet" || key == "endfacet") {
      if (inLoop >= 0) lines.Refuse(__LINE__, "'" + std::string(key) + "' inside a loop");
    } else if (key == "outer") {
      if (inLoop >= 0) lines.Refuse(__LINE__, "loop inside a loop");
      inLoop = 0;
    } else if (key == "vertex") {
      if (inLoop < 0) lines.Refuse(__LINE__, "vertex outside a loop");
      if (lines.Size() != 4) lines.Refuse(__LINE__, "a vertex has three coordinates");
      const CbVector3f v(lines.Float(1), lines.Float(2), lines.Float(3));
      CheckFinite(v, name, lines.Where());
      if (++inLoop > 3) lines.Refuse(__LINE__, "a facet has three vertices");
      triangles.push_back(merger.Add(v));
    } else if (key == "endloop") {
      if (inLoop != 3) lines.Refuse(__LINE__, "a facet has three vertices");
      inLoop = -1;
    } else if (key == "endsolid") {
      if (inLoop >= 0) lines.Refuse(__LINE__, "endsolid inside a loop");
      bEnd = true;
    } else {
      lines.Refuse(__LINE__, "unknown keyword '" + std::string(key.substr(0, 40)) + "'");
    }
  }
  if (!bEnd) Fail(name, __LINE__, "no endsolid (file truncated?)");
  return NewCollection(merger.Positions(), name);
}

// One corner of an OBJ face: "v", "v/vt", "v//vn" or "v/vt/vn", indices from 1 or, negative,
// counted back from the last one read.
void ObjCorner(const TextLines& lines, std::string_view corner, std::size_t nVertices,
               std::size_t nNormals, std::uint32_t& vertex, std::int64_t& normal) {
  auto index = [&](std::string_view s, std::size_t count, const char* what) -> std::int64_t {
    std::int64_t i = 0;
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), i);
    if (s.empty() || ec != std::errc() || ptr != s.data() + s.size() || i == 0) {
      lines.Refuse(__LINE__, "bad face corner '" + std::string(corner.substr(0, 40)) + "'");
    }
    const std::int64_t resolved = i > 0 ? i - 1 : static_cast<std::int64_t>(count) + i;
    if (resolved < 0 || resolved >= static_cast<std::int64_t>(count)) {
      lines.Refuse(__LINE__, std::string("face refers to ") + what + " " + std::to_string(i) +
                                 " of " + std::to_string(count));
    }
    return resolved;
  };
  const std::size_t slash = corner.find('/');
  vertex = static_cast<std::uint32_t>(index(corner.substr(0, slash), nVertices, "vertex"));
  normal = -1;
  if (slash == std::string_view::npos) return;
  const std::size_t slash2 = corner.find('/', slash + 1);
  if (slash2 == std::string_view::npos) return;
  normal = index(corner.substr(slash2 + 1), nNormals, "normal");
}

CbSmartPointer<KaCSurfelCollectionCCT> ReadObj(const std::string& bytes, const std::string& name,
                                               std::vector<std::uint32_t>& triangles,
                                               InputReader::Contents& contents) {
  TextLines lines(bytes, name);
  std::vector<CbVector3f> positions;
  std::vector<KaCCompressedColor> colors;
  std::vector<CbVector3f> normals;
  std::vector<double> cornerNormalSum;  // per vertex, the sum of the normals its corners name
  bool bAllCornersNamed = true;
  std::vector<std::uint32_t> polygon;
  std::vector<std::int64_t> polygonNormals;
  while (lines.Next()) {
    if (lines.Size() == 0 || lines[0][0] == '#') continue;
    const std::string_view key = lines[0];
    if (key == "v") {
      if (lines.Size() < 4) lines.Refuse(__LINE__, "a vertex has three coordinates");
      const CbVector3f p(lines.Float(1), lines.Float(2), lines.Float(3));
      CheckFinite(p, name, lines.Where());
      positions.push_back(p);
      if (lines.Size() == 7) {
        colors.resize(positions.size() - 1, KaCCompressedColor(128, 128, 128));
        colors.emplace_back(lines.Float(4), lines.Float(5), lines.Float(6));
      }
    } else if (key == "vn") {
      if (lines.Size() != 4) lines.Refuse(__LINE__, "a normal has three coordinates");
      normals.emplace_back(lines.Float(1), lines.Float(2), lines.Float(3));
    } else if (key == "f") {
      if (lines.Size() < 4) lines.Refuse(__LINE__, "a face has three corners at least");
      polygon.clear();
      polygonNormals.clear();
      for (std::size_t k = 1; k < lines.Size(); ++k) {
        std::uint32_t v = 0;
        std::int64_t n = -1;
        ObjCorner(lines, lines[k], positions.size(), normals.size(), v, n);
        polygon.push_back(v);
        polygonNormals.push_back(n);
      }
      for (std::size_t k = 2; k < polygon.size(); ++k) {
        triangles.insert(triangles.end(), {polygon[0], polygon[k - 1], polygon[k]});
      }
      cornerNormalSum.resize(3 * positions.size(), 0.0);
      for (std::size_t k = 0; k < polygon.size(); ++k) {
        if (polygonNormals[k] < 0) {
          bAllCornersNamed = false;
          continue;
        }
        const CbVector3f& n = normals[static_cast<std::size_t>(polygonNormals[k])];
        const double len = std::sqrt(double{n.x} * n.x + double{n.y} * n.y + double{n.z} * n.z);
        if (!(len > 0.0) || !std::isfinite(len)) continue;
        for (int c = 0; c < 3; ++c) cornerNormalSum[3 * polygon[k] + c] += n[c] / len;
      }
    }
    // Texture coordinates, groups, objects, materials, smoothing groups, lines: not surfels.
  }
  auto sp = NewCollection(positions, name);
  if (!colors.empty()) {
    colors.resize(positions.size(), KaCCompressedColor(128, 128, 128));
    auto acc = sp->GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    for (std::size_t i = 0; i < colors.size(); ++i) acc[static_cast<unsigned int>(i)] = colors[i];
  }
  auto codes = sp->GetNormalAccessor();
  if (!triangles.empty() && bAllCornersNamed) {
    cornerNormalSum.resize(3 * positions.size(), 0.0);
    for (std::size_t i = 0; i < positions.size(); ++i) {
      codes[static_cast<unsigned int>(i)] =
          KaCNormalCodec::Encode(CbVector3f(static_cast<float>(cornerNormalSum[3 * i]),
                                            static_cast<float>(cornerNormalSum[3 * i + 1]),
                                            static_cast<float>(cornerNormalSum[3 * i + 2])));
    }
    contents.bNormals = true;
  } else if (triangles.empty() && !normals.empty()) {
    if (normals.size() != positions.size()) {
      Fail(name, __LINE__,
           std::to_string(normals.size()) + " normals for " + std::to_string(positions.size()) +
               " vertices and no faces to pair them");
    }
    for (std::size_t i = 0; i < positions.size(); ++i) {
      codes[static_cast<unsigned int>(i)] = KaCNormalCodec::Encode(normals[i]);
    }
    contents.bNormals = true;
  }
  return sp;
}

}  // namespace

std::uint64_t InputReader::SetNormalsFromTriangles(KaCSurfelCollectionCCT& collection,
                                                   const std::vector<std::uint32_t>& vecTriangles) {
  const unsigned int n = collection.GetNrSurfels();
  const auto pos = collection.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  // The cross product of two edges is twice the area times the unit normal: summing it
  // weights each face by its area.
  std::vector<double> sum(3 * std::size_t{n}, 0.0);
  for (std::size_t t = 0; t + 2 < vecTriangles.size(); t += 3) {
    const std::uint32_t i[3] = {vecTriangles[t], vecTriangles[t + 1], vecTriangles[t + 2]};
    const CbVector3f& a = pos[i[0]];
    const CbVector3f& b = pos[i[1]];
    const CbVector3f& c = pos[i[2]];
    const double e1[3] = {double{b.x} - a.x, double{b.y} - a.y, double{b.z} - a.z};
    const double e2[3] = {double{c.x} - a.x, double{c.y} - a.y, double{c.z} - a.z};
    const double cross[3] = {e1[1] * e2[2] - e1[2] * e2[1], e1[2] * e2[0] - e1[0] * e2[2],
                             e1[0] * e2[1] - e1[1] * e2[0]};
    for (std::uint32_t v : i) {
      for (int k = 0; k < 3; ++k) sum[3 * std::size_t{v} + k] += cross[k];
    }
  }
  auto codes = collection.GetNormalAccessor();
  std::uint64_t nUnset = 0;
  for (unsigned int v = 0; v < n; ++v) {
    const double* s = &sum[3 * std::size_t{v}];
    const double len = std::sqrt(s[0] * s[0] + s[1] * s[1] + s[2] * s[2]);
    if (!(len > 0.0)) {
      codes[v] = KaCNormalCodec::c_nUnsetCode;
      ++nUnset;
      continue;
    }
    codes[v] = KaCNormalCodec::Encode(CbVector3f(static_cast<float>(s[0] / len),
                                                 static_cast<float>(s[1] / len),
                                                 static_cast<float>(s[2] / len)));
  }
  collection.ResetSupportStructures();
  return nUnset;
}

CbSmartPointer<KaCSurfelCollectionCCT> InputReader::Read(ByteSource& source,
                                                         const std::string& strName,
                                                         Contents* pContents) {
  Contents contents;
  std::vector<std::uint32_t> triangles;
  CbSmartPointer<KaCSurfelCollectionCCT> sp;
  const std::string& name = source.GetName();
  const std::size_t peek = source.Fill(c_nStlHeaderBytes + 4);
  const std::string_view head(source.Data(), peek);
  if (head.substr(0, 3) == "ply") {
    contents.eFormat = EFormat::ePly;
    sp = KaCPlyReader::Read(source, &contents.ply, &triangles);
    contents.bNormals = contents.ply.bNormals;
    contents.vecWarnings = contents.ply.vecWarnings;
    contents.nTriangles = triangles.size() / 3;
    if (contents.bNormals) triangles.clear();  // the file's own normals are kept
  } else if (peek == 0) {
    Fail(name, __LINE__, "empty file");
  } else {
    const std::string bytes = source.ReadAll();
    if (IsBinaryStl(bytes)) {
      contents.eFormat = EFormat::eStlBinary;
      sp = ReadBinaryStl(bytes, name, triangles);
      contents.nTriangles = triangles.size() / 3;
    } else if (StartsWithWord(bytes, "solid") && (bytes.find("facet") != std::string::npos ||
                                                  bytes.find("endsolid") != std::string::npos)) {
      contents.eFormat = EFormat::eStlAscii;
      sp = ReadAsciiStl(bytes, name, triangles);
      contents.nTriangles = triangles.size() / 3;
    } else if (EndsWith(strName, ".stl")) {
      Fail(name, __LINE__,
           "not an STL file (neither 'solid' nor a binary size of 84 + 50 bytes per facet)");
    } else if (EndsWith(strName, ".obj") || LooksLikeObj(bytes)) {
      contents.eFormat = EFormat::eObj;
      sp = ReadObj(bytes, name, triangles, contents);
      contents.nTriangles = triangles.size() / 3;
      if (contents.bNormals) triangles.clear();
    } else {
      Fail(name, __LINE__, "not a PLY, STL or OBJ file");
    }
  }
  if (!contents.bNormals && !triangles.empty()) {
    const std::uint64_t nUnset = SetNormalsFromTriangles(*sp, triangles);
    contents.bNormals = true;
    contents.bNormalsFromFaces = true;
    if (nUnset > 0) {
      contents.vecWarnings.push_back(std::to_string(nUnset) +
                                     (nUnset == 1 ? " vertex lies" : " vertices lie") +
                                     " on no face with an area, normal left unset");
    }
  }
  if (pContents != nullptr) *pContents = std::move(contents);
  return sp;
}

CbSmartPointer<KaCSurfelCollectionCCT> InputReader::ReadFile(const std::string& strPath,
                                                             Contents* pContents) {
  ByteSource source(strPath);
  return Read(source, strPath, pContents);
}

CbSmartPointer<KaCSurfelCollectionCCT> InputReader::ReadBuffer(const void* pData,
                                                               std::size_t nBytes,
                                                               const std::string& strName,
                                                               Contents* pContents) {
  ByteSource source(pData, nBytes, strName);
  return Read(source, strName, pContents);
}

}  // namespace tolvane
