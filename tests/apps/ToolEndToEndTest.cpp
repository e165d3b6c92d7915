// Runs the tolvane program as a user would and checks its exit status, output and files.
#include <gtest/gtest.h>

#include <tolvane/DivergingColorScale.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "apps/ToolTest.h"
#include "io/KaCPlyReader.h"
#include "io/KaCPlyWriter.h"

namespace {

using tolvane::DivergingColorScale;
using tolvane_test::Lines;
using tolvane_test::MakeCollection;
using tolvane_test::Result;
using tolvane_test::ToolTest;

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
  auto p = text.find("\"" + key + "\":");
  if (p == std::string::npos) return {};
  p = text.find('[', p);
  return CsvRow(text.substr(p + 1, text.find(']', p) - p - 1));
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

// What a summary line says after its name, and a distance as the summary prints it.
std::string Said(const std::string& line) { return line.substr(line.find(": ") + 2); }
std::string Printed(double d) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6g mm", d);
  return buf;
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (auto p = text.find(part); p != std::string::npos; p = text.find(part, p + 1)) ++n;
  return n;
}

// "tolvane X.Y.Z" and a newline, X, Y and Z each one or more digits. (Not std::regex: its
// GCC 12 instantiation fails the sanitizer build with a maybe-uninitialized warning.)
bool IsVersionLine(const std::string& s) {
  const std::string prefix = "tolvane ";
  if (s.rfind(prefix, 0) != 0 || s.back() != '\n') return false;
  int nParts = 1;
  bool bDigit = false;
  for (std::size_t i = prefix.size(); i + 1 < s.size(); ++i) {
    if (s[i] >= '0' && s[i] <= '9') {
      bDigit = true;
    } else if (s[i] == '.' && bDigit) {
      ++nParts;
      bDigit = false;
    } else {
      return false;
    }
  }
  return nParts == 3 && bDigit;
}

TEST_F(ToolTest, UsageHelpAndExitStatus) {
  EXPECT_EQ(Run("").status, 2);
  Result r = Run("--version");
  EXPECT_EQ(r.status, 0);
  EXPECT_TRUE(IsVersionLine(r.out)) << r.out;
  r = Run("--help");
  EXPECT_EQ(r.status, 0);
  for (const char* c : {"phantom", "distance", "filter", "acquire", "settings", "generate"}) {
    EXPECT_NE(r.out.find(c), std::string::npos);
    const Result h = Run(std::string(c) + " --help");
    EXPECT_EQ(h.status, 0) << c;
    EXPECT_EQ(h.out.rfind(std::string("Usage: tolvane ") + c, 0), 0u) << h.out;
  }
  for (const char* bad : {"frobnicate", "filter a.ply", "filter --bogus", "phantom --planes 6",
                          "distance a b --transform '1 2 3'", "settings rename",
                          "generate phantom x.ply --count many", "filter a.ply b.ply scale=2,3"}) {
    r = Shell(std::string("$T ") + bad);
    EXPECT_EQ(r.status, 2) << bad << " " << r.err;
    EXPECT_EQ(Lines(r.err).size(), 1u) << r.err;
  }
}

// The reader's own tests cover each malformation; here the tool's side of a header and a body
// error: status 1, one line naming the command and the file, no output written.
TEST_F(ToolTest, MalformedPlyFilesGiveStatusOneAndOneLine) {
  const std::vector<std::pair<std::string, std::string>> corpus = {
      {"empty.ply", ""},
      {"claims.ply",
       "ply\nformat binary_little_endian 1.0\nelement vertex 3000000000\nproperty float x\n"
       "property float y\nproperty float z\nend_header\n0123456789ab"},
      {"truncated.ply",
       "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\n"
       "property float z\nend_header\n1 2 3\n4.0 5.0\n"}};
  for (const auto& [name, text] : corpus) {
    tolvane_test::WriteFile(File(name), text);
    ExpectOneLineError(Run("filter " + name + " never.ply"), {"tolvane filter: " + name + ": "});
    EXPECT_FALSE(std::filesystem::exists(File("never.ply")));
  }
  ExpectOneLineError(Run("filter absent.ply never.ply"), {"absent.ply", "No such file"});
  ExpectOneLineError(Run("phantom claims.ply"),
                     {"claims.ply", "header claims 3000000000 'vertex' rows"});
}

TEST_F(ToolTest, PhantomFromAFileAndBuiltIn) {
  ASSERT_EQ(Run("generate phantom phantom.ply --count 60000 --noise 0 --seed 3").status, 0);
  Result r = Run("phantom phantom.ply --seed 7 --json --out coloured.ply --report report.html");
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
  EXPECT_EQ(Count(r.out, "\"role\":"), 7u);
  const std::string points = r.out.substr(r.out.find("\"display_points\""));
  EXPECT_EQ(std::count(points.begin(), points.end(), '['), 41);
  EXPECT_EQ(KaCPlyReader::ReadFile(File("coloured.ply"))->GetNrSurfels(), 60000u);
  const std::string html = Text("report.html");
  EXPECT_NE(html.find("<table>"), std::string::npos);
  EXPECT_GE(Count(html, "<svg"), 2u);
  EXPECT_EQ(html.find("<script"), std::string::npos);
  EXPECT_EQ(html.find("http"), std::string::npos);

  // The four lines, in UTF-8, and the verdict line, for the file and for the built-in phantom
  // (said on stderr): depth, width and height within 5 µm.
  for (const std::string args : {"phantom phantom.ply --seed 7", "phantom"}) {
    r = Run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err.find("built-in synthetic phantom") != std::string::npos, args == "phantom");
    const auto lines = Lines(r.out);
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[4], "verdict: pass (attempt 1 of 8)");
    EXPECT_EQ(lines[0].rfind("Depth: ", 0), 0u);
    EXPECT_EQ(lines[1].rfind("Shearing: ", 0), 0u);
    EXPECT_EQ(lines[2].rfind("Width: ", 0), 0u);
    EXPECT_EQ(lines[3].rfind("Height: ", 0), 0u);
    for (std::size_t i : {0u, 2u, 3u}) {
      const auto um = Micrometres(lines[i]);
      ASSERT_EQ(um.size(), i == 0 ? 1u : 4u) << lines[i];
      for (double d : um) EXPECT_LT(d, 5.0) << lines[i];
    }
  }

  // Too few surfels for seven planes, and none at all: the analysis runs, finds no corners
  // and fails its checks (status 3); the report says so.
  KaCPlyWriter::WriteFile(MakeCollection(3), File("tiny.ply"));
  KaCPlyWriter::WriteFile(KaCSurfelCollectionCCT(0), File("empty.ply"));
  for (const char* few : {"tiny.ply", "empty.ply"}) {
    r = Run(std::string("phantom ") + few + " --report tiny.html --attempts 2");
    EXPECT_EQ(r.status, 3) << r.err;
    ASSERT_EQ(Lines(r.out).size(), 5u) << r.out;
    EXPECT_EQ(Lines(r.out)[4], "verdict: FAIL: finite: 34 count over 0 count (2 attempts)");
    EXPECT_NE(Text("tiny.html").find("FAIL"), std::string::npos);
  }
}

TEST_F(ToolTest, DistanceOfAKnownOffset) {
  // A jittered grid in z = 0 facing -z, moved by 0.05 along z: every surfel's distance is
  // 0.05 times the z component of its decoded normal, computed in float.
  KaCSurfelCollectionCCT c = MakeCollection(2000, eSurfelAttributeSetFull, 9);
  const float expected = 0.05f * c.GetNormal(0).z;
  KaCPlyWriter::WriteFile(c, File("reference.ply"));
  c.GetNormalAccessor()[17] = KaCNormalCodec::c_nUnsetCode;  // no distance for this one
  KaCPlyWriter::WriteFile(c, File("moving.ply"), EPlyFormat::eAscii);
  tolvane_test::WriteFile(File("t.txt"),
                          "# storage order\n1 0 0 0\n0 1 0 0\n0 0 1 0\n0 0 0.05 1\n");
  const Result r = Run(
      "distance reference.ply moving.ply --transform-file t.txt --csv d.csv --out coloured.ply");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 10u) << r.out;
  EXPECT_EQ(lines[0], "surfels: 2000");
  EXPECT_EQ(lines[1], "with a distance: 1999");
  for (std::size_t i : {2u, 5u, 6u, 7u, 8u, 9u}) {
    EXPECT_EQ(Said(lines[i]), Printed(expected)) << lines[i];
  }
  EXPECT_EQ(lines[3], "standard deviation: 0 mm");
  // index,x,y,z,distance with the moved position.
  const auto csv = Lines(Text("d.csv"));
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
  const auto coloured = KaCPlyReader::ReadFile(File("coloured.ply"));
  EXPECT_EQ(coloured->GetColor(17), KaCCompressedColor(128, 128, 128));  // grey: no distance
  EXPECT_NE(coloured->GetColor(0), KaCCompressedColor(128, 128, 128));

  // The same offset given inline, and a reference or a moving file (read on a thread of its
  // own) without normals refused; a missing moving file is named, not the reference.
  EXPECT_EQ(Shell("$T distance reference.ply moving.ply --transform "
                  "'1,0,0,0, 0,1,0,0, 0,0,1,0, 0,0,0.05,1'")
                .out,
            r.out);
  tolvane_test::WriteFile(File("bare.ply"),
                          "ply\nformat ascii 1.0\nelement vertex 1\nproperty float x\n"
                          "property float y\nproperty float z\nend_header\n0 0 0\n");
  ExpectOneLineError(Run("distance bare.ply moving.ply"), {"bare.ply", "no normals"});
  ExpectOneLineError(Run("distance reference.ply bare.ply --threads 2"),
                     {"bare.ply", "no normals"});
  ExpectOneLineError(Run("distance reference.ply absent.ply --threads 2"), {"absent.ply"});
}

// Two generated scans: any thread count prints the same summary and writes the same CSV, and
// the percentiles taken by selection equal those of a full sort of the CSV's distances.
TEST_F(ToolTest, DistanceDoesNotDependOnTheThreadCount) {
  for (const char* seed : {"1", "2"}) {
    ASSERT_EQ(
        Run(std::string("generate phantom s") + seed + ".ply --count 30000 --seed " + seed).status,
        0);
  }
  std::string out;
  std::string csv;
  for (const char* n : {"1", "2", "5"}) {
    const Result r = Run(std::string("distance s1.ply s2.ply --csv d.csv --threads ") + n);
    ASSERT_EQ(r.status, 0) << r.err;
    if (out.empty()) {
      out = r.out;
      csv = Text("d.csv");
    }
    EXPECT_EQ(r.out, out) << n << " threads";
    EXPECT_EQ(Text("d.csv"), csv) << n << " threads";
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
  for (std::size_t k = 0; k < 5; ++k) EXPECT_EQ(Said(lines[5 + k]), Printed(expected[k]));
  EXPECT_EQ(Run("distance s1.ply s2.ply --threads 0").status, 2);
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
  KaCPlyWriter::WriteFile(reference, File("reference.ply"));
  KaCPlyWriter::WriteFile(moving, File("moving.ply"));
  const std::string common = "distance reference.ply moving.ply --range 1 --max-abs 3";
  const Result text = Run(common + " --out coloured.ply --ascii --csv d.csv --report report.html");
  ASSERT_EQ(text.status, 0) << text.err;
  const Result json = Run(common + " --json");
  ASSERT_EQ(json.status, 0) << json.err;

  // The colours of --out are those of the scale of R = 1 and A = 3 for the CSV's distances
  // (grey where there is none), and its scalar_distance is the CSV's distance, nan for none.
  const DivergingColorScale scale(1.0f, 3.0f);
  const auto coloured = KaCPlyReader::ReadFile(File("coloured.ply"));
  const auto csv = Lines(Text("d.csv"));
  ASSERT_EQ(csv.size(), 601u);
  const auto ply = Lines(Text("coloured.ply"));
  const auto body = std::find(ply.begin(), ply.end(), "end_header") - ply.begin() + 1;
  const auto column = std::find(ply.begin(), ply.begin() + body, "property float scalar_distance") -
                      std::find(ply.begin(), ply.end(), "property float x");
  ASSERT_GT(column, 0);
  ASSERT_EQ(ply.size(), static_cast<std::size_t>(body) + 600);
  std::size_t nWithDistance = 0;
  for (std::size_t i = 0; i < 600; ++i) {
    std::istringstream row(ply[body + i]);
    std::string word;
    for (std::ptrdiff_t k = 0; k <= column; ++k) row >> word;
    const std::vector<double> c = CsvRow(csv[i + 1]);
    const float d = c.size() == 4 ? DivergingColorScale::c_fNoValue : static_cast<float>(c[4]);
    const DivergingColorScale::Rgb rgb = scale.ColorOf(d);
    EXPECT_EQ(coloured->GetColor(i), KaCCompressedColor(rgb.r, rgb.g, rgb.b)) << i;
    if (c.size() == 4) {
      EXPECT_EQ(word, "nan") << i;
    } else {
      EXPECT_EQ(std::stof(word), d) << i;
      ++nWithDistance;
    }
  }
  EXPECT_EQ(nWithDistance, 500u);
  EXPECT_EQ(coloured->GetColor(3), KaCCompressedColor(180, 4, 38));  // 2: beyond R, the red end

  // --json is JSON and says what the lines say.
  tolvane_test::WriteFile(File("d.json"), json.out);
  EXPECT_EQ(Shell("/usr/bin/python3 -m json.tool d.json >/dev/null").status, 0) << json.out;
  const auto lines = Lines(text.out);
  ASSERT_EQ(lines.size(), 10u);
  EXPECT_EQ(lines[0],
            "surfels: " + std::to_string(static_cast<int>(JsonValue(json.out, "surfels"))));
  EXPECT_EQ(lines[1], "with a distance: 500");
  EXPECT_EQ(JsonValue(json.out, "with_distance"), 500.0);
  const char* const keys[] = {
      "mean", "standard_deviation", "rms", "minimum", "maximum", "p5", "p50", "p95"};
  for (std::size_t k = 0; k < 8; ++k) {
    EXPECT_EQ(Said(lines[k + 2]), Printed(JsonValue(json.out, keys[k]))) << keys[k];
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
  const std::string report = Text("report.html");
  EXPECT_EQ(report.find("<script"), std::string::npos);
  EXPECT_EQ(report.find("http"), std::string::npos);
  EXPECT_EQ(Count(report, "src=\"data:image/png;base64,iVBORw0KGgo"), 2u);
  EXPECT_NE(report.find("linearGradient"), std::string::npos);
}

// The geometry steps of filter are compared with the library's filters by the Python tests.
TEST_F(ToolTest, FilterAndAcquireOnGeneratedFrames) {
  ASSERT_EQ(Run("generate frames frames --frames 12 --count 2000 --seed 4").status, 0);

  // Training on: the threshold is learnt in the tenth good frame, which still trains.
  ASSERT_EQ(Run("settings set TrainToothTissueAtStart on").status, 0);
  Result r = Shell("$T acquire frames/*.ply --out-dir processed");
  ASSERT_EQ(r.status, 0) << r.err;
  auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 13u) << r.out;
  for (int k = 0; k < 10; ++k)
    EXPECT_NE(lines[k].find(": training, 0 tooth, 2000 gingiva"), std::string::npos) << lines[k];
  EXPECT_NE(lines[11].find(": classified, "), std::string::npos) << lines[11];
  EXPECT_NE(lines[12].find("(learnt in this run)"), std::string::npos) << lines[12];
  const auto trained = KaCPlyReader::ReadFile(File("processed/frame_000.ply"));
  EXPECT_EQ(trained->GetQualityAccessor()[0], 0.0f);
  EXPECT_EQ(trained->GetTissueTypeAccessor()[0], 3);

  // A later run without training builds its classifier with the kept threshold (the first
  // run's classifier kept the one it was built with), and so does filter's classify: both
  // find the same tooth surfels.
  ASSERT_EQ(Run("settings set TrainToothTissueAtStart off").status, 0);
  r = Run("acquire frames/frame_011.ply");
  ASSERT_EQ(r.status, 0) << r.err;
  const auto again = Lines(r.out);
  ASSERT_EQ(again.size(), 2u);
  EXPECT_EQ(again[1].substr(0, again[1].find(" (")), lines[12].substr(0, lines[12].find(" (")));
  EXPECT_NE(again[1].find("(unchanged)"), std::string::npos);
  r = Run("filter frames/frame_011.ply teeth.ply classify discard-cheek");
  ASSERT_EQ(r.status, 0);
  const auto teeth = KaCPlyReader::ReadFile(File("teeth.ply"));
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
}

TEST_F(ToolTest, SettingsPersistAndBadInputLeavesTheFile) {
  ASSERT_EQ(Run("settings set GingivaQualityBeforeClassification 0.25").status, 0);
  Result r = Run("settings get gingivaqualitybeforeclassification");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "0.25\n");
  const std::string before = Text("settings.ini");
  ExpectOneLineError(Run("settings set Colour 1"), {"unknown setting 'Colour'"});
  ExpectOneLineError(Run("settings set ColorCompensate maybe"),
                     {"bad value 'maybe' for ColorCompensate"});
  ExpectOneLineError(Run("settings set ColorCodedEntity 2.5"), {"ColorCodedEntity"});
  EXPECT_EQ(Text("settings.ini"), before);
  r = Run("settings list");
  EXPECT_NE(r.out.find("GingivaQualityBeforeClassification=0.25\n"), std::string::npos);
  EXPECT_NE(r.out.find("ColorCompensate=true\n"), std::string::npos);

  // --file wins over the environment; without either the XDG location is used.
  ASSERT_EQ(Run("settings set ColorCodedEntity 3 --file other.ini").status, 0);
  EXPECT_EQ(Run("settings get ColorCodedEntity").out, "0\n");
  m_env["TOLVANE_SETTINGS"] = "";
  ASSERT_EQ(Run("settings set ColorCodedEntity 7").status, 0);
  EXPECT_NE(Text("xdg/tolvane/settings.ini").find("ColorCodedEntity=7"), std::string::npos);
  // A malformed settings file is reported, not overwritten.
  tolvane_test::WriteFile(File("xdg/tolvane/settings.ini"), "[Tolvane\n");
  ExpectOneLineError(Run("settings set ColorCodedEntity 1"),
                     {File("xdg/tolvane/settings.ini") + ":1"});
  EXPECT_EQ(Text("xdg/tolvane/settings.ini"), "[Tolvane\n");
}

}  // namespace
