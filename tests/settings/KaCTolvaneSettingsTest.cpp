#include <cmath>
#include <cstdio>
#include <string>

#include <gtest/gtest.h>

#include <tolvane/KaCTolvaneSettings.h>

#include "support/TestSupport.h"
#include "tissue/KaCSettingsStore.h"

namespace {

using tolvane_test::ReadFile;

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

class KaCTolvaneSettingsTest : public ::testing::Test {
 protected:
  void SetUp() override { KaCSettingsStore::Instance().Open(m_file); }
  void TearDown() override { KaCSettingsStore::Instance().Close(); }
  tolvane_test::TempDir m_dir;
  const std::string m_file = m_dir.File("settings.ini");
};

TEST_F(KaCTolvaneSettingsTest, GetterReadsTheStoreOnce) {
  tolvane_test::WriteFile(m_file, "[Tolvane]\nColorCodedEntity=8\nColorCompensate=false\n");
  KaCSettingsStore::Instance().Open(m_file);
  const unsigned long before = KaCSettingsStore::Instance().GetReadCount();
  EXPECT_EQ(KaCTolvaneSettings::GetColorCodedEntity(), 8);
  EXPECT_EQ(KaCTolvaneSettings::GetColorCodedEntity(), 8);
  EXPECT_EQ(KaCSettingsStore::Instance().GetReadCount(), before + 1);
  EXPECT_FALSE(KaCTolvaneSettings::IsColorCompensate());
  EXPECT_EQ(KaCSettingsStore::Instance().GetReadCount(), before + 2);
}

// Equal values are not written back; a different one is, and NaN always counts as a change.
TEST_F(KaCTolvaneSettingsTest, OnlyChangedValuesAreSaved) {
  KaCTolvaneSettings::SetTrainToothTissueAtStart(KaCTolvaneSettings::IsTrainToothTissueAtStart());
  KaCSettingsStore::Instance().Save();
  EXPECT_EQ(ReadFile(m_file).find("TrainToothTissueAtStart"), std::string::npos);
  KaCTolvaneSettings::SetAnalyzePhantomInteractively(
      !KaCTolvaneSettings::IsAnalyzePhantomInteractively());
  KaCSettingsStore::Instance().Save();
  EXPECT_NE(ReadFile(m_file).find("AnalyzePhantomInteractively="), std::string::npos);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(NAN);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(NAN);
  EXPECT_TRUE(std::isnan(KaCTolvaneSettings::GetGingivaQualityBeforeClassification()));
  KaCSettingsStore::Instance().Save();
  EXPECT_NE(ReadFile(m_file).find("GingivaQualityBeforeClassification=nan"), std::string::npos);
  KaCTolvaneSettings::SetGingivaQualityBeforeClassification(0.5f);
}

// Values survive a restart: one process sets them, a fresh one reads them back. A malformed
// file makes the process fail and is left as it was.
TEST_F(KaCTolvaneSettingsTest, ValuesSurviveARestartAndBadFilesAreLeftAlone) {
  const std::string file = m_dir.File("persist.ini");
  EXPECT_EQ(RunProbe(file + " get"), "0 1 0.5\n");  // the defaults
  EXPECT_EQ(RunProbe(file + " set-entity 7"), "");  // saved when the library unloads
  EXPECT_EQ(RunProbe(file + " set-gingiva 0.25"), "");
  EXPECT_EQ(RunProbe(file + " get"), "7 1 0.25\n");
  EXPECT_NE(ReadFile(file).find("[Tolvane]"), std::string::npos);

  const std::string bad = "[Tolvane]\nColorCodedEntity=seven\n";
  tolvane_test::WriteFile(file, bad);
  EXPECT_EQ(RunProbe(file + " set-gingiva 0.25").rfind("exit ", 0), 0u);
  EXPECT_EQ(ReadFile(file), bad);
}

}  // namespace
