#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tolvane_test {

KaCSurfelCollectionCCT MakeCollection(unsigned int n, ESurfelAttributeSet eSet, unsigned int seed) {
  KaCSurfelCollectionCCT c(n, true, eSet);
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> jitter(-0.1f, 0.1f);
  std::uniform_int_distribution<int> byte(0, 255);
  auto pos = c.GetAccessor<CbVector3f>(eSurfelAttributePosition);
  auto normals = c.GetNormalAccessor();
  auto colors = c.GetAccessor<KaCCompressedColor>(eSurfelAttributeColor);
  auto values = c.GetAccessor<unsigned int>(eSurfelAttributeValue);
  auto& quality = c.GetQualityAccessor();
  auto& tissue = c.GetTissueTypeAccessor();
  auto& boundary = c.GetBoundaryFlagAccessor();
  const unsigned short facing = KaCNormalCodec::Encode(CbVector3f(0.0f, 0.0f, -1.0f));
  for (unsigned int i = 0; i < n; ++i) {
    pos[i] = CbVector3f(static_cast<float>(i % 100) + jitter(rng),
                        static_cast<float>(i / 100) + jitter(rng), 0.0f);
    normals[i] = facing;
    colors[i] = KaCCompressedColor(static_cast<unsigned char>(byte(rng)),
                                   static_cast<unsigned char>(byte(rng)),
                                   static_cast<unsigned char>(byte(rng)));
    quality.Set(i, static_cast<float>(i % 16) / 15.0f);
    tissue.Set(i, static_cast<unsigned char>(i % 4));
    boundary.Set(i, (i % 3) == 0);
    values[i] = 1000u + i;
  }
  return c;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "tolvane-test-XXXXXX").string();
  if (mkdtemp(tmpl.data()) == nullptr)
    throw std::runtime_error("cannot create a temporary directory");
  m_strPath = tmpl;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(m_strPath, ec);
}

}  // namespace tolvane_test
