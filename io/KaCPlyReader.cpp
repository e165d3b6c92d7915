#include "io/KaCPlyReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "base/CbException.h"
#include "container/KaCNormalCodec.h"
#include "io/ByteSource.h"

namespace {

using tolvane::ByteSource;

constexpr const char* c_szFunction = "KaCPlyReader::Read";

[[noreturn]] void Fail(const std::string& name, int line, const std::string& problem) {
  throw CbException(c_szFunction, __FILE__, line, name + ": " + problem);
}

// ---------------------------------------------------------------------------------------------
// Header model

enum class EType { eInt8, eUInt8, eInt16, eUInt16, eInt32, eUInt32, eFloat32, eFloat64 };

std::size_t SizeOf(EType t) {
  switch (t) {
    case EType::eInt8:
    case EType::eUInt8:
      return 1;
    case EType::eInt16:
    case EType::eUInt16:
      return 2;
    case EType::eInt32:
    case EType::eUInt32:
    case EType::eFloat32:
      return 4;
    case EType::eFloat64:
      return 8;
  }
  return 1;
}

bool IsInteger(EType t) { return t != EType::eFloat32 && t != EType::eFloat64; }

bool ParseType(std::string_view s, EType& t) {
  static const struct {
    const char* name;
    EType type;
  } c_types[] = {
      {"char", EType::eInt8},      {"int8", EType::eInt8},       {"uchar", EType::eUInt8},
      {"uint8", EType::eUInt8},    {"short", EType::eInt16},     {"int16", EType::eInt16},
      {"ushort", EType::eUInt16},  {"uint16", EType::eUInt16},   {"int", EType::eInt32},
      {"int32", EType::eInt32},    {"uint", EType::eUInt32},     {"uint32", EType::eUInt32},
      {"float", EType::eFloat32},  {"float32", EType::eFloat32}, {"double", EType::eFloat64},
      {"float64", EType::eFloat64}};
  for (const auto& e : c_types) {
    if (s == e.name) {
      t = e.type;
      return true;
    }
  }
  return false;
}

// The vertex properties this reader gives a meaning to.
enum ERole : int {
  eRoleNone = -1,
  eRoleX,
  eRoleY,
  eRoleZ,
  eRoleNX,
  eRoleNY,
  eRoleNZ,
  eRoleRed,
  eRoleGreen,
  eRoleBlue,
  eRoleQuality,
  eRoleTissue,
  eRoleBoundary,
  eRoleValue,
  eRoleCount
};

constexpr const char* c_roleNames[eRoleCount] = {"x",      "y",        "z",     "nx",   "ny",
                                                 "nz",     "red",      "green", "blue", "quality",
                                                 "tissue", "boundary", "value"};

// The role of a property name; bPrefixed tells whether it came with the scalar-field prefix.
int RoleOf(std::string_view name, bool& bPrefixed) {
  bPrefixed = false;
  for (int r = 0; r < eRoleCount; ++r) {
    if (name == c_roleNames[r]) return r;
  }
  const std::string_view prefix = c_szPlyScalarPrefix;
  if (name.substr(0, prefix.size()) != prefix) return eRoleNone;
  name.remove_prefix(prefix.size());
  for (int r = eRoleQuality; r < eRoleCount; ++r) {
    if (name == c_roleNames[r]) {
      bPrefixed = true;
      return r;
    }
  }
  return eRoleNone;
}

struct Property {
  std::string name;
  EType type = EType::eUInt8;
  bool bList = false;
  EType countType = EType::eUInt8;
  int role = eRoleNone;
  std::size_t offset = 0;  // within a binary row of an element without lists
};

struct Element {
  std::string name;
  std::uint64_t count = 0;
  std::vector<Property> props;
  bool bFixed = true;        // no list properties: every binary row has rowBytes bytes
  std::size_t rowBytes = 0;  // with bFixed; otherwise the fewest bytes a row can take
};

struct Header {
  EPlyFormat format = EPlyFormat::eAscii;
  std::vector<Element> elements;
  std::size_t vertexElement = 0;
  int faceElement = -1;  // index of the element "face", or -1
  int faceList = -1;     // its list property of vertex indices, or -1
  int roleProperty[eRoleCount];
  int lines = 0;  // header lines, so that body lines are numbered as in the file
};

std::vector<std::string_view> Tokens(std::string_view line) {
  std::vector<std::string_view> out;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) out.push_back(line.substr(start, i - start));
  }
  return out;
}

std::string Quote(std::string_view s) {
  // Keep messages one line and printable whatever the file holds.
  std::string out = "'";
  for (char c : s.substr(0, 60)) {
    const auto u = static_cast<unsigned char>(c);
    out += (u >= 0x20 && u < 0x7F) ? c : '?';
  }
  if (s.size() > 60) out += "...";
  return out + "'";
}

// Reads up to and including the end_header line: no further, so that a refused header costs
// no body bytes, even from a pipe.
std::string ReadHeaderText(ByteSource& src) {
  const std::string& name = src.GetName();
  if (src.Fill(4) == 0) Fail(name, __LINE__, "empty file");
  if (std::string_view(src.Data(), std::min<std::size_t>(src.Available(), 3)) != "ply") {
    Fail(name, __LINE__, "not a PLY file");
  }
  std::size_t want = 4096;
  std::size_t scanned = 0;  // start of the first line not yet looked at
  for (;;) {
    const std::size_t avail = src.Fill(want);
    const std::string_view text(src.Data(), std::min(avail, KaCPlyReader::c_nMaxHeaderBytes));
    for (;;) {
      const std::size_t nl = text.find('\n', scanned);
      if (nl == std::string_view::npos) break;
      const auto tok = Tokens(text.substr(scanned, nl - scanned));
      scanned = nl + 1;
      if (!tok.empty() && (tok[0] == "end_header" || tok[0] == "end_header\r")) {
        std::string header(src.Data(), scanned);
        src.Consume(scanned);
        return header;
      }
    }
    if (avail > KaCPlyReader::c_nMaxHeaderBytes) {
      Fail(name, __LINE__, "no end_header within the first 1 MiB");
    }
    if (avail < want) Fail(name, __LINE__, "header ends without end_header (file truncated?)");
    want = std::min(want * 4, KaCPlyReader::c_nMaxHeaderBytes + 1);
  }
}

Header ParseHeader(const std::string& text, const std::string& name) {
  Header h;
  std::size_t pos = 0;
  bool bFormat = false;
  bool bEnd = false;
  while (!bEnd) {
    const std::size_t nl = text.find('\n', pos);
    std::string_view line(text.data() + pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = nl + 1;
    ++h.lines;
    const std::string where = "header line " + std::to_string(h.lines) + ": ";
    if (h.lines == 1) {
      if (line != "ply") Fail(name, __LINE__, "not a PLY file (first line is not 'ply')");
      continue;
    }
    const auto tok = Tokens(line);
    if (tok.empty()) continue;
    const std::string_view key = tok[0];
    if (key == "comment" || key == "obj_info") continue;
    if (key == "format") {
      if (tok.size() != 3) Fail(name, __LINE__, where + "malformed format line");
      if (bFormat) Fail(name, __LINE__, where + "second format line");
      if (tok[1] == "ascii") {
        h.format = EPlyFormat::eAscii;
      } else if (tok[1] == "binary_little_endian") {
        h.format = EPlyFormat::eBinaryLittleEndian;
      } else if (tok[1] == "binary_big_endian") {
        h.format = EPlyFormat::eBinaryBigEndian;
      } else {
        Fail(name, __LINE__, "unknown format " + Quote(tok[1]));
      }
      if (tok[2] != "1.0" && tok[2] != "1") {
        Fail(name, __LINE__, "unsupported PLY version " + Quote(tok[2]));
      }
      bFormat = true;
    } else if (key == "element") {
      if (tok.size() != 3) Fail(name, __LINE__, where + "malformed element line");
      Element e;
      e.name = std::string(tok[1]);
      const auto [ptr, ec] = std::from_chars(tok[2].data(), tok[2].data() + tok[2].size(), e.count);
      if (ec != std::errc() || ptr != tok[2].data() + tok[2].size()) {
        Fail(name, __LINE__, where + "bad count " + Quote(tok[2]) + " of element " + Quote(tok[1]));
      }
      h.elements.push_back(std::move(e));
    } else if (key == "property") {
      if (h.elements.empty()) Fail(name, __LINE__, where + "property before any element");
      Property p;
      if (tok.size() >= 2 && tok[1] == "list") {
        if (tok.size() != 5) Fail(name, __LINE__, where + "malformed list property");
        if (!ParseType(tok[2], p.countType) || !IsInteger(p.countType)) {
          Fail(name, __LINE__, where + "bad list count type " + Quote(tok[2]));
        }
        if (!ParseType(tok[3], p.type)) {
          Fail(name, __LINE__, where + "unknown property type " + Quote(tok[3]));
        }
        p.bList = true;
        p.name = std::string(tok[4]);
      } else {
        if (tok.size() != 3) Fail(name, __LINE__, where + "malformed property line");
        if (!ParseType(tok[1], p.type)) {
          Fail(name, __LINE__, where + "unknown property type " + Quote(tok[1]));
        }
        p.name = std::string(tok[2]);
      }
      Element& e = h.elements.back();
      p.offset = e.rowBytes;
      e.rowBytes += SizeOf(p.bList ? p.countType : p.type);
      e.bFixed = e.bFixed && !p.bList;
      e.props.push_back(std::move(p));
    } else if (key == "end_header") {
      bEnd = true;
    } else {
      Fail(name, __LINE__, where + "unknown keyword " + Quote(key));
    }
  }
  if (!bFormat) Fail(name, __LINE__, "header has no format line");

  // The vertex element and the meaning of its properties.
  bool bVertex = false;
  for (std::size_t i = 0; i < h.elements.size(); ++i) {
    const Element& e = h.elements[i];
    if (e.name == "face" && h.faceElement < 0) {
      h.faceElement = static_cast<int>(i);
      for (std::size_t k = 0; k < e.props.size(); ++k) {
        if (e.props[k].bList && IsInteger(e.props[k].type) &&
            (e.props[k].name == "vertex_indices" || e.props[k].name == "vertex_index")) {
          h.faceList = static_cast<int>(k);
        }
      }
    }
    if (e.name != "vertex") continue;
    if (bVertex) Fail(name, __LINE__, "more than one vertex element");
    bVertex = true;
    h.vertexElement = i;
  }
  if (!bVertex) Fail(name, __LINE__, "no vertex element");
  for (int& r : h.roleProperty) r = -1;
  bool rolePrefixed[eRoleCount] = {};
  auto& props = h.elements[h.vertexElement].props;
  for (std::size_t i = 0; i < props.size(); ++i) {
    bool bPrefixed = false;
    const int role = RoleOf(props[i].name, bPrefixed);
    if (role == eRoleNone) continue;
    if (props[i].bList)
      Fail(name, __LINE__, "vertex property " + Quote(props[i].name) + " is a list");
    const int taken = h.roleProperty[role];
    if (taken >= 0 && rolePrefixed[role] == bPrefixed) {
      Fail(name, __LINE__, "duplicate vertex property " + Quote(props[i].name));
    }
    if (taken >= 0 && bPrefixed) continue;  // the plain name wins
    if (taken >= 0) props[static_cast<std::size_t>(taken)].role = eRoleNone;
    h.roleProperty[role] = static_cast<int>(i);
    rolePrefixed[role] = bPrefixed;
    props[i].role = role;
  }
  for (int r : {eRoleX, eRoleY, eRoleZ}) {
    if (h.roleProperty[r] < 0) {
      Fail(name, __LINE__,
           std::string("vertex element lacks property '") + c_roleNames[r] +
               "' (x y z are required)");
    }
  }
  auto allOrNone = [&](int a, const char* what) {
    const int n =
        (h.roleProperty[a] >= 0) + (h.roleProperty[a + 1] >= 0) + (h.roleProperty[a + 2] >= 0);
    if (n != 0 && n != 3)
      Fail(name, __LINE__, std::string("vertex element has only part of ") + what);
  };
  allOrNone(eRoleNX, "nx ny nz");
  allOrNone(eRoleRed, "red green blue");
  if (h.elements[h.vertexElement].count > std::numeric_limits<unsigned int>::max() - 1u) {
    Fail(name, __LINE__,
         "too many vertices (" + std::to_string(h.elements[h.vertexElement].count) + ")");
  }
  return h;
}

// ---------------------------------------------------------------------------------------------
// Storing vertices

// Surfels are stored in blocks of this many rows: the columns of a block stay in the cache.
constexpr unsigned int c_nBlockRows = 1024;

unsigned char ColorByte(double v, EType t, std::uint64_t& changed) {
  double b = 0.0;
  double top = 255.0;
  switch (t) {
    case EType::eUInt8:
      return static_cast<unsigned char>(v);
    case EType::eUInt16:
      b = v / 257.0;
      break;
    case EType::eFloat32:
    case EType::eFloat64:
      b = v * 255.0;
      top = 1.0;
      break;
    default:
      b = v;
      break;
  }
  const double limit = top == 1.0 ? v : b;
  changed += !(limit >= 0.0 && limit <= top);
  if (!(b > 0.0)) return 0;
  if (b >= 255.0) return 255;
  return static_cast<unsigned char>(b + 0.5);
}

// Counts of values changed to fit their attribute, by role.
struct Changes {
  std::uint64_t n[eRoleCount] = {};
};

// Where the vertices go. The collection is allocated once the vertex count has been checked
// against the bytes left, or grown as rows arrive when the input's size is unknown.
class Target {
 public:
  Target(const Header& h, const std::string& name) : m_h(h), m_name(name) {
    const Element& vertex = h.elements[h.vertexElement];
    for (int c = 0; c < 3; ++c) {
      const int prop = h.roleProperty[eRoleRed + c];
      if (prop >= 0) m_colorTypes[c] = vertex.props[static_cast<std::size_t>(prop)].type;
    }
  }

  // Makes room for nRows surfels; bAll allocates the whole element at once.
  void Reserve(std::uint64_t nRows, bool bAll) {
    const std::uint64_t count = m_h.elements[m_h.vertexElement].count;
    if (m_spCollection && nRows <= m_nCapacity) return;
    const std::uint64_t grown = std::max<std::uint64_t>(std::uint64_t{2} * m_nCapacity, 65536);
    const auto capacity =
        static_cast<unsigned int>(bAll ? count : std::min(count, std::max(nRows, grown)));
    if (!m_spCollection) {
      m_spCollection = new KaCSurfelCollectionCCT(capacity, true, eSurfelAttributeSetFull);
    } else {
      m_spCollection->SetCount(capacity, true);
    }
    m_nCapacity = capacity;
    KaCSurfelCollectionCCT& c = *m_spCollection;
    m_positions = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
    m_normals = c.GetNormalAccessor();
    m_colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
    m_quality = c.GetAccessor<float>(eSurfelAttributeQuality);
    m_values = c.GetAccessor<unsigned int>(eSurfelAttributeValue);
  }

  CbSmartPointer<KaCSurfelCollectionCCT> Finish() {
    if (!m_spCollection) Reserve(0, true);
    return m_spCollection;
  }

  // Stores n surfels from first on from columns of values by role (null where the role is
  // absent or stored otherwise).
  void StoreColumns(std::uint64_t first, unsigned int n, const double* const* col) {
    const auto i0 = static_cast<unsigned int>(first);
    if (col[eRoleX] != nullptr) {
      for (unsigned int k = 0; k < n; ++k) {
        m_positions[i0 + k] =
            CbVector3f(static_cast<float>(col[eRoleX][k]), static_cast<float>(col[eRoleY][k]),
                       static_cast<float>(col[eRoleZ][k]));
      }
      CheckPositions(i0, n);
    }
    if (col[eRoleNX] != nullptr) {
      for (unsigned int k = 0; k < n; ++k) {
        m_normals[i0 + k] = KaCNormalCodec::EncodeFast(
            CbVector3f(static_cast<float>(col[eRoleNX][k]), static_cast<float>(col[eRoleNY][k]),
                       static_cast<float>(col[eRoleNZ][k])));
      }
    }
    if (col[eRoleRed] != nullptr) {
      for (unsigned int k = 0; k < n; ++k) {
        m_colors[i0 + k] = KaCCompressedColor(
            ColorByte(col[eRoleRed][k], m_colorTypes[0], m_changes.n[eRoleRed]),
            ColorByte(col[eRoleGreen][k], m_colorTypes[1], m_changes.n[eRoleGreen]),
            ColorByte(col[eRoleBlue][k], m_colorTypes[2], m_changes.n[eRoleBlue]));
      }
    }
    if (col[eRoleQuality] != nullptr) {
      std::uint64_t changed = 0;
      for (unsigned int k = 0; k < n; ++k) {
        const double q = col[eRoleQuality][k];
        const auto f = static_cast<float>(q);
        changed += std::isinf(f) && !std::isinf(q);
        m_quality[i0 + k] = f;
      }
      m_changes.n[eRoleQuality] += changed;
    }
    if (col[eRoleTissue] != nullptr) {
      const KaCTissueTypeAccessor& tissue = m_spCollection->GetTissueTypeAccessor();
      for (unsigned int k = 0; k < n; ++k) {
        const double t = col[eRoleTissue][k];
        if (!(t >= 0.0 && t <= 3.0) || t != std::floor(t)) {
          Fail(m_name, __LINE__,
               "vertex " + std::to_string(i0 + k) + ": tissue type " + std::to_string(t) +
                   " is not one of 0, 1, 2, 3");
        }
        tissue.Set(i0 + k, static_cast<unsigned char>(t));
      }
    }
    if (col[eRoleBoundary] != nullptr) {
      const KaCBoundaryFlagAccessor& boundary = m_spCollection->GetBoundaryFlagAccessor();
      std::uint64_t changed = 0;
      for (unsigned int k = 0; k < n; ++k) {
        const double b = col[eRoleBoundary][k];
        changed += b != 0.0 && b != 1.0;
        boundary.Set(i0 + k, b != 0.0);
      }
      m_changes.n[eRoleBoundary] += changed;
    }
    if (col[eRoleValue] != nullptr) {
      std::uint64_t changed = 0;
      for (unsigned int k = 0; k < n; ++k) {
        const double value = col[eRoleValue][k];
        const unsigned int u = !(value > 0.0)          ? 0u
                               : value >= 4294967295.0 ? 4294967295u
                                                       : static_cast<unsigned int>(value);
        changed += static_cast<double>(u) != value;
        m_values[i0 + k] = u;
      }
      m_changes.n[eRoleValue] += changed;
    }
  }

  // Tissue types 0..3 and boundary bytes straight from binary rows into the flag bytes.
  void StoreTissueBytes(unsigned int i0, unsigned int n, const char* src, std::size_t rb) {
    const KaCTissueTypeAccessor& tissue = m_spCollection->GetTissueTypeAccessor();
    for (unsigned int k = 0; k < n; ++k) {
      tissue.Set(i0 + k, static_cast<unsigned char>(src[k * rb]));
    }
  }
  void StoreBoundaryBytes(unsigned int i0, unsigned int n, const char* src, std::size_t rb) {
    const KaCBoundaryFlagAccessor& boundary = m_spCollection->GetBoundaryFlagAccessor();
    std::uint64_t changed = 0;
    for (unsigned int k = 0; k < n; ++k) {
      const auto b = static_cast<unsigned char>(src[k * rb]);
      changed += b > 1;
      boundary.Set(i0 + k, b != 0);
    }
    m_changes.n[eRoleBoundary] += changed;
  }

  // Positions must be finite; the check is a pass over the exponent bits of the block.
  void CheckPositions(unsigned int i0, unsigned int n) const {
    bool bBad = false;
    for (unsigned int k = 0; k < n; ++k) {
      const CbVector3f& p = m_positions[i0 + k];
      // x - x is 0 for a finite x and NaN otherwise: no branch, so the loop vectorises.
      const float zero = (p.x - p.x) + (p.y - p.y) + (p.z - p.z);
      bBad |= zero != zero;
    }
    if (!bBad) return;
    for (unsigned int k = 0; k < n; ++k) {
      const CbVector3f& p = m_positions[i0 + k];
      if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
        Fail(m_name, __LINE__, "vertex " + std::to_string(i0 + k) + ": position is not finite");
      }
    }
  }

  KaTAttributeAccessor<CbVector3f>& Positions() { return m_positions; }
  KaTAttributeAccessor<unsigned short>& Normals() { return m_normals; }
  KaTAttributeAccessor<KaCCompressedColor>& Colors() { return m_colors; }
  KaTAttributeAccessor<float>& Quality() { return m_quality; }
  KaTAttributeAccessor<unsigned int>& Values() { return m_values; }

  std::vector<std::string> Warnings() const {
    std::vector<std::string> out;
    const Element& vertex = m_h.elements[m_h.vertexElement];
    for (int r = 0; r < eRoleCount; ++r) {
      if (m_changes.n[r] == 0) continue;
      const std::string& prop = vertex.props[static_cast<std::size_t>(m_h.roleProperty[r])].name;
      const std::string rows =
          std::to_string(m_changes.n[r]) + (m_changes.n[r] == 1 ? " row" : " rows");
      std::string what;
      switch (r) {
        case eRoleRed:
        case eRoleGreen:
        case eRoleBlue:
          what = IsInteger(m_colorTypes[r - eRoleRed]) ? " out of range, clamped to 0..255"
                                                       : " out of range, clamped to 0..1";
          break;
        case eRoleQuality:
          what = " beyond the float range, read as infinite";
          break;
        case eRoleBoundary:
          what = " neither 0 nor 1, read as set";
          break;
        default:
          what = " not an integer in 0..4294967295, clamped and truncated";
          break;
      }
      out.push_back(prop + ": " + rows + what);
    }
    return out;
  }

 private:
  const Header& m_h;
  const std::string& m_name;
  CbSmartPointer<KaCSurfelCollectionCCT> m_spCollection;
  std::uint64_t m_nCapacity = 0;
  EType m_colorTypes[3] = {EType::eUInt8, EType::eUInt8, EType::eUInt8};
  KaTAttributeAccessor<CbVector3f> m_positions;
  KaTAttributeAccessor<unsigned short> m_normals;
  KaTAttributeAccessor<KaCCompressedColor> m_colors;
  KaTAttributeAccessor<float> m_quality;
  KaTAttributeAccessor<unsigned int> m_values;
  Changes m_changes;
};

// Columns of one block of rows, by role.
struct Columns {
  Columns() : storage(static_cast<std::size_t>(eRoleCount) * c_nBlockRows) {
    for (int r = 0; r < eRoleCount; ++r) {
      all[r] = storage.data() + static_cast<std::size_t>(r) * c_nBlockRows;
      used[r] = nullptr;
    }
  }
  std::vector<double> storage;
  double* all[eRoleCount];
  const double* used[eRoleCount];  // the columns a store takes, null for the others
};

// The vertex rows of an element read value by value: each row's values go into the columns at
// Row(), and every c_nBlockRows rows (and at the end) the block is stored.
class RowBlocks {
 public:
  RowBlocks(const Element& e, bool bVertex, Target& t, Columns& cols)
      : m_bVertex(bVertex), m_t(t), m_cols(cols) {
    for (int r = 0; r < eRoleCount; ++r) cols.used[r] = nullptr;
    for (const Property& prop : e.props) {
      if (bVertex && prop.role != eRoleNone) cols.used[prop.role] = cols.all[prop.role];
    }
  }
  // Where value v of property prop of the current row goes.
  void Put(const Property& prop, double v) {
    if (m_bVertex && prop.role != eRoleNone) m_cols.all[prop.role][m_nInBlock] = v;
  }
  void EndRow() {
    if (m_bVertex && ++m_nInBlock == c_nBlockRows) Flush();
  }
  void Flush() {
    if (!m_bVertex || m_nInBlock == 0) return;
    m_t.Reserve(m_nBlockStart + m_nInBlock, false);
    m_t.StoreColumns(m_nBlockStart, m_nInBlock, m_cols.used);
    m_nBlockStart += m_nInBlock;
    m_nInBlock = 0;
  }

 private:
  bool m_bVertex;
  Target& m_t;
  Columns& m_cols;
  unsigned int m_nInBlock = 0;
  std::uint64_t m_nBlockStart = 0;
};

// Faces, kept as triangles when the caller wants them.
struct Faces {
  std::vector<std::uint32_t>* pTriangles = nullptr;
  std::vector<std::uint32_t> polygon;

  void AddPolygon() {
    for (std::size_t k = 2; k < polygon.size(); ++k) {
      pTriangles->insert(pTriangles->end(), {polygon[0], polygon[k - 1], polygon[k]});
    }
    polygon.clear();
  }
};

// ---------------------------------------------------------------------------------------------
// Binary body

bool IsLittleEndianHost() {
  const std::uint16_t probe = 1;
  unsigned char b[2];
  std::memcpy(b, &probe, 2);
  return b[0] == 1;
}

template <class T>
T LoadSwapped(const char* p, bool swap) {
  unsigned char b[sizeof(T)];
  std::memcpy(b, p, sizeof(T));
  if (swap) std::reverse(b, b + sizeof(T));
  T v;
  std::memcpy(&v, b, sizeof(T));
  return v;
}

double LoadBinary(const char* p, EType t, bool swap) {
  switch (t) {
    case EType::eInt8:
      return static_cast<signed char>(p[0]);
    case EType::eUInt8:
      return static_cast<unsigned char>(p[0]);
    case EType::eInt16:
      return LoadSwapped<std::int16_t>(p, swap);
    case EType::eUInt16:
      return LoadSwapped<std::uint16_t>(p, swap);
    case EType::eInt32:
      return LoadSwapped<std::int32_t>(p, swap);
    case EType::eUInt32:
      return LoadSwapped<std::uint32_t>(p, swap);
    case EType::eFloat32:
      return LoadSwapped<float>(p, swap);
    case EType::eFloat64:
      return LoadSwapped<double>(p, swap);
  }
  return 0.0;
}

// One column of n rows (rowBytes apart) into doubles: a loop per type and byte order, chosen
// once per block.
template <class T, bool Swap>
void LoadColumnOf(const char* p, std::size_t rowBytes, unsigned int n, double* out) {
  for (unsigned int k = 0; k < n; ++k) {
    out[k] = static_cast<double>(LoadSwapped<T>(p + k * rowBytes, Swap));
  }
}

template <bool Swap>
void LoadColumnSwap(EType t, const char* p, std::size_t rowBytes, unsigned int n, double* out) {
  switch (t) {
    case EType::eInt8:
      return LoadColumnOf<std::int8_t, Swap>(p, rowBytes, n, out);
    case EType::eUInt8:
      return LoadColumnOf<std::uint8_t, Swap>(p, rowBytes, n, out);
    case EType::eInt16:
      return LoadColumnOf<std::int16_t, Swap>(p, rowBytes, n, out);
    case EType::eUInt16:
      return LoadColumnOf<std::uint16_t, Swap>(p, rowBytes, n, out);
    case EType::eInt32:
      return LoadColumnOf<std::int32_t, Swap>(p, rowBytes, n, out);
    case EType::eUInt32:
      return LoadColumnOf<std::uint32_t, Swap>(p, rowBytes, n, out);
    case EType::eFloat32:
      return LoadColumnOf<float, Swap>(p, rowBytes, n, out);
    case EType::eFloat64:
      return LoadColumnOf<double, Swap>(p, rowBytes, n, out);
  }
}

void LoadColumn(EType t, bool swap, const char* p, std::size_t rowBytes, unsigned int n,
                double* out) {
  if (swap) {
    LoadColumnSwap<true>(t, p, rowBytes, n, out);
  } else {
    LoadColumnSwap<false>(t, p, rowBytes, n, out);
  }
}

// How the vertex element's binary rows are stored: groups whose layout matches the collection
// (three consecutive floats for the position, ...) are copied directly, their bytes swapped
// where the file's byte order is not the host's; the rest go through columns of doubles.
struct VertexPlan {
  int positionOffset = -1;  // x y z as three consecutive floats
  int normalOffset = -1;    // nx ny nz likewise
  int colorOffset = -1;     // red green blue as three consecutive uchars
  int qualityOffset = -1;   // a float
  int valueOffset = -1;     // a uint, or an int (bValueSigned)
  int tissueOffset = -1;    // a uchar
  int boundaryOffset = -1;  // a uchar
  bool bValueSigned = false;
  bool bDirect[eRoleCount] = {};
};

VertexPlan PlanVertex(const Header& h) {
  VertexPlan plan;
  const Element& e = h.elements[h.vertexElement];
  auto prop = [&](int role) -> const Property* {
    const int i = h.roleProperty[role];
    return i < 0 ? nullptr : &e.props[static_cast<std::size_t>(i)];
  };
  auto triple = [&](int role, EType t) -> int {
    const Property* a = prop(role);
    const Property* b = prop(role + 1);
    const Property* c = prop(role + 2);
    if (a == nullptr || a->type != t || b->type != t || c->type != t) return -1;
    if (b->offset != a->offset + SizeOf(t) || c->offset != b->offset + SizeOf(t)) return -1;
    for (int r = role; r < role + 3; ++r) plan.bDirect[r] = true;
    return static_cast<int>(a->offset);
  };
  if (!e.bFixed) return plan;
  plan.positionOffset = triple(eRoleX, EType::eFloat32);
  plan.normalOffset = triple(eRoleNX, EType::eFloat32);
  plan.colorOffset = triple(eRoleRed, EType::eUInt8);
  if (const Property* q = prop(eRoleQuality); q != nullptr && q->type == EType::eFloat32) {
    plan.qualityOffset = static_cast<int>(q->offset);
    plan.bDirect[eRoleQuality] = true;
  }
  for (const auto& [role, pOffset] : {std::pair<int, int*>{eRoleTissue, &plan.tissueOffset},
                                      std::pair<int, int*>{eRoleBoundary, &plan.boundaryOffset}}) {
    if (const Property* b = prop(role); b != nullptr && b->type == EType::eUInt8) {
      *pOffset = static_cast<int>(b->offset);
      plan.bDirect[role] = true;
    }
  }
  if (const Property* v = prop(eRoleValue);
      v != nullptr && (v->type == EType::eUInt32 || v->type == EType::eInt32)) {
    plan.valueOffset = static_cast<int>(v->offset);
    plan.bValueSigned = v->type == EType::eInt32;
    plan.bDirect[eRoleValue] = true;
  }
  return plan;
}

// Three floats at p, their bytes swapped with Swap.
template <bool Swap>
CbVector3f LoadFloat3(const char* p) {
  if constexpr (!Swap) {
    CbVector3f v;
    std::memcpy(&v, p, 12);
    return v;
  } else {
    return {LoadSwapped<float>(p, true), LoadSwapped<float>(p + 4, true),
            LoadSwapped<float>(p + 8, true)};
  }
}

// Stores n whole binary vertex rows starting at p as surfels first.. first + n - 1; Swap when
// the file's byte order is not the host's.
template <bool Swap>
void StoreBinaryRows(const char* p, unsigned int n, std::uint64_t first, const Element& e,
                     const VertexPlan& plan, Target& t, Columns& cols) {
  const std::size_t rb = e.rowBytes;
  const auto i0 = static_cast<unsigned int>(first);
  for (int r = 0; r < eRoleCount; ++r) cols.used[r] = nullptr;
  for (const Property& prop : e.props) {
    if (prop.role == eRoleNone || plan.bDirect[prop.role]) continue;
    LoadColumn(prop.type, Swap, p + prop.offset, rb, n, cols.all[prop.role]);
    cols.used[prop.role] = cols.all[prop.role];
  }
  t.StoreColumns(first, n, cols.used);
  // A value the direct copy cannot take goes through the column store, which refuses it or
  // counts it as changed, naming the vertex.
  const auto storeColumn = [&](int role, const char* src, EType type) {
    LoadColumn(type, Swap, src, rb, n, cols.all[role]);
    for (int r = 0; r < eRoleCount; ++r) cols.used[r] = r == role ? cols.all[r] : nullptr;
    t.StoreColumns(first, n, cols.used);
  };
  if (plan.positionOffset >= 0) {
    const char* src = p + plan.positionOffset;
    auto& pos = t.Positions();
    for (unsigned int k = 0; k < n; ++k) pos[i0 + k] = LoadFloat3<Swap>(src + k * rb);
    t.CheckPositions(i0, n);
  }
  if (plan.normalOffset >= 0) {
    const char* src = p + plan.normalOffset;
    auto& normals = t.Normals();
    for (unsigned int k = 0; k < n; ++k) {
      normals[i0 + k] = KaCNormalCodec::EncodeFast(LoadFloat3<Swap>(src + k * rb));
    }
  }
  if (plan.colorOffset >= 0) {
    const char* src = p + plan.colorOffset;
    auto& colors = t.Colors();
    for (unsigned int k = 0; k < n; ++k) std::memcpy(&colors[i0 + k], src + k * rb, 3);
  }
  if (plan.qualityOffset >= 0) {
    const char* src = p + plan.qualityOffset;
    auto& quality = t.Quality();
    for (unsigned int k = 0; k < n; ++k) quality[i0 + k] = LoadSwapped<float>(src + k * rb, Swap);
  }
  if (plan.tissueOffset >= 0) {
    const char* src = p + plan.tissueOffset;
    unsigned int any = 0;
    for (unsigned int k = 0; k < n; ++k) any |= static_cast<unsigned char>(src[k * rb]);
    if (any > 3) storeColumn(eRoleTissue, src, EType::eUInt8);
    t.StoreTissueBytes(i0, n, src, rb);
  }
  if (plan.boundaryOffset >= 0) t.StoreBoundaryBytes(i0, n, p + plan.boundaryOffset, rb);
  if (plan.valueOffset >= 0) {
    const char* src = p + plan.valueOffset;
    auto& values = t.Values();
    std::uint32_t any = 0;
    for (unsigned int k = 0; k < n; ++k) {
      const auto u = LoadSwapped<std::uint32_t>(src + k * rb, Swap);
      any |= u;
      values[i0 + k] = u;
    }
    // A negative int is clamped to 0.
    if (plan.bValueSigned && (any & 0x80000000u) != 0) storeColumn(eRoleValue, src, EType::eInt32);
  }
}

[[noreturn]] void FailTruncated(const std::string& name, const Element& e, std::uint64_t row) {
  Fail(name, __LINE__, "body truncated in '" + e.name + "' row " + std::to_string(row));
}

// Refuses an element whose rows cannot fit in what is left of the input, when that is known,
// before anything is allocated or looped over.
void CheckRowsFit(const Element& e, std::uint64_t minRow, std::uint64_t available, const char* unit,
                  const std::string& name) {
  if (minRow == 0 || e.count <= available / minRow) return;
  const std::uint64_t need = e.count > UINT64_MAX / minRow ? UINT64_MAX : e.count * minRow;
  Fail(name, __LINE__,
       "header claims " + std::to_string(e.count) + " '" + e.name + "' rows (at least " +
           std::to_string(need) + " " + unit + ") but the body holds only " +
           std::to_string(available));
}

void ReadBinaryElement(ByteSource& src, const Header& h, std::size_t ei, Target& t, Columns& cols,
                       Faces& faces) {
  const std::string& name = src.GetName();
  const Element& e = h.elements[ei];
  const bool swap = (h.format == EPlyFormat::eBinaryLittleEndian) != IsLittleEndianHost();
  const bool bVertex = ei == h.vertexElement;
  const bool bFaces = static_cast<int>(ei) == h.faceElement && faces.pTriangles != nullptr;
  const std::uint64_t known = src.GetKnownRemaining();
  if (known != UINT64_MAX) CheckRowsFit(e, e.rowBytes, known, "bytes", name);
  if (bVertex && known != UINT64_MAX) t.Reserve(e.count, true);

  if (e.bFixed && !bFaces) {
    // Whole rows straight from the buffer, a block at a time.
    const VertexPlan plan = bVertex ? PlanVertex(h) : VertexPlan();
    const std::size_t rb = e.rowBytes;
    std::uint64_t row = 0;
    while (row < e.count) {
      if (src.Fill(rb) < rb) FailTruncated(name, e, row);
      const std::uint64_t fit = std::min<std::uint64_t>(src.Available() / rb, e.count - row);
      if (!bVertex) {
        src.Consume(static_cast<std::size_t>(fit * rb));
        row += fit;
        continue;
      }
      t.Reserve(row + fit, false);
      for (std::uint64_t done = 0; done < fit;) {
        const auto n = static_cast<unsigned int>(std::min<std::uint64_t>(fit - done, c_nBlockRows));
        if (swap) {
          StoreBinaryRows<true>(src.Data(), n, row + done, e, plan, t, cols);
        } else {
          StoreBinaryRows<false>(src.Data(), n, row + done, e, plan, t, cols);
        }
        src.Consume(n * rb);
        done += n;
      }
      row += fit;
    }
    return;
  }

  // Rows with lists, value by value.
  RowBlocks blocks(e, bVertex, t, cols);
  for (std::uint64_t row = 0; row < e.count; ++row) {
    for (std::size_t pi = 0; pi < e.props.size(); ++pi) {
      const Property& prop = e.props[pi];
      if (prop.bList) {
        const std::size_t cs = SizeOf(prop.countType);
        if (src.Fill(cs) < cs) FailTruncated(name, e, row);
        const double n = LoadBinary(src.Data(), prop.countType, swap);
        src.Consume(cs);
        if (n < 0.0) {
          Fail(name, __LINE__,
               "negative list length in '" + e.name + "' row " + std::to_string(row));
        }
        const auto items = static_cast<std::uint64_t>(n);
        const std::size_t s = SizeOf(prop.type);
        if (src.GetKnownRemaining() != UINT64_MAX && items > src.GetKnownRemaining() / s) {
          FailTruncated(name, e, row);
        }
        if (bFaces && static_cast<int>(pi) == h.faceList) {
          for (std::uint64_t k = 0; k < items; ++k) {
            if (src.Fill(s) < s) FailTruncated(name, e, row);
            const double v = LoadBinary(src.Data(), prop.type, swap);
            faces.polygon.push_back(v < 0.0 ? UINT32_MAX : static_cast<std::uint32_t>(v));
            src.Consume(s);
          }
          faces.AddPolygon();
          continue;
        }
        // Skipped a buffer at a time, so that a huge count from a stream costs no memory.
        for (std::uint64_t left = items * s; left > 0;) {
          const std::size_t want =
              static_cast<std::size_t>(std::min<std::uint64_t>(left, 1u << 20));
          const std::size_t got = std::min(src.Fill(want), want);
          if (got == 0) FailTruncated(name, e, row);
          src.Consume(got);
          left -= got;
        }
        continue;
      }
      const std::size_t s = SizeOf(prop.type);
      if (src.Fill(s) < s) FailTruncated(name, e, row);
      if (bVertex && prop.role != eRoleNone)
        blocks.Put(prop, LoadBinary(src.Data(), prop.type, swap));
      src.Consume(s);
    }
    blocks.EndRow();
  }
  blocks.Flush();
}

// ---------------------------------------------------------------------------------------------
// ASCII body

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool FitsType(double v, EType t) {
  if (!IsInteger(t)) return true;
  if (v != std::floor(v)) return false;
  switch (t) {
    case EType::eInt8:
      return v >= -128.0 && v <= 127.0;
    case EType::eUInt8:
      return v >= 0.0 && v <= 255.0;
    case EType::eInt16:
      return v >= -32768.0 && v <= 32767.0;
    case EType::eUInt16:
      return v >= 0.0 && v <= 65535.0;
    case EType::eInt32:
      return v >= -2147483648.0 && v <= 2147483647.0;
    case EType::eUInt32:
      return v >= 0.0 && v <= 4294967295.0;
    default:
      return true;
  }
}

// The lines of an ASCII body, numbered as in the file.
class Lines {
 public:
  Lines(ByteSource& src, int headerLines) : m_src(src), m_nLine(headerLines) {}

  // The next line that holds anything but white space, without its end; false at the end of
  // the input. The view is valid until the next call.
  bool Next(std::string_view& line) {
    for (;;) {
      m_src.Consume(m_nPending);
      m_nPending = 0;
      std::size_t avail = m_src.Available();
      const char* nl = static_cast<const char*>(std::memchr(m_src.Data(), '\n', avail));
      while (nl == nullptr) {
        if (avail > KaCPlyReader::c_nMaxLineBytes) {
          Fail(m_src.GetName(), __LINE__,
               "line " + std::to_string(m_nLine + 1) + " is longer than 1 MiB");
        }
        const std::size_t before = avail;
        avail = m_src.Fill(std::max<std::size_t>(2 * avail, 65536));
        if (avail == before) break;  // the last line ends the input without a line feed
        nl = static_cast<const char*>(std::memchr(m_src.Data() + before, '\n', avail - before));
      }
      if (avail == 0) return false;
      const std::size_t len = nl != nullptr ? static_cast<std::size_t>(nl - m_src.Data()) : avail;
      m_nPending = nl != nullptr ? len + 1 : len;
      ++m_nLine;
      line = std::string_view(m_src.Data(), len);
      for (char c : line) {
        if (!IsSpace(c)) return true;
      }
    }
  }
  [[nodiscard]] int Number() const { return m_nLine; }
  void Finish() {
    m_src.Consume(m_nPending);
    m_nPending = 0;
  }

 private:
  ByteSource& m_src;
  int m_nLine;
  std::size_t m_nPending = 0;  // the bytes of the line last returned, consumed on the next call
};

// The values of one row, parsed one after another from its line.
class RowParser {
 public:
  RowParser(std::string_view line, const std::string& name, int lineNo, const Element& e,
            std::uint64_t row)
      : m_p(line.data()),
        m_end(line.data() + line.size()),
        m_name(name),
        m_line(lineNo),
        m_e(e),
        m_row(row) {}

  double Next(EType t) {
    while (m_p < m_end && IsSpace(*m_p)) ++m_p;
    if (m_p == m_end) {
      Fail(m_name, __LINE__,
           Where() + "has " + std::to_string(m_nValues) +
               " values, fewer than its element declares");
    }
    const char* start = m_p;
    while (m_p < m_end && !IsSpace(*m_p)) ++m_p;
    ++m_nValues;
    const char* digits = *start == '+' ? start + 1 : start;
    double v = 0.0;
    bool bParsed = false;
    if (IsInteger(t)) {
      // Integers the quick way; "3.0" or "1e2" still parse below, as any number does.
      long long i = 0;
      const auto [ptr, ec] = std::from_chars(digits, m_p, i);
      bParsed = ec == std::errc() && ptr == m_p && digits != m_p;
      // "-0" is the double -0.0, as a float property would read it.
      v = i == 0 && *digits == '-' ? -0.0 : static_cast<double>(i);
    }
    if (!bParsed) {
      const auto [ptr, ec] = std::from_chars(digits, m_p, v);
      if (digits == m_p || ec != std::errc() || ptr != m_p) {
        Fail(m_name, __LINE__,
             Where() + "bad number " +
                 Quote(std::string_view(start, static_cast<std::size_t>(m_p - start))));
      }
    }
    if (!FitsType(v, t)) {
      Fail(m_name, __LINE__,
           Where() + "value " +
               Quote(std::string_view(start, static_cast<std::size_t>(m_p - start))) +
               " does not fit its type");
    }
    return v;
  }

  void End() {
    while (m_p < m_end && IsSpace(*m_p)) ++m_p;
    if (m_p != m_end) {
      std::size_t more = 0;
      for (const char* q = m_p; q < m_end;) {
        while (q < m_end && IsSpace(*q)) ++q;
        if (q == m_end) break;
        ++more;
        while (q < m_end && !IsSpace(*q)) ++q;
      }
      Fail(m_name, __LINE__,
           Where() + "has " + std::to_string(m_nValues + more) +
               " values, more than its element declares (" + std::to_string(m_nValues) + ")");
    }
  }

 private:
  std::string Where() const {
    return "line " + std::to_string(m_line) + ": '" + m_e.name + "' row " + std::to_string(m_row) +
           " ";
  }
  const char* m_p;
  const char* m_end;
  const std::string& m_name;
  int m_line;
  const Element& m_e;
  std::uint64_t m_row;
  std::size_t m_nValues = 0;
};

void ReadAsciiElement(ByteSource& src, Lines& lines, const Header& h, std::size_t ei, Target& t,
                      Columns& cols, Faces& faces) {
  const std::string& name = src.GetName();
  const Element& e = h.elements[ei];
  const bool bVertex = ei == h.vertexElement;
  const bool bFaces = static_cast<int>(ei) == h.faceElement && faces.pTriangles != nullptr;
  const std::uint64_t known = src.GetKnownRemaining();
  // Every value takes at least one character and one separator (the last one may end the
  // file instead).
  if (known != UINT64_MAX) {
    CheckRowsFit(e, e.props.size(), known == 0 ? 0 : (known + 1) / 2, "values", name);
  }
  if (bVertex && known != UINT64_MAX) t.Reserve(e.count, true);
  RowBlocks blocks(e, bVertex, t, cols);
  std::string_view line;
  for (std::uint64_t row = 0; row < e.count; ++row) {
    if (!lines.Next(line)) {
      Fail(name, __LINE__,
           "line " + std::to_string(lines.Number() + 1) + ": body ends in '" + e.name + "' row " +
               std::to_string(row) + " of " + std::to_string(e.count));
    }
    RowParser parser(line, name, lines.Number(), e, row);
    for (std::size_t pi = 0; pi < e.props.size(); ++pi) {
      const Property& prop = e.props[pi];
      if (prop.bList) {
        const double n = parser.Next(prop.countType);
        if (n < 0.0) {
          Fail(name, __LINE__,
               "line " + std::to_string(lines.Number()) + ": negative list length in '" + e.name +
                   "' row " + std::to_string(row));
        }
        const bool bKeep = bFaces && static_cast<int>(pi) == h.faceList;
        for (double k = 0.0; k < n; k += 1.0) {
          const double v = parser.Next(prop.type);
          if (bKeep) faces.polygon.push_back(v < 0.0 ? UINT32_MAX : static_cast<std::uint32_t>(v));
        }
        if (bKeep) faces.AddPolygon();
        continue;
      }
      blocks.Put(prop, parser.Next(prop.type));
    }
    parser.End();
    blocks.EndRow();
  }
  blocks.Flush();
}

// Only white space may follow the last element.
void CheckEnd(ByteSource& src, Lines* pLines) {
  if (pLines != nullptr) {
    std::string_view line;
    if (pLines->Next(line)) {
      Fail(src.GetName(), __LINE__,
           "line " + std::to_string(pLines->Number()) + ": data after the last element " +
               Quote(line));
    }
    pLines->Finish();
    return;
  }
  for (;;) {
    const std::size_t n = src.Fill(1);
    if (n == 0) return;
    for (std::size_t k = 0; k < n; ++k) {
      if (!IsSpace(src.Data()[k])) {
        Fail(src.GetName(), __LINE__,
             "data after the last element, at byte " + std::to_string(src.GetOffset() + k));
      }
    }
    src.Consume(n);
  }
}

}  // namespace

CbSmartPointer<KaCSurfelCollectionCCT> KaCPlyReader::Read(tolvane::ByteSource& source,
                                                          Contents* pContents,
                                                          std::vector<std::uint32_t>* pTriangles) {
  const std::string& name = source.GetName();
  const Header h = ParseHeader(ReadHeaderText(source), name);
  Target t(h, name);
  Columns cols;
  Faces faces;
  faces.pTriangles = pTriangles;
  const std::size_t trianglesBefore = pTriangles != nullptr ? pTriangles->size() : 0;
  std::unique_ptr<Lines> lines;
  if (h.format == EPlyFormat::eAscii) lines = std::make_unique<Lines>(source, h.lines);
  for (std::size_t ei = 0; ei < h.elements.size(); ++ei) {
    const Element& e = h.elements[ei];
    if (e.count == 0 || e.props.empty()) continue;
    if (lines) {
      ReadAsciiElement(source, *lines, h, ei, t, cols, faces);
    } else {
      ReadBinaryElement(source, h, ei, t, cols, faces);
    }
  }
  CheckEnd(source, lines.get());
  auto spCollection = t.Finish();

  if (pTriangles != nullptr) {
    const std::uint64_t nVertices = h.elements[h.vertexElement].count;
    for (std::size_t k = trianglesBefore; k < pTriangles->size(); ++k) {
      if ((*pTriangles)[k] >= nVertices) {
        Fail(name, __LINE__,
             "face " + std::to_string((k - trianglesBefore) / 3) + " refers to vertex " +
                 std::to_string((*pTriangles)[k]) + " of " + std::to_string(nVertices));
      }
    }
  }
  if (pContents != nullptr) {
    pContents->eFormat = h.format;
    pContents->bNormals = h.roleProperty[eRoleNX] >= 0;
    pContents->bColors = h.roleProperty[eRoleRed] >= 0;
    pContents->bQualities = h.roleProperty[eRoleQuality] >= 0;
    pContents->bTissueTypes = h.roleProperty[eRoleTissue] >= 0;
    pContents->bBoundaryFlags = h.roleProperty[eRoleBoundary] >= 0;
    pContents->bValues = h.roleProperty[eRoleValue] >= 0;
    pContents->nFaces =
        h.faceElement >= 0 ? h.elements[static_cast<std::size_t>(h.faceElement)].count : 0;
    pContents->vecWarnings = t.Warnings();
  }
  return spCollection;
}

CbSmartPointer<KaCSurfelCollectionCCT> KaCPlyReader::ReadBuffer(const void* pData,
                                                                std::size_t nBytes,
                                                                const std::string& strName,
                                                                Contents* pContents) {
  tolvane::ByteSource source(pData, nBytes, strName);
  return Read(source, pContents);
}

CbSmartPointer<KaCSurfelCollectionCCT> KaCPlyReader::ReadFile(const std::string& strPath,
                                                              Contents* pContents) {
  tolvane::ByteSource source(strPath);
  return Read(source, pContents);
}
