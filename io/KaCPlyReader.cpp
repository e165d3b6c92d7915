#include "io/KaCPlyReader.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/CbException.h"
#include "container/KaCNormalCodec.h"

namespace {

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
  eRoleScalarQuality,
  eRoleTissue,
  eRoleBoundary,
  eRoleValue,
  eRoleCount
};

constexpr const char* c_roleNames[eRoleCount] = {"x",
                                                 "y",
                                                 "z",
                                                 "nx",
                                                 "ny",
                                                 "nz",
                                                 "red",
                                                 "green",
                                                 "blue",
                                                 "quality",
                                                 "scalar_quality",
                                                 "tissue",
                                                 "boundary",
                                                 "value"};

int RoleOf(std::string_view name) {
  for (int r = 0; r < eRoleCount; ++r) {
    if (name == c_roleNames[r]) return r;
  }
  return eRoleNone;
}

// The role of a property named with the scalar-field prefix ("scalar_tissue"), used when the
// element has no property under the plain name.
int ScalarRoleOf(std::string_view name) {
  const std::string_view prefix = c_szPlyScalarPrefix;
  if (name.substr(0, prefix.size()) != prefix) return eRoleNone;
  const int r = RoleOf(name.substr(prefix.size()));
  return r == eRoleTissue || r == eRoleBoundary || r == eRoleValue ? r : eRoleNone;
}

struct Property {
  std::string name;
  EType type = EType::eUInt8;
  bool bList = false;
  EType countType = EType::eUInt8;
  int role = eRoleNone;
};

struct Element {
  std::string name;
  std::uint64_t count = 0;
  std::vector<Property> props;
};

struct Header {
  EPlyFormat format = EPlyFormat::eAscii;
  std::vector<Element> elements;
  std::size_t bodyOffset = 0;
  std::size_t vertexElement = 0;
  int roleProperty[eRoleCount];  // index of the vertex property with that role, or -1
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

Header ParseHeader(const unsigned char* data, std::size_t size, const std::string& name) {
  Header h;
  const std::string_view text(reinterpret_cast<const char*>(data),
                              std::min(size, KaCPlyReader::c_nMaxHeaderBytes));
  std::size_t pos = 0;
  int lineNo = 0;
  bool bFormat = false;
  bool bEnd = false;
  while (!bEnd) {
    const std::size_t nl = text.find('\n', pos);
    if (nl == std::string_view::npos) {
      if (lineNo == 0 && text.substr(0, 3) != "ply") Fail(name, __LINE__, "not a PLY file");
      if (size > KaCPlyReader::c_nMaxHeaderBytes) {
        Fail(name, __LINE__, "no end_header within the first 1 MiB");
      }
      Fail(name, __LINE__, "header ends without end_header (file truncated?)");
    }
    std::string_view line = text.substr(pos, nl - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = nl + 1;
    ++lineNo;
    const std::string where = "header line " + std::to_string(lineNo) + ": ";
    if (lineNo == 1) {
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
      h.elements.back().props.push_back(std::move(p));
    } else if (key == "end_header") {
      bEnd = true;
    } else {
      Fail(name, __LINE__, where + "unknown keyword " + Quote(key));
    }
  }
  if (!bFormat) Fail(name, __LINE__, "header has no format line");
  h.bodyOffset = pos;

  // The vertex element and the meaning of its properties.
  bool bVertex = false;
  for (std::size_t i = 0; i < h.elements.size(); ++i) {
    if (h.elements[i].name != "vertex") continue;
    if (bVertex) Fail(name, __LINE__, "more than one vertex element");
    bVertex = true;
    h.vertexElement = i;
  }
  if (!bVertex) Fail(name, __LINE__, "no vertex element");
  for (int& r : h.roleProperty) r = -1;
  auto& props = h.elements[h.vertexElement].props;
  for (std::size_t i = 0; i < props.size(); ++i) {
    const int role = RoleOf(props[i].name);
    if (role == eRoleNone) continue;
    if (props[i].bList)
      Fail(name, __LINE__, "vertex property " + Quote(props[i].name) + " is a list");
    if (h.roleProperty[role] >= 0) {
      Fail(name, __LINE__, "duplicate vertex property " + Quote(props[i].name));
    }
    h.roleProperty[role] = static_cast<int>(i);
    props[i].role = role;
  }
  for (std::size_t i = 0; i < props.size(); ++i) {
    const int role = ScalarRoleOf(props[i].name);
    if (role == eRoleNone || h.roleProperty[role] >= 0 || props[i].bList) continue;
    h.roleProperty[role] = static_cast<int>(i);
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
// Values

unsigned char ColorByte(double v, EType t) {
  double b = 0.0;
  switch (t) {
    case EType::eUInt8:
      b = v;
      break;
    case EType::eUInt16:
      b = v / 257.0;
      break;
    case EType::eFloat32:
    case EType::eFloat64:
      b = v * 255.0;
      break;
    default:
      b = v;
      break;
  }
  if (!(b > 0.0)) return 0;
  if (b >= 255.0) return 255;
  return static_cast<unsigned char>(b + 0.5);
}

// Where the vertices go: the collection is allocated once the vertex element's count has been
// checked against the bytes left.
struct Target {
  CbSmartPointer<KaCSurfelCollectionCCT> spCollection;
  KaCSurfelCollectionCCT* pCollection = nullptr;
  KaTAttributeAccessor<CbVector3f> positions;
  KaTAttributeAccessor<unsigned short> normals;
  KaTAttributeAccessor<KaCCompressedColor> colors;
  KaTAttributeAccessor<unsigned int> values;
  const Header* pHeader = nullptr;
  EType colorTypes[3] = {EType::eUInt8, EType::eUInt8, EType::eUInt8};
  int qualityRole = eRoleNone;
  const std::string* pName = nullptr;
};

void Allocate(Target& t, std::uint64_t count) {
  t.spCollection =
      new KaCSurfelCollectionCCT(static_cast<unsigned int>(count), true, eSurfelAttributeSetFull);
  t.pCollection = t.spCollection.Get();
  t.positions = t.pCollection->GetAccessor<CbVector3f>(eSurfelAttributePosition);
  t.normals = t.pCollection->GetNormalAccessor();
  t.colors = t.pCollection->GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  t.values = t.pCollection->GetAccessor<unsigned int>(eSurfelAttributeValue);
}

// Stores one vertex from the values of its properties, indexed by role.
void StoreVertex(Target& t, unsigned int i, const double* v) {
  const Header& h = *t.pHeader;
  const CbVector3f p(static_cast<float>(v[eRoleX]), static_cast<float>(v[eRoleY]),
                     static_cast<float>(v[eRoleZ]));
  if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
    Fail(*t.pName, __LINE__, "vertex " + std::to_string(i) + ": position is not finite");
  }
  t.positions[i] = p;
  if (h.roleProperty[eRoleNX] >= 0) {
    t.normals[i] = KaCNormalCodec::Encode(CbVector3f(static_cast<float>(v[eRoleNX]),
                                                     static_cast<float>(v[eRoleNY]),
                                                     static_cast<float>(v[eRoleNZ])));
  }
  if (h.roleProperty[eRoleRed] >= 0) {
    t.colors[i] = KaCCompressedColor(ColorByte(v[eRoleRed], t.colorTypes[0]),
                                     ColorByte(v[eRoleGreen], t.colorTypes[1]),
                                     ColorByte(v[eRoleBlue], t.colorTypes[2]));
  }
  if (t.qualityRole != eRoleNone) {
    t.pCollection->GetQualityAccessor().Set(i, static_cast<float>(v[t.qualityRole]));
  }
  if (h.roleProperty[eRoleTissue] >= 0) {
    const double tissue = v[eRoleTissue];
    if (!(tissue >= 0.0 && tissue <= 3.0) || tissue != std::floor(tissue)) {
      Fail(*t.pName, __LINE__,
           "vertex " + std::to_string(i) + ": tissue type " + std::to_string(tissue) +
               " is not one of 0, 1, 2, 3");
    }
    t.pCollection->GetTissueTypeAccessor().Set(i, static_cast<unsigned char>(tissue));
  }
  if (h.roleProperty[eRoleBoundary] >= 0) {
    t.pCollection->GetBoundaryFlagAccessor().Set(i, v[eRoleBoundary] != 0.0);
  }
  if (h.roleProperty[eRoleValue] >= 0) {
    const double value = v[eRoleValue];
    t.values[i] = !(value > 0.0)          ? 0u
                  : value >= 4294967295.0 ? 4294967295u
                                          : static_cast<unsigned int>(value);
  }
}

// ---------------------------------------------------------------------------------------------
// Binary body

template <class T>
T LoadSwapped(const unsigned char* p, bool swap) {
  unsigned char b[sizeof(T)];
  std::memcpy(b, p, sizeof(T));
  if (swap) {
    for (std::size_t i = 0; i < sizeof(T) / 2; ++i) std::swap(b[i], b[sizeof(T) - 1 - i]);
  }
  T v;
  std::memcpy(&v, b, sizeof(T));
  return v;
}

double LoadBinary(const unsigned char* p, EType t, bool swap) {
  switch (t) {
    case EType::eInt8:
      return static_cast<signed char>(p[0]);
    case EType::eUInt8:
      return p[0];
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

bool IsLittleEndianHost() {
  const std::uint16_t probe = 1;
  unsigned char b[2];
  std::memcpy(b, &probe, 2);
  return b[0] == 1;
}

// The fewest bytes (binary) or values (ascii) one row of the element can take.
std::uint64_t MinRowUnits(const Element& e, bool bAscii) {
  std::uint64_t n = 0;
  for (const Property& p : e.props) n += bAscii ? 1 : SizeOf(p.bList ? p.countType : p.type);
  return n;
}

// Refuses an element whose rows cannot fit in what is left of the body, before anything is
// allocated or looped over.
void CheckRowsFit(const Element& e, std::uint64_t minRow, std::uint64_t available, const char* unit,
                  const std::string& name) {
  if (e.count <= available / minRow) return;
  const std::uint64_t need = e.count > UINT64_MAX / minRow ? UINT64_MAX : e.count * minRow;
  Fail(name, __LINE__,
       "header claims " + std::to_string(e.count) + " '" + e.name + "' rows (at least " +
           std::to_string(need) + " " + unit + ") but the body holds only " +
           std::to_string(available));
}

void ReadBinaryBody(const unsigned char* data, std::size_t size, const Header& h, Target& t,
                    const std::string& name) {
  const bool swap = (h.format == EPlyFormat::eBinaryLittleEndian) != IsLittleEndianHost();
  const unsigned char* p = data + h.bodyOffset;
  const unsigned char* const end = data + size;
  for (std::size_t ei = 0; ei < h.elements.size(); ++ei) {
    const Element& e = h.elements[ei];
    if (e.props.empty() || e.count == 0) continue;
    CheckRowsFit(e, MinRowUnits(e, false), static_cast<std::uint64_t>(end - p), "bytes", name);
    const bool bVertex = ei == h.vertexElement;
    if (bVertex) Allocate(t, e.count);
    double values[eRoleCount] = {};
    for (std::uint64_t row = 0; row < e.count; ++row) {
      for (const Property& prop : e.props) {
        if (prop.bList) {
          const std::size_t cs = SizeOf(prop.countType);
          if (static_cast<std::size_t>(end - p) < cs) {
            Fail(name, __LINE__, "body truncated in '" + e.name + "' row " + std::to_string(row));
          }
          const double n = LoadBinary(p, prop.countType, swap);
          p += cs;
          if (n < 0.0) {
            Fail(name, __LINE__,
                 "negative list length in '" + e.name + "' row " + std::to_string(row));
          }
          const auto items = static_cast<std::uint64_t>(n);
          if (items > static_cast<std::uint64_t>(end - p) / SizeOf(prop.type)) {
            Fail(name, __LINE__, "body truncated in '" + e.name + "' row " + std::to_string(row));
          }
          p += items * SizeOf(prop.type);
          continue;
        }
        const std::size_t s = SizeOf(prop.type);
        if (static_cast<std::size_t>(end - p) < s) {
          Fail(name, __LINE__, "body truncated in '" + e.name + "' row " + std::to_string(row));
        }
        if (bVertex && prop.role != eRoleNone) values[prop.role] = LoadBinary(p, prop.type, swap);
        p += s;
      }
      if (bVertex) StoreVertex(t, static_cast<unsigned int>(row), values);
    }
  }
}

// ---------------------------------------------------------------------------------------------
// ASCII body

class AsciiTokens {
 public:
  AsciiTokens(const unsigned char* p, const unsigned char* end)
      : m_p(reinterpret_cast<const char*>(p)), m_end(reinterpret_cast<const char*>(end)) {}
  bool Next(std::string_view& tok) {
    while (m_p < m_end && IsSpace(*m_p)) ++m_p;
    if (m_p == m_end) return false;
    const char* start = m_p;
    while (m_p < m_end && !IsSpace(*m_p)) ++m_p;
    tok = std::string_view(start, static_cast<std::size_t>(m_p - start));
    return true;
  }
  [[nodiscard]] std::uint64_t BytesLeft() const { return static_cast<std::uint64_t>(m_end - m_p); }

 private:
  static bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
  }
  const char* m_p;
  const char* m_end;
};

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

double ParseAscii(AsciiTokens& tokens, EType t, const Element& e, std::uint64_t row,
                  const std::string& name) {
  std::string_view tok;
  if (!tokens.Next(tok)) {
    Fail(name, __LINE__,
         "body ends in '" + e.name + "' row " + std::to_string(row) + " of " +
             std::to_string(e.count));
  }
  std::string_view digits = tok;
  if (!digits.empty() && digits[0] == '+') digits.remove_prefix(1);
  double v = 0.0;
  const auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), v);
  if (digits.empty() || ec != std::errc() || ptr != digits.data() + digits.size()) {
    Fail(name, __LINE__,
         "'" + e.name + "' row " + std::to_string(row) + ": bad number " + Quote(tok));
  }
  if (!FitsType(v, t)) {
    Fail(name, __LINE__,
         "'" + e.name + "' row " + std::to_string(row) + ": value " + Quote(tok) +
             " does not fit its type");
  }
  return v;
}

void ReadAsciiBody(const unsigned char* data, std::size_t size, const Header& h, Target& t,
                   const std::string& name) {
  AsciiTokens tokens(data + h.bodyOffset, data + size);
  for (std::size_t ei = 0; ei < h.elements.size(); ++ei) {
    const Element& e = h.elements[ei];
    if (e.props.empty() || e.count == 0) continue;
    // Every value takes at least one character and one separator (the last one may end the
    // file instead).
    CheckRowsFit(e, MinRowUnits(e, true), (tokens.BytesLeft() + 1) / 2, "values", name);
    const bool bVertex = ei == h.vertexElement;
    if (bVertex) Allocate(t, e.count);
    double values[eRoleCount] = {};
    for (std::uint64_t row = 0; row < e.count; ++row) {
      for (const Property& prop : e.props) {
        if (prop.bList) {
          const double n = ParseAscii(tokens, prop.countType, e, row, name);
          if (n < 0.0) {
            Fail(name, __LINE__,
                 "negative list length in '" + e.name + "' row " + std::to_string(row));
          }
          for (double k = 0.0; k < n; k += 1.0) ParseAscii(tokens, prop.type, e, row, name);
          continue;
        }
        const double v = ParseAscii(tokens, prop.type, e, row, name);
        if (bVertex && prop.role != eRoleNone) values[prop.role] = v;
      }
      if (bVertex) StoreVertex(t, static_cast<unsigned int>(row), values);
    }
  }
}

}  // namespace

CbSmartPointer<KaCSurfelCollectionCCT> KaCPlyReader::ReadBuffer(const void* pData,
                                                                std::size_t nBytes,
                                                                const std::string& strName,
                                                                Contents* pContents) {
  const auto* data = static_cast<const unsigned char*>(pData);
  if (nBytes == 0) Fail(strName, __LINE__, "empty file");
  const Header h = ParseHeader(data, nBytes, strName);
  const Element& vertex = h.elements[h.vertexElement];

  Target t;
  t.pHeader = &h;
  t.pName = &strName;
  for (int c = 0; c < 3; ++c) {
    const int prop = h.roleProperty[eRoleRed + c];
    if (prop >= 0) t.colorTypes[c] = vertex.props[static_cast<std::size_t>(prop)].type;
  }
  if (h.roleProperty[eRoleQuality] >= 0) {
    t.qualityRole = eRoleQuality;
  } else if (h.roleProperty[eRoleScalarQuality] >= 0) {
    t.qualityRole = eRoleScalarQuality;
  }
  if (h.format == EPlyFormat::eAscii) {
    ReadAsciiBody(data, nBytes, h, t, strName);
  } else {
    ReadBinaryBody(data, nBytes, h, t, strName);
  }
  if (!t.spCollection) Allocate(t, 0);  // a vertex element with count 0

  if (pContents != nullptr) {
    pContents->eFormat = h.format;
    pContents->bNormals = h.roleProperty[eRoleNX] >= 0;
    pContents->bColors = h.roleProperty[eRoleRed] >= 0;
    pContents->bQualities = t.qualityRole != eRoleNone;
    pContents->bTissueTypes = h.roleProperty[eRoleTissue] >= 0;
    pContents->bBoundaryFlags = h.roleProperty[eRoleBoundary] >= 0;
    pContents->bValues = h.roleProperty[eRoleValue] >= 0;
  }
  return t.spCollection;
}

CbSmartPointer<KaCSurfelCollectionCCT> KaCPlyReader::ReadFile(const std::string& strPath,
                                                              Contents* pContents) {
  const int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(strPath, __LINE__, std::string("cannot open: ") + std::strerror(errno));
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st {};
  if (::fstat(fd, &st) != 0)
    Fail(strPath, __LINE__, std::string("cannot read: ") + std::strerror(errno));
  if (!S_ISREG(st.st_mode)) Fail(strPath, __LINE__, "not a regular file");
  std::vector<unsigned char> bytes(static_cast<std::size_t>(st.st_size));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(strPath, __LINE__, std::string("cannot read: ") + std::strerror(errno));
    }
    if (n == 0) break;  // the file shrank meanwhile; parse what is there
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return ReadBuffer(bytes.data(), bytes.size(), strPath, pContents);
}
