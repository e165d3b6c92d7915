#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include <tolvane/KaCTolvaneSettings.h>

#include "support/TestSupport.h"
#include "tissue/KaCSettingsStore.h"

namespace {

std::string RunProbe(const std::string& args) {
  const std::string cmd = std::string(TOLVANE_SETTINGS_PROBE) + " " + args;
  FILE* pipe = popen(cmd.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  std::string out;
  char buf[256];
  while (std::fgets(buf, sizeof buf, pipe) != nullptr) out += buf;
  const int status = pclose(pipe);
  return status == 0 ? out : "exit " + std::to_string(status);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

class KaCTolvaneSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { KaCSettingsStore::Instance().Open(m_dir.File("settings.ini")); }
  void TearDown() override { KaCSettingsStore::Instance().Close(); }
  tolvane_test::TempDir m_dir;
};

TEST_F(KaCTolvaneSettingsTest, GetterReadsTheStoreOnce) {
  {
    std::ofstream out(m_dir.File("settings.ini"));
    out << "[Tolvane]\nColorCodedEntity=8\nColorCompensate=false\n";
  }
  KaCSettingsStore::Instance().Open(m_dir.File("settings.ini"));
  const unsigned long before = KaCSettingsStore::Instance().GetReadCount();
  EXPECT_EQ(KaCTolvaneSettings::GetColorCodedEntity(), 8);
  EXPECT_EQ(KaCTolvaneSettings::GetColorCodedEntity(), 8);
  EXPECT_EQ(KaCSettingsStore::Instance().GetReadCount(), before + 1);
  EXPECT_FALSE(KaCTolvaneSettings::IsColorCompensate());
  EXPECT_EQ(KaCSettingsStore::Instance().GetReadCount(), before + 2);
}

TEST_F(KaCTolvaneSettingsTest, DefaultsWithoutAFile) {
  KaCSettingsStore::Instance().Close();
  EXPECT_FALSE(KaCTolvaneSettings::IsAnalyzePhantomInteractively());
  EXPECT_TRUE(KaCTolvaneSettings::IsQualityFromColor());
  EXPECT_TRUE(KaCTolvaneSettings::IsToothTissueBeforeSequentialRegistration());
  EXPECT_FALSE(KaCTolvaneSettings::IsTrainToothTissueAtStart());
  EXPECT_EQ(KaCTolvaneSettings::GetGingivaQualityBeforeClassification(), 0.5f);
}

// Equal values are not written back; a different one is, and NaN always counts as a change.
TEST_F(KaCTolvaneSettingsTest, OnlyChangedValuesAreSaved) {
  KaCTolvaneSettings::SetTrainToothTissueAtStart(KaCTolvaneSettings::IsTrainToothTissueAtStart());
  KaCSettingsStore::Instance().Save();
  EXPECT_EQ(Slurp(m_dir.File("settings.ini")).find("TrainToothTissueAtStart"), std::string::npos);
  KaCTolvaneSettings::SetAnalyzePhantomInteractively(
      !KaCTolvaneSettings::IsAnalyzePhantomInteractively());
  KaCSettingsStore::Instance().Save();
  EXPECT_NE(Slurp(m_dir.File("settings.ini")).find("AnalyzePhantomInteractively="),
            std::string::npos);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(NAN);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(NAN);
  EXPECT_TRUE(std::isnan(KaCTolvaneSettings::GetGingivaQualityBeforeClassification()));
  KaCSettingsStore::Instance().Save();
  EXPECT_NE(Slurp(m_dir.File("settings.ini")).find("GingivaQualityBeforeClassification=nan"),
            std::string::npos);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(0.5f);
}

// Values survive a restart: one process sets them, a fresh one reads them back.
TEST_F(KaCTolvaneSettingsTest, ValuesSurviveARestart) {
  const std::string file = m_dir.File("persist.ini");
  EXPECT_EQ(RunProbe(file + " get"), "0 1 0.5\n");
  EXPECT_EQ(RunProbe(file + " set-entity 7"), "");  // saved when the library unloads
  EXPECT_EQ(RunProbe(file + " set-gingiva 0.25"), "");
  EXPECT_EQ(RunProbe(file + " get"), "7 1 0.25\n");
  EXPECT_NE(Slurp(file).find("[Tolvane]"), std::string::npos);
}

TEST_F(KaCTolvaneSettingsTest, MalformedFileIsRefusedAndLeftAlone) {
  const std::string file = m_dir.File("bad.ini");
  const std::string text = "[Tolvane]\nColorCodedEntity=seven\n";
  {
    std::ofstream out(file);
    out << text;
  }
  EXPECT_EQ(RunProbe(file + " set-gingiva 0.25").rfind("exit ", 0), 0u);
  EXPECT_EQ(Slurp(file), text);
}

}  // namespace
