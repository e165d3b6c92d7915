// Seeded PLY files in many layouts (property types and order, skipped properties and elements,
// out-of-range colours, exact and arbitrary normals) in all three encodings. The digests of what
// they read to were recorded with the first, value-by-value reader; the bulk paths must give the
// same collections bit for bit.
#include <gtest/gtest.h>

#include <charconv>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/KaCPlyReader.h"

namespace {

enum class T { i8, u8, i16, u16, i32, u32, f32, f64 };
const char* const c_typeNames[] = {"char", "uchar", "short", "ushort",
                                   "int",  "uint",  "float", "double"};

struct Column {
  std::string name;
  T type;
  std::vector<double> values;
};

class Generator {
 public:
  explicit Generator(unsigned int seed) : m_rng(seed) {}

  // Uniform integer in [lo, hi] from the raw 32-bit output, the same on every library.
  long long Int(long long lo, long long hi) {
    const auto span = static_cast<unsigned long long>(hi - lo) + 1ull;
    return lo + static_cast<long long>(static_cast<unsigned long long>(m_rng()) % span);
  }
  float Float(float lo, float hi) {
    return lo + (hi - lo) * static_cast<float>(m_rng() >> 8) / 16777216.0f;
  }
  bool Coin() { return (m_rng() & 1u) != 0; }
  template <class V>
  const V& Pick(const std::vector<V>& v) {
    return v[static_cast<std::size_t>(Int(0, static_cast<long long>(v.size()) - 1))];
  }

 private:
  std::mt19937 m_rng;
};

// A vertex element of n rows with a random choice of the properties the reader maps, in a
// random order, between properties it skips.
std::vector<Column> MakeVertexColumns(Generator& g, unsigned int n) {
  std::vector<Column> cols;
  auto add = [&](const std::string& name, T type) {
    cols.push_back({name, type, {}});
    return &cols.back();
  };
  const T posType = g.Pick<T>({T::f32, T::f32, T::f64, T::i16, T::i32});
  for (const char* axis : {"x", "y", "z"}) add(axis, posType);
  const bool bNormals = g.Coin();
  const T normalType = g.Pick<T>({T::f32, T::f64});
  if (bNormals) {
    for (const char* axis : {"nx", "ny", "nz"}) add(axis, normalType);
  }
  const bool bColors = g.Coin();
  const T colorType = g.Pick<T>({T::u8, T::u8, T::u16, T::f32, T::f64, T::i16});
  if (bColors) {
    for (const char* c : {"red", "green", "blue"}) add(c, colorType);
  }
  if (g.Coin()) add(g.Coin() ? "quality" : "scalar_quality", g.Pick<T>({T::f32, T::f64}));
  if (g.Coin()) add("tissue", g.Pick<T>({T::u8, T::i32}));
  if (g.Coin()) add("boundary", g.Pick<T>({T::u8, T::u8, T::i16}));
  if (g.Coin()) add("value", g.Pick<T>({T::u32, T::i32, T::u16}));
  for (int k = static_cast<int>(g.Int(0, 2)); k > 0; --k) {
    add("extra" + std::to_string(k), g.Pick<T>({T::u8, T::f32, T::f64, T::i16}));
  }
  // Shuffle (Fisher-Yates on our own draws).
  for (std::size_t i = cols.size(); i > 1; --i) {
    std::swap(cols[i - 1], cols[static_cast<std::size_t>(g.Int(0, static_cast<long long>(i) - 1))]);
  }
  const CbVector3f* table = KaCNormalCodec::GetTable();
  for (unsigned int r = 0; r < n; ++r) {
    const auto code = static_cast<unsigned short>(g.Int(0, 65535));
    const int normalKind =
        static_cast<int>(g.Int(0, 9));  // 0-5 a code's own vector, 6-8 any, 9 zero
    const float anyNormal[3] = {g.Float(-2, 2), g.Float(-2, 2), g.Float(-2, 2)};
    for (Column& c : cols) {
      double v = 0.0;
      const std::string& s = c.name;
      if (s == "x" || s == "y" || s == "z") {
        v = c.type == T::f32 || c.type == T::f64 ? g.Float(-120.0f, 120.0f)
                                                 : static_cast<double>(g.Int(-30000, 30000));
      } else if (s == "nx" || s == "ny" || s == "nz") {
        const int axis = s == "nx" ? 0 : s == "ny" ? 1 : 2;
        const CbVector3f& t = table[code];
        const float own = axis == 0 ? t.x : axis == 1 ? t.y : t.z;
        v = normalKind <= 5 ? own : normalKind <= 8 ? anyNormal[axis] : 0.0f;
      } else if (s == "red" || s == "green" || s == "blue") {
        v = c.type == T::u8    ? static_cast<double>(g.Int(0, 255))
            : c.type == T::u16 ? static_cast<double>(g.Int(0, 65535))
            : c.type == T::i16 ? static_cast<double>(g.Int(-20, 300))
                               : g.Float(-0.2f, 1.2f);
      } else if (s == "quality" || s == "scalar_quality") {
        v = g.Float(-0.5f, 1.5f);
      } else if (s == "tissue") {
        v = static_cast<double>(g.Int(0, 3));
      } else if (s == "boundary") {
        v = static_cast<double>(g.Int(0, 2));
      } else if (s == "value") {
        v = c.type == T::u32   ? static_cast<double>(g.Int(0, 4294967295ll))
            : c.type == T::u16 ? static_cast<double>(g.Int(0, 65535))
                               : static_cast<double>(g.Int(-1000, 1000000));
      } else {
        v = c.type == T::u8    ? static_cast<double>(g.Int(0, 255))
            : c.type == T::i16 ? static_cast<double>(g.Int(-32768, 32767))
                               : g.Float(-1e6f, 1e6f);
      }
      c.values.push_back(v);
    }
  }
  return cols;
}

template <class V>
void PutBinary(std::string& out, double v, bool bigEndian) {
  const V value = static_cast<V>(v);
  char b[sizeof(V)];
  std::memcpy(b, &value, sizeof(V));
  if (bigEndian) std::reverse(b, b + sizeof(V));
  out.append(b, sizeof(V));
}

void PutValue(std::string& out, double v, T t, EPlyFormat f) {
  if (f == EPlyFormat::eAscii) {
    char b[40];
    const auto r = t == T::f32 ? std::to_chars(b, b + sizeof b, static_cast<float>(v))
                               : std::to_chars(b, b + sizeof b, v);
    out.append(b, r.ptr);
    return;
  }
  // In the order of T.
  void (*const put[])(std::string&, double, bool) = {
      PutBinary<std::int8_t>,   PutBinary<std::uint8_t>, PutBinary<std::int16_t>,
      PutBinary<std::uint16_t>, PutBinary<std::int32_t>, PutBinary<std::uint32_t>,
      PutBinary<float>,         PutBinary<double>};
  put[static_cast<int>(t)](out, v, f == EPlyFormat::eBinaryBigEndian);
}

// A face element of lists (uchar count, int indices), before or after the vertices.
void PutFaces(std::string& out, Generator& g, unsigned int n, unsigned int nVertices,
              EPlyFormat f) {
  for (unsigned int r = 0; r < n; ++r) {
    const int k = static_cast<int>(g.Int(3, 4));
    PutValue(out, k, T::u8, f);
    for (int j = 0; j < k; ++j) {
      if (f == EPlyFormat::eAscii) out += ' ';
      PutValue(out, static_cast<double>(g.Int(0, nVertices - 1)), T::i32, f);
    }
    if (f == EPlyFormat::eAscii) out += '\n';
  }
}

std::string MakeFile(unsigned int seed, EPlyFormat f) {
  Generator g(seed);
  const auto n = static_cast<unsigned int>(g.Int(1, 700));
  const std::vector<Column> cols = MakeVertexColumns(g, n);
  const bool bFacesBefore = g.Coin();
  const bool bFacesAfter = g.Coin();
  const auto nFaces = static_cast<unsigned int>(g.Int(1, 40));
  std::string out = std::string("ply\nformat ") + GetPlyFormatName(f) + " 1.0\ncomment seeded\n";
  const char* const faceHeader = "property list uchar int vertex_indices\n";
  if (bFacesBefore) out += "element face " + std::to_string(nFaces) + "\n" + faceHeader;
  out += "element vertex " + std::to_string(n) + "\n";
  for (const Column& c : cols) {
    out += std::string("property ") + c_typeNames[static_cast<int>(c.type)] + " " + c.name + "\n";
  }
  if (bFacesAfter) out += "element face " + std::to_string(nFaces) + "\n" + faceHeader;
  out += "end_header\n";
  Generator body(seed * 7919u + 1u);
  if (bFacesBefore) PutFaces(out, body, nFaces, n, f);
  for (unsigned int r = 0; r < n; ++r) {
    for (std::size_t k = 0; k < cols.size(); ++k) {
      if (k > 0 && f == EPlyFormat::eAscii) out += ' ';
      PutValue(out, cols[k].values[r], cols[k].type, f);
    }
    if (f == EPlyFormat::eAscii) out += '\n';
  }
  if (bFacesAfter) PutFaces(out, body, nFaces, n, f);
  return out;
}

// FNV-1a over every attribute the reader fills and over what it says the file held.
std::uint64_t DigestOf(const KaCSurfelCollectionCCT& c, const KaCPlyReader::Contents& k) {
  std::uint64_t h = 14695981039346656037ull;
  const auto add = [&h](const auto& v) {
    const auto* b = reinterpret_cast<const unsigned char*>(&v);
    for (std::size_t i = 0; i < sizeof v; ++i) h = (h ^ b[i]) * 1099511628211ull;
  };
  const unsigned int n = c.GetNrSurfels();
  add(n);
  const auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  const auto normals = c.GetNormalAccessor();
  const auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  const auto values = c.GetAccessor<unsigned int>(eSurfelAttributeValue);
  for (unsigned int i = 0; i < n; ++i) {
    add(pos[i]);
    add(normals[i]);
    add(colors[i]);
    add(c.GetQualityAccessor()[i]);
    add(c.GetTissueTypeAccessor()[i]);
    add(c.GetBoundaryFlagAccessor()[i]);
    add(values[i]);
  }
  for (bool b :
       {k.bNormals, k.bColors, k.bQualities, k.bTissueTypes, k.bBoundaryFlags, k.bValues}) {
    add(b);
  }
  return h;
}

}  // namespace

TEST(KaCPlyReader, SeededLayoutsReadAsTheyAlwaysHave) {
  // One digest per seed: the three encodings of a seed hold the same numbers.
  const std::uint64_t golden[] = {
      0x9a558b44c9cdcc14ull, 0x358e90b52a61004dull, 0xcc77fed5cc4772e9ull, 0x196bcb364f409545ull,
      0x44650dd871a96f35ull, 0x104eb2847a016cf0ull, 0xda0f5656bd5578caull, 0xc5d524b0cd73d6e4ull,
      0x26757d3dd8cd87ecull, 0x086e6da22dcac19cull, 0x6475d93e976f51edull, 0xaa0d6439acd9a404ull,
      0xf24864e2fd93db87ull, 0xeca3d7956271123eull, 0x6c84a59751df0492ull, 0xddb9506c3c36082bull,
      0xca19dae0cd9ada85ull, 0x9d069556d5e571d6ull, 0x2c1d8ef33c1b681eull, 0x184739ceaea7e280ull,
      0x170a6d0c1fcff4f3ull, 0x5748061b21bbfa63ull, 0x6223e0c436da517eull, 0x73befdd1845bf478ull,
  };
  for (unsigned int seed = 1; seed <= sizeof golden / sizeof golden[0]; ++seed) {
    for (EPlyFormat f :
         {EPlyFormat::eAscii, EPlyFormat::eBinaryLittleEndian, EPlyFormat::eBinaryBigEndian}) {
      const std::string file = MakeFile(seed, f);
      KaCPlyReader::Contents contents;
      const auto c = KaCPlyReader::ReadBuffer(file.data(), file.size(), "seeded.ply", &contents);
      EXPECT_EQ(DigestOf(*c, contents), golden[seed - 1])
          << "seed " << seed << ", " << GetPlyFormatName(f);
    }
  }
}
