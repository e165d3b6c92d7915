// Runs the tolvane program as a user would and checks its exit status, output and files.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"
#include "io/SurfelComparison.h"
#include "support/TestSupport.h"

extern char** environ;

namespace {

using tolvane_test::ExpectSameSurfels;
using tolvane_test::MakeCollection;

struct Result {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

// Whether text[i...] starts one JSON value; moves i past it.
bool ParseJson(const std::string& s, std::size_t& i) {
  const auto ws = [&] {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
  };
  const auto string = [&] {
    if (i >= s.size() || s[i] != '"') return false;
    for (++i; i < s.size(); ++i) {
      if (s[i] == '\\') {
        ++i;
      } else if (s[i] == '"') {
        ++i;
        return true;
      }
    }
    return false;
  };
  ws();
  if (i >= s.size()) return false;
  const char c = s[i];
  if (c == '{' || c == '[') {
    const char close = c == '{' ? '}' : ']';
    ++i;
    ws();
    if (i < s.size() && s[i] == close) return ++i, true;
    while (true) {
      if (c == '{') {
        ws();
        if (!string()) return false;
        ws();
        if (i >= s.size() || s[i++] != ':') return false;
      }
      if (!ParseJson(s, i)) return false;
      ws();
      if (i < s.size() && s[i] == ',') {
        ++i;
      } else {
        return i < s.size() && s[i++] == close;
      }
    }
  }
  if (c == '"') return string();
  for (const char* word : {"true", "false", "null"}) {
    if (s.compare(i, std::strlen(word), word) == 0) {
      i += std::strlen(word);
      return true;
    }
  }
  // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][-+]?[0-9]+)?
  const auto digits = [&]() {
    const std::size_t start = i;
    while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i]))) ++i;
    return i > start;
  };
  if (i < s.size() && s[i] == '-') ++i;
  if (i < s.size() && s[i] == '0') {
    ++i;
  } else if (!digits()) {
    return false;
  }
  if (i < s.size() && s[i] == '.') {
    ++i;
    if (!digits()) return false;
  }
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) ++i;
    if (!digits()) return false;
  }
  return true;
}

bool IsJson(const std::string& text) {
  std::size_t i = 0;
  if (!ParseJson(text, i)) return false;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  return i == text.size();
}

// The number after "key": in text.
double JsonValue(const std::string& text, const std::string& key) {
  const auto p = text.find("\"" + key + "\":");
  return p == std::string::npos ? std::nan("") : std::stod(text.substr(p + key.size() + 3));
}

// The numbers of a CSV line; an empty last field is dropped.
std::vector<double> CsvRow(const std::string& line) {
  std::vector<double> v;
  std::istringstream in(line);
  for (std::string item; std::getline(in, item, ',');) v.push_back(std::stod(item));
  return v;
}

// The numbers of the JSON array that follows "key": (and the next '[') in text.
std::vector<double> JsonArray(const std::string& text, const std::string& key) {
  std::vector<double> v;
  auto p = text.find("\"" + key + "\":");
  if (p == std::string::npos) return v;
  p = text.find('[', p);
  const auto end = text.find(']', p);
  std::istringstream in(text.substr(p + 1, end - p - 1));
  for (std::string item; std::getline(in, item, ',');) v.push_back(std::stod(item));
  return v;
}

// The numbers before each unit in a statistics line: " mm" or " \xC2\xB5m" (µm).
std::vector<double> Figures(const std::string& line, const std::string& unit) {
  std::vector<double> v;
  for (auto p = line.find(" " + unit); p != std::string::npos; p = line.find(" " + unit, p + 1)) {
    auto start = line.find_last_of("( ", p - 1);
    v.push_back(std::stod(line.substr(start + 1, p - start - 1)));
  }
  return v;
}

std::vector<double> Micrometres(const std::string& line) { return Figures(line, "\xC2\xB5m"); }

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // Never the user's own settings file.
    m_env["HOME"] = m_dir.Path();
    m_env["XDG_CONFIG_HOME"] = m_dir.File("xdg");
    m_env["TOLVANE_SETTINGS"] = m_dir.File("settings.ini");
  }

  Result Run(const std::vector<std::string>& args) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string kv = *e;
      env[kv.substr(0, kv.find('='))] = kv.substr(kv.find('=') + 1);
    }
    for (const auto& [k, v] : m_env) env[k] = v;
    std::vector<std::string> envText;
    for (const auto& [k, v] : env) {
      if (v != c_szUnset) envText.push_back(k + "=" + v);
    }
    std::vector<char*> envp;
    for (auto& s : envText) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText = {TOLVANE_CLI_PATH};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& s : argText) argv.push_back(s.data());
    argv.push_back(nullptr);

    const std::string outPath = m_dir.File("stdout.txt");
    const std::string errPath = m_dir.File("stderr.txt");
    const pid_t pid = fork();
    if (pid == 0) {
      const int in = open("/dev/null", O_RDONLY);
      const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(in, 0);
      dup2(out, 1);
      dup2(err, 2);
      execve(argv[0], argv.data(), envp.data());
      _exit(127);
    }
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    Result r;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.out = ReadText(outPath);
    r.err = ReadText(errPath);
    return r;
  }

  // Expects exit status 1 and exactly one line on stderr containing every part.
  void ExpectOneLineError(const Result& r, std::initializer_list<std::string> parts) {
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
    for (const std::string& p : parts) EXPECT_NE(r.err.find(p), std::string::npos) << r.err;
  }

  static constexpr const char* c_szUnset = "\x01unset";
  tolvane_test::TempDir m_dir;
  std::map<std::string, std::string> m_env;
};

TEST_F(ToolTest, UsageHelpAndExitStatus) {
  Result r = Run({});
  EXPECT_EQ(r.status, 2);
  r = Run({"--version"});
  EXPECT_EQ(r.status, 0);
  {
    // "tolvane MAJOR.MINOR.PATCH\n"
    std::istringstream line(r.out);
    std::string name;
    char dot1 = 0;
    char dot2 = 0;
    unsigned int major = 0;
    unsigned int minor = 0;
    unsigned int patch = 0;
    line >> name >> major >> dot1 >> minor >> dot2 >> patch;
    EXPECT_TRUE(line && name == "tolvane" && dot1 == '.' && dot2 == '.' && r.out.back() == '\n' &&
                r.out.find('\n') == r.out.size() - 1)
        << r.out;
  }
  r = Run({"--help"});
  EXPECT_EQ(r.status, 0);
  for (const char* c : {"phantom", "distance", "filter", "acquire", "settings", "generate"}) {
    EXPECT_NE(r.out.find(c), std::string::npos);
    const Result h = Run({c, "--help"});
    EXPECT_EQ(h.status, 0) << c;
    EXPECT_EQ(h.out.rfind(std::string("Usage: tolvane ") + c, 0), 0u) << h.out;
  }
  for (const std::vector<std::string>& bad : {std::vector<std::string>{"frobnicate"},
                                              {"filter", "a.ply"},
                                              {"filter", "--bogus"},
                                              {"phantom", "--planes", "6"},
                                              {"distance", "a", "b", "--transform", "1 2 3"},
                                              {"settings", "rename"},
                                              {"generate", "phantom", "x.ply", "--count", "many"},
                                              {"filter", "a.ply", "b.ply", "scale=2,3"}}) {
    r = Run(bad);
    EXPECT_EQ(r.status, 2) << bad[0] << " " << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  }
}

TEST_F(ToolTest, PlyRoundTripsKeepEveryAttribute) {
  const KaCSurfelCollectionCCT c = MakeCollection(777, eSurfelAttributeSetFull, 5);
  for (EPlyFormat f :
       {EPlyFormat::eAscii, EPlyFormat::eBinaryLittleEndian, EPlyFormat::eBinaryBigEndian}) {
    SCOPED_TRACE(GetPlyFormatName(f));
    const std::string in = m_dir.File("in.ply");
    KaCPlyWriter::WriteFile(c, in, f);
    for (bool bAscii : {false, true}) {
      const std::string out = m_dir.File(bAscii ? "out-ascii.ply" : "out.ply");
      std::vector<std::string> args = {"filter", in, out};
      if (bAscii) args.push_back("--ascii");
      const Result r = Run(args);
      ASSERT_EQ(r.status, 0) << r.err;
      KaCPlyReader::Contents contents;
      const auto back = KaCPlyReader::ReadFile(out, &contents);
      EXPECT_EQ(contents.eFormat, bAscii ? EPlyFormat::eAscii : EPlyFormat::eBinaryLittleEndian);
      ExpectSameSurfels(c, *back);
    }
  }
}

TEST_F(ToolTest, MalformedPlyFilesGiveStatusOneAndOneLine) {
  const std::string xyz =
      "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
      "property float z\nend_header\n";
  const std::vector<std::pair<std::string, std::string>> corpus = {
      {"empty.ply", ""},
      {"notply.ply", "solid x\n"},
      {"format.ply", "ply\nformat binary_pdp_endian 1.0\nend_header\n"},
      {"noxyz.ply", "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\nend_header\n1\n"},
      {"claims.ply",
       "ply\nformat binary_little_endian 1.0\nelement vertex 3000000000\nproperty float x\n"
       "property float y\nproperty float z\nend_header\n0123456789ab"},
      {"truncated.ply", xyz + "1 2 3\n4.0 5.0\n"},
      {"header.ply", "ply\nformat ascii 1.0\nelement vertex 1\n"},
      {"number.ply", xyz + "1 2 3\n4 five 6\n"}};
  const std::string out = m_dir.File("never.ply");
  for (const auto& [name, text] : corpus) {
    const std::string path = m_dir.File(name);
    std::ofstream(path, std::ios::binary) << text;
    ExpectOneLineError(Run({"filter", path, out}), {"tolvane filter: " + path + ": "});
    EXPECT_FALSE(std::filesystem::exists(out));
  }
  ExpectOneLineError(Run({"filter", m_dir.File("absent.ply"), out}),
                     {m_dir.File("absent.ply"), "No such file"});
  ExpectOneLineError(Run({"phantom", m_dir.File("claims.ply")}),
                     {m_dir.File("claims.ply"), "header claims 3000000000 'vertex' rows"});
}

TEST_F(ToolTest, GeneratedPhantomIsAnalysedFromAFile) {
  const std::string scan = m_dir.File("phantom.ply");
  ASSERT_EQ(
      Run({"generate", "phantom", scan, "--count", "60000", "--noise", "0", "--seed", "3"}).status,
      0);
  const std::string coloured = m_dir.File("coloured.ply");
  const std::string report = m_dir.File("report.html");
  Result r = Run({"phantom", scan, "--seed", "7", "--json", "--out", coloured, "--report", report});
  ASSERT_EQ(r.status, 0) << r.err;
  // Noise-free: depth, widths and heights within 2 µm of nominal.
  for (const char* q : {"width", "height"}) {
    const auto dev =
        JsonArray(r.out.substr(r.out.find(std::string("\"") + q + "\"")), "deviation_um");
    ASSERT_EQ(dev.size(), 4u) << q;
    for (double d : dev) EXPECT_LT(d, 2.0) << q;
  }
  // The JSON numbers are those behind the texts.
  for (const char* q : {"Width", "Height", "Shearing"}) {
    const std::string text = r.out.substr(r.out.find(std::string("\"") + q + ": "));
    const std::string line = text.substr(1, text.find('"', 1) - 1);
    std::string key = q;
    key[0] = static_cast<char>(std::tolower(key[0]));
    const std::string object = r.out.substr(r.out.find("\"" + key + "\""));
    const auto mm = JsonArray(object, "mm");
    const auto um = JsonArray(object, "deviation_um");
    ASSERT_EQ(Figures(line, "mm").size(), 4u) << line;
    for (std::size_t k = 0; k < 4; ++k) {
      EXPECT_NEAR(Figures(line, "mm")[k], mm[k], 0.00051) << line;
      EXPECT_NEAR(Micrometres(line)[k], um[k], 0.051) << line;
    }
  }
  const std::string depth = r.out.substr(r.out.find("\"depth\""));
  EXPECT_LT(std::stod(depth.substr(depth.find("\"deviation_um\":") + 15)), 2.0);
  std::size_t planes = 0;
  for (auto p = r.out.find("\"role\":"); p != std::string::npos;
       p = r.out.find("\"role\":", p + 1)) {
    ++planes;
  }
  EXPECT_EQ(planes, 7u);
  const std::string points = r.out.substr(r.out.find("\"display_points\""));
  EXPECT_EQ(std::count(points.begin(), points.end(), '['), 41);
  EXPECT_EQ(KaCPlyReader::ReadFile(coloured)->GetNrSurfels(), 60000u);
  const std::string html = ReadText(report);
  EXPECT_NE(html.find("<table>"), std::string::npos);
  EXPECT_EQ(html.find("<svg", html.find("<svg") + 1) != std::string::npos, true);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);

  // The four lines, in UTF-8, and the verdict line.
  r = Run({"phantom", scan, "--seed", "7"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], "verdict: pass (attempt 1 of 8)");
  EXPECT_EQ(lines[0].rfind("Depth: ", 0), 0u);
  EXPECT_EQ(lines[1].rfind("Shearing: ", 0), 0u);
  EXPECT_EQ(lines[2].rfind("Width: ", 0), 0u);
  EXPECT_EQ(lines[3].rfind("Height: ", 0), 0u);
  EXPECT_EQ(Micrometres(lines[2]).size(), 4u);

  // Too few surfels for seven planes, and none at all: the analysis runs, finds no corners
  // and fails its checks (status 3); the report says so.
  const std::string tiny = m_dir.File("tiny.ply");
  KaCPlyWriter::WriteFile(MakeCollection(3), tiny);
  KaCPlyWriter::WriteFile(KaCSurfelCollectionCCT(0), m_dir.File("empty.ply"));
  for (const std::string& few : {tiny, m_dir.File("empty.ply")}) {
    r = Run({"phantom", few, "--report", m_dir.File("tiny.html"), "--attempts", "2"});
    EXPECT_EQ(r.status, 3) << r.err;
    ASSERT_EQ(Lines(r.out).size(), 5u) << r.out;
    EXPECT_EQ(Lines(r.out)[4], "verdict: FAIL: finite: 34 count over 0 count (2 attempts)");
    EXPECT_NE(ReadText(m_dir.File("tiny.html")).find("FAIL"), std::string::npos);
  }
}

TEST_F(ToolTest, BuiltInPhantomMeetsTheNominalGeometry) {
  const Result r = Run({"phantom"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("built-in synthetic phantom"), std::string::npos);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 5u);
  // Depth, width and height within 5 µm; shearing follows from the nominal corners.
  for (std::size_t i : {0u, 2u, 3u}) {
    const auto um = Micrometres(lines[i]);
    ASSERT_EQ(um.size(), i == 0 ? 1u : 4u) << lines[i];
    for (double d : um) EXPECT_LT(d, 5.0) << lines[i];
  }
}

TEST_F(ToolTest, DistanceOfAKnownOffset) {
  // A jittered grid in z = 0 facing -z, moved by 0.05 along z: every surfel's distance is
  // 0.05 times the z component of its decoded normal, computed in float.
  KaCSurfelCollectionCCT c = MakeCollection(2000, eSurfelAttributeSetFull, 9);
  const float expected = 0.05f * c.GetNormal(0).z;
  KaCPlyWriter::WriteFile(c, m_dir.File("reference.ply"));
  c.GetNormalAccessor()[17] = KaCNormalCodec::c_nUnsetCode;  // no distance for this one
  KaCPlyWriter::WriteFile(c, m_dir.File("moving.ply"), EPlyFormat::eAscii);
  std::ofstream(m_dir.File("t.txt")) << "# storage order\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0.05 1\n";
  const Result r =
      Run({"distance", m_dir.File("reference.ply"), m_dir.File("moving.ply"), "--transform-file",
           m_dir.File("t.txt"), "--csv", m_dir.File("d.csv"), "--out", m_dir.File("coloured.ply")});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 10u) << r.out;
  EXPECT_EQ(lines[0], "surfels: 2000");
  EXPECT_EQ(lines[1], "with a distance: 1999");
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g", static_cast<double>(expected));
  for (std::size_t i : {2u, 5u, 6u, 7u, 8u, 9u}) {
    EXPECT_EQ(lines[i].substr(lines[i].find(": ") + 2), std::string(buf) + " mm") << lines[i];
  }
  EXPECT_EQ(lines[3], "standard deviation: 0 mm");
  // index,x,y,z,distance with the moved position.
  const auto csv = Lines(ReadText(m_dir.File("d.csv")));
  ASSERT_EQ(csv.size(), 2001u);
  EXPECT_EQ(csv[0], "index,x,y,z,distance");
  for (std::size_t i : {0u, 17u}) {
    const std::vector<double> row = CsvRow(csv[i + 1]);
    ASSERT_EQ(row.size(), i == 17 ? 4u : 5u) << csv[i + 1];
    EXPECT_EQ(row[0], static_cast<double>(i));
    EXPECT_EQ(static_cast<float>(row[1]), c.GetPosition(i).x);
    EXPECT_EQ(static_cast<float>(row[3]), static_cast<float>(c.GetPosition(i).z + 0.05));
  }
  EXPECT_EQ(csv[18].back(), ',');
  EXPECT_FLOAT_EQ(CsvRow(csv[1])[4], expected);
  const auto coloured = KaCPlyReader::ReadFile(m_dir.File("coloured.ply"));
  EXPECT_EQ(coloured->GetColor(17), KaCCompressedColor(128, 128, 128));  // grey: no distance
  EXPECT_NE(coloured->GetColor(0), KaCCompressedColor(128, 128, 128));

  // The same offset given inline, and a reference or a moving file (read on a thread of its
  // own) without normals refused; a missing moving file is named, not the reference.
  const Result inline_ = Run({"distance", m_dir.File("reference.ply"), m_dir.File("moving.ply"),
                              "--transform", "1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0.05,1"});
  EXPECT_EQ(inline_.out, r.out);
  std::ofstream(m_dir.File("bare.ply")) << "ply\nformat ascii 1.0\nelement vertex 1\n"
                                           "property float x\nproperty float y\n"
                                           "property float z\nend_header\n0 0 0\n";
  ExpectOneLineError(Run({"distance", m_dir.File("bare.ply"), m_dir.File("moving.ply")}),
                     {m_dir.File("bare.ply"), "no normals"});
  ExpectOneLineError(
      Run({"distance", m_dir.File("reference.ply"), m_dir.File("bare.ply"), "--threads", "2"}),
      {m_dir.File("bare.ply"), "no normals"});
  ExpectOneLineError(
      Run({"distance", m_dir.File("reference.ply"), m_dir.File("absent.ply"), "--threads", "2"}),
      {m_dir.File("absent.ply")});
}

// Two generated scans: any thread count prints the same summary and writes the same CSV, and
// the percentiles taken by selection equal those of a full sort of the CSV's distances.
TEST_F(ToolTest, DistanceDoesNotDependOnTheThreadCount) {
  for (const char* seed : {"1", "2"}) {
    ASSERT_EQ(Run({"generate", "phantom", m_dir.File(std::string("s") + seed + ".ply"), "--count",
                   "30000", "--seed", seed})
                  .status,
              0);
  }
  std::string out;
  std::string csv;
  for (const char* n : {"1", "2", "5"}) {
    const Result r = Run({"distance", m_dir.File("s1.ply"), m_dir.File("s2.ply"), "--threads", n,
                          "--csv", m_dir.File("d.csv")});
    ASSERT_EQ(r.status, 0) << r.err;
    if (out.empty()) {
      out = r.out;
      csv = ReadText(m_dir.File("d.csv"));
    }
    EXPECT_EQ(r.out, out) << n << " threads";
    EXPECT_EQ(ReadText(m_dir.File("d.csv")), csv) << n << " threads";
  }
  std::vector<float> d;
  for (const std::string& line : Lines(csv)) {
    const std::string value = line.substr(line.rfind(',') + 1);
    if (!value.empty() && value != "distance") d.push_back(std::stof(value));
  }
  ASSERT_GT(d.size(), 20000u);
  std::sort(d.begin(), d.end());
  const auto percentile = [&](double p) {
    const double h = static_cast<double>(d.size() - 1) * p;
    const auto lo = static_cast<std::size_t>(std::floor(h));
    return d[lo] + (h - static_cast<double>(lo)) * (static_cast<double>(d[lo + 1]) - d[lo]);
  };
  const auto lines = Lines(out);
  ASSERT_EQ(lines.size(), 10u) << out;
  const double expected[] = {d.front(), d.back(), percentile(0.05), percentile(0.5),
                             percentile(0.95)};
  for (std::size_t k = 0; k < 5; ++k) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g mm", expected[k]);
    EXPECT_EQ(lines[5 + k].substr(lines[5 + k].find(": ") + 2), buf) << lines[5 + k];
  }
  EXPECT_EQ(Run({"distance", m_dir.File("s1.ply"), m_dir.File("s2.ply"), "--threads", "0"}).status,
            2);
}

TEST_F(ToolTest, DistanceMapColoursJsonAndDistancesAsData) {
  // The surfels of a grid facing -z, lifted against their normals by a value per class of
  // i % 6: -0.5, 0, 0.5 (within R = 1), 2 (beyond R, within A = 3), 5 (beyond A), and an unset
  // normal (no distance).
  const KaCSurfelCollectionCCT reference = MakeCollection(600, eSurfelAttributeSetFull, 3);
  KaCSurfelCollectionCCT moving(reference);
  const float lift[] = {-0.5f, 0.0f, 0.5f, 2.0f, 5.0f, 0.0f};
  for (unsigned int i = 0; i < 600; ++i) {
    moving.SetPosition(i, reference.GetPosition(i) + CbVector3f(0.0f, 0.0f, -lift[i % 6]));
    if (i % 6 == 5) moving.GetNormalAccessor()[i] = KaCNormalCodec::c_nUnsetCode;
  }
  KaCPlyWriter::WriteFile(reference, m_dir.File("reference.ply"));
  KaCPlyWriter::WriteFile(moving, m_dir.File("moving.ply"));
  const std::vector<std::string> common = {"distance",
                                           m_dir.File("reference.ply"),
                                           m_dir.File("moving.ply"),
                                           "--range",
                                           "1",
                                           "--max-abs",
                                           "3"};
  std::vector<std::string> args = common;
  args.insert(args.end(), {"--out", m_dir.File("coloured.ply"), "--ascii", "--csv",
                           m_dir.File("d.csv"), "--report", m_dir.File("report.html")});
  const Result text = Run(args);
  ASSERT_EQ(text.status, 0) << text.err;
  args = common;
  args.push_back("--json");
  const Result json = Run(args);
  ASSERT_EQ(json.status, 0) << json.err;

  // Colours: blue side, neutral zero, red side, red end, grey twice.
  const auto coloured = KaCPlyReader::ReadFile(m_dir.File("coloured.ply"));
  for (unsigned int i = 0; i < 600; ++i) {
    const KaCCompressedColor c = coloured->GetColor(i);
    switch (i % 6) {
      case 0:
        EXPECT_GT(c.b, c.r + 60) << i;
        break;
      case 1:
        EXPECT_EQ(c, KaCCompressedColor(221, 221, 221)) << i;
        break;
      case 2:
        EXPECT_GT(c.r, c.b + 60) << i;
        break;
      case 3:
        EXPECT_EQ(c, KaCCompressedColor(180, 4, 38)) << i;
        break;
      default:
        EXPECT_EQ(c, KaCCompressedColor(128, 128, 128)) << i;
    }
  }

  // scalar_distance of --out equals the CSV's distances, nan where the CSV has none.
  const auto csv = Lines(ReadText(m_dir.File("d.csv")));
  ASSERT_EQ(csv.size(), 601u);
  const auto ply = Lines(ReadText(m_dir.File("coloured.ply")));
  std::size_t column = 0;
  std::size_t body = 0;
  for (std::size_t k = 0, n = 0; k < ply.size(); ++k) {
    if (ply[k] == "end_header") {
      body = k + 1;
      break;
    }
    if (ply[k].rfind("property ", 0) == 0) {
      if (ply[k] == "property float scalar_distance") column = n;
      ++n;
    }
  }
  ASSERT_GT(column, 0u);
  ASSERT_EQ(ply.size(), body + 600);
  for (std::size_t i = 0; i < 600; ++i) {
    std::istringstream row(ply[body + i]);
    std::string word;
    for (std::size_t k = 0; k <= column; ++k) row >> word;
    const std::vector<double> c = CsvRow(csv[i + 1]);
    if (c.size() == 4) {
      EXPECT_EQ(word, "nan") << i;
    } else {
      EXPECT_EQ(std::stof(word), static_cast<float>(c[4])) << i;
    }
  }

  // --json is JSON and says what the lines say.
  ASSERT_TRUE(IsJson(json.out)) << json.out;
  const auto lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0],
            "surfels: " + std::to_string(static_cast<int>(JsonValue(json.out, "surfels"))));
  EXPECT_EQ(lines[1], "with a distance: 500");
  EXPECT_EQ(JsonValue(json.out, "with_distance"), 500.0);
  const char* const keys[] = {
      "mean", "standard_deviation", "rms", "minimum", "maximum", "p5", "p50", "p95"};
  for (std::size_t k = 0; k < 8; ++k) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.6g mm", JsonValue(json.out, keys[k]));
    EXPECT_EQ(lines[k + 2].substr(lines[k + 2].find(": ") + 2), buf) << keys[k];
  }
  EXPECT_NE(json.out.find("\"unit\":\"mm\""), std::string::npos);
  EXPECT_EQ(JsonValue(json.out, "range"), 1.0);
  EXPECT_EQ(JsonValue(json.out, "max_abs"), 3.0);
  EXPECT_EQ(JsonArray(json.out, "transformation"),
            (std::vector<double>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}));
  // 100 surfels each at about -0.5, 0 and 0.5 in the bins, 200 above R (2 and 5).
  const std::vector<double> counts = JsonArray(json.out, "counts");
  EXPECT_EQ(counts.size(), 41u);
  double inBins = 0.0;
  for (double n : counts) inBins += n;
  EXPECT_EQ(inBins, 300.0);
  EXPECT_EQ(counts[20], 100.0);
  EXPECT_EQ(JsonValue(json.out, "below"), 0.0);
  EXPECT_EQ(JsonValue(json.out, "above"), 200.0);

  // The report stands alone: no script, nothing fetched, both views inline.
  const std::string report = ReadText(m_dir.File("report.html"));
  EXPECT_EQ(report.find("<script"), std::string::npos);
  EXPECT_EQ(report.find("http"), std::string::npos);
  std::size_t nImages = 0;
  for (auto p = report.find("src=\"data:image/png;base64,iVBORw0KGgo"); p != std::string::npos;
       p = report.find("src=\"data:image/png;base64,iVBORw0KGgo", p + 1)) {
    ++nImages;
  }
  EXPECT_EQ(nImages, 2u);
  EXPECT_NE(report.find("linearGradient"), std::string::npos);
}

TEST_F(ToolTest, FilterAndAcquireOnGeneratedFrames) {
  const std::string dir = m_dir.File("frames");
  ASSERT_EQ(
      Run({"generate", "frames", dir, "--frames", "12", "--count", "2000", "--seed", "4"}).status,
      0);
  std::vector<std::string> args = {"acquire"};
  for (int k = 0; k < 12; ++k)
    args.push_back(dir + "/frame_0" + (k < 10 ? "0" : "") + std::to_string(k) + ".ply");
  args.insert(args.end(), {"--out-dir", m_dir.File("processed")});

  // Training on: the threshold is learnt in the tenth good frame, which still trains.
  ASSERT_EQ(Run({"settings", "set", "TrainToothTissueAtStart", "on"}).status, 0);
  Result r = Run(args);
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 13u) << r.out;
  for (int k = 0; k < 10; ++k)
    EXPECT_NE(lines[k].find(": training, 0 tooth, 2000 gingiva"), std::string::npos) << lines[k];
  EXPECT_NE(lines[11].find(": classified, "), std::string::npos) << lines[11];
  EXPECT_NE(lines[12].find("(learnt in this run)"), std::string::npos) << lines[12];
  const auto trained = KaCPlyReader::ReadFile(m_dir.File("processed/frame_000.ply"));
  EXPECT_EQ(trained->GetQualityAccessor()[0], 0.0f);
  EXPECT_EQ(trained->GetTissueTypeAccessor()[0], 3);

  // A later run without training builds its classifier with the kept threshold (the first
  // run's classifier kept the one it was built with), and so does filter's classify: both
  // find the same tooth surfels.
  ASSERT_EQ(Run({"settings", "set", "TrainToothTissueAtStart", "off"}).status, 0);
  r = Run({"acquire", args[12]});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto again = Lines(r.out);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].substr(0, again[1].find(" (")), lines[12].substr(0, lines[12].find(" (")));
  EXPECT_NE(again[1].find("(unchanged)"), std::string::npos);
  const std::string out = m_dir.File("teeth.ply");
  r = Run({"filter", args[12], out, "classify", "discard-cheek"});
  ASSERT_EQ(r.status, 0);
  const auto teeth = KaCPlyReader::ReadFile(out);
  const std::string counts = again[0].substr(again[0].find("classified, ") + 12);
  EXPECT_EQ(std::to_string(teeth->GetNrSurfels()), counts.substr(0, counts.find(' ')));
  ASSERT_EQ(Lines(r.out).size(), 1u) << r.out;
  EXPECT_EQ(r.out.rfind("2000 surfels in, " + std::to_string(teeth->GetNrSurfels()) +
                            " out; steps: classify, discard-cheek; ",
                        0),
            0u)
      << r.out;
  EXPECT_GT(teeth->GetNrSurfels(), 200u);
  EXPECT_LT(teeth->GetNrSurfels(), 1800u);
  for (unsigned int i = 0; i < teeth->GetNrSurfels(); ++i) {
    ASSERT_EQ(teeth->GetTissueTypeAccessor()[i], 0);
  }

  // Geometry steps in order: scale x by 2, then flip the normals.
  ASSERT_EQ(Run({"filter", args[1], out, "scale=2,1,1", "flip-normals", "quality-to-one"}).status,
            0);
  const auto in = KaCPlyReader::ReadFile(args[1]);
  const auto changed = KaCPlyReader::ReadFile(out);
  ASSERT_EQ(changed->GetNrSurfels(), in->GetNrSurfels());
  EXPECT_EQ(changed->GetPosition(5).x, 2.0f * in->GetPosition(5).x);
  EXPECT_EQ(changed->GetPosition(5).y, in->GetPosition(5).y);
  EXPECT_GT(changed->GetNormal(5).z, 0.9f);
  EXPECT_EQ(changed->GetQualityAccessor()[5], 1.0f);
}

TEST_F(ToolTest, SettingsPersistAndBadInputLeavesTheFile) {
  ASSERT_EQ(Run({"settings", "set", "GingivaQualityBeforeClassification", "0.25"}).status, 0);
  Result r = Run({"settings", "get", "gingivaqualitybeforeclassification"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0.25\n");
  const std::string before = ReadText(m_dir.File("settings.ini"));
  ExpectOneLineError(Run({"settings", "set", "Colour", "1"}), {"unknown setting 'Colour'"});
  ExpectOneLineError(Run({"settings", "set", "ColorCompensate", "maybe"}),
                     {"bad value 'maybe' for ColorCompensate"});
  ExpectOneLineError(Run({"settings", "set", "ColorCodedEntity", "2.5"}), {"ColorCodedEntity"});
  EXPECT_EQ(ReadText(m_dir.File("settings.ini")), before);
  r = Run({"settings", "list"});
  EXPECT_NE(r.out.find("GingivaQualityBeforeClassification=0.25\n"), std::string::npos);
  EXPECT_NE(r.out.find("ColorCompensate=true\n"), std::string::npos);

  // --file wins over the environment; without either the XDG location is used.
  ASSERT_EQ(
      Run({"settings", "set", "ColorCodedEntity", "3", "--file", m_dir.File("other.ini")}).status,
      0);
  EXPECT_EQ(Run({"settings", "get", "ColorCodedEntity"}).out, "0\n");
  m_env["TOLVANE_SETTINGS"] = c_szUnset;
  ASSERT_EQ(Run({"settings", "set", "ColorCodedEntity", "7"}).status, 0);
  EXPECT_NE(ReadText(m_dir.File("xdg/tolvane/settings.ini")).find("ColorCodedEntity=7"),
            std::string::npos);
  // A malformed settings file is reported, not overwritten.
  std::ofstream(m_dir.File("xdg/tolvane/settings.ini")) << "[Tolvane\n";
  ExpectOneLineError(Run({"settings", "set", "ColorCodedEntity", "1"}),
                     {m_dir.File("xdg/tolvane/settings.ini") + ":1"});
  EXPECT_EQ(ReadText(m_dir.File("xdg/tolvane/settings.ini")), "[Tolvane\n");
}

}  // namespace
