#include <cmath>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "base/CbException.h"
#include "support/TestSupport.h"
#include "tissue/KaCSettingsStore.h"
#include "tissue/KaCSettingsValue.h"

namespace {

using tolvane_test::ReadFile;
using tolvane_test::WriteFile;

class KaCSettingsStoreTest : public ::testing::Test {
 protected:
  void TearDown() override { KaCSettingsStore::Instance().Close(); }
  tolvane_test::TempDir m_dir;
};

TEST_F(KaCSettingsStoreTest, ValueFlagsFollowReadsAndChanges) {
  KaCSettingsValue<float> v("Test", "Float", 1.5f);
  EXPECT_FALSE(v.IsRead());
  v.SetValue(1.5f);
  EXPECT_FALSE(v.IsChanged());
  v.SetValue(NAN);
  EXPECT_TRUE(v.IsChanged());
  v.Read(true);  // a value the host changed is kept
  EXPECT_TRUE(std::isnan(v.GetValue()));
  EXPECT_TRUE(v.IsRead());
  v.Read(false);  // no entry: back to the default
  EXPECT_EQ(v.GetValue(), 1.5f);
}

// A store of the test's own behind the interface: the value reaches nothing else.
class FakeStore final : public KaISettingsStore {
 public:
  void Attach(KaCSettingsValueBase& /*value*/) override { ++nAttached; }
  void Detach(KaCSettingsValueBase& /*value*/) noexcept override { --nAttached; }
  bool Fetch(const std::string& section, const std::string& key, std::string& text) override {
    ++nFetches;
    if (section != "S" || key != "K") return false;
    text = "7";
    return true;
  }
  void Retire(const KaCSettingsValueBase& value) noexcept override {
    if (value.IsChanged()) retired = value.ToText();
  }
  int nAttached = 0;
  int nFetches = 0;
  std::string retired;
};

TEST_F(KaCSettingsStoreTest, ValuesReachTheirStoreThroughTheInterface) {
  FakeStore store;
  const unsigned long before = KaCSettingsStore::Instance().GetReadCount();
  {
    KaCSettingsValue<int> k("S", "K", 1, store);
    KaCSettingsValue<int> other("S", "Other", 2, store);
    EXPECT_EQ(store.nAttached, 2);
    k.Read(true);
    other.Read(true);
    EXPECT_EQ(k.GetValue(), 7);
    EXPECT_EQ(other.GetValue(), 2);  // nothing stored: the default
    k.SetValue(9);
  }
  EXPECT_EQ(store.nAttached, 0);
  EXPECT_EQ(store.nFetches, 2);
  EXPECT_EQ(store.retired, "9");  // only the changed value is handed over
  EXPECT_EQ(KaCSettingsStore::Instance().GetReadCount(), before);
}

TEST_F(KaCSettingsStoreTest, ParsesSectionsCommentsAndTypedValues) {
  const std::string file = m_dir.File("s.ini");
  WriteFile(file,
            "; comment\n[Other]\nX = 1\n\n[Test]\n  Int = -42 \nBool=yes\n# more\nFloat=2.5\n");
  KaCSettingsValue<int> i("Test", "Int", 0);
  KaCSettingsValue<bool> b("Test", "Bool", false);
  KaCSettingsValue<float> f("Test", "Float", 0.0f);
  KaCSettingsStore::Instance().Open(file);
  i.Read(true);
  b.Read(true);
  f.Read(true);
  EXPECT_EQ(i.GetValue(), -42);
  EXPECT_TRUE(b.GetValue());
  EXPECT_EQ(f.GetValue(), 2.5f);
  std::string text;
  EXPECT_TRUE(KaCSettingsStore::Instance().Lookup("Other", "X", text));
  EXPECT_EQ(text, "1");
}

TEST_F(KaCSettingsStoreTest, MalformedFilesThrowAndKeepThePreviousStore) {
  const std::string good = m_dir.File("good.ini");
  WriteFile(good, "[Test]\nInt=5\n");
  KaCSettingsValue<int> i("Test", "Int", 0);
  KaCSettingsStore::Instance().Open(good);
  for (const char* text : {"[Test]\nno equals sign\n", "Int=1\n", "[Test\nInt=1\n",
                           "[Test]\nInt=12abc\n", "[Test]\nInt=99999999999\n", "[ \r]\nInt=1\n"}) {
    const std::string file = m_dir.File("bad.ini");
    WriteFile(file, text);
    try {
      KaCSettingsStore::Instance().Open(file);
      ADD_FAILURE() << "accepted: " << text;
    } catch (const CbException& e) {
      EXPECT_NE(std::string(e.what()).find("bad.ini:"), std::string::npos) << e.what();
    }
    EXPECT_EQ(ReadFile(file), text);
  }
  EXPECT_EQ(KaCSettingsStore::Instance().GetPath(), good);
  std::filesystem::create_directory(m_dir.File("dir.ini"));
  EXPECT_THROW(KaCSettingsStore::Instance().Open(m_dir.File("dir.ini")), CbException);
}

TEST_F(KaCSettingsStoreTest, SaveIsAtomicAndKeepsForeignEntries) {
  const std::string file = m_dir.File("s.ini");
  WriteFile(file, "[Foreign]\nKeep=me\n");
  KaCSettingsValue<int> i("Test", "Saved", 0);
  KaCSettingsStore::Instance().Open(file);
  i.SetValue(3);
  KaCSettingsStore::Instance().Save();
  // Other values of this process may have changed too; ours and the foreign ones must be there.
  const std::string saved = ReadFile(file);
  EXPECT_EQ(saved.rfind("[Foreign]\nKeep=me\n\n[Test]\nSaved=3\n", 0), 0u) << saved;

  // When the file has gone bad meanwhile, Save refuses and leaves it as it is.
  WriteFile(file, "garbage\n");
  i.SetValue(4);
  EXPECT_THROW(KaCSettingsStore::Instance().Save(), CbException);
  EXPECT_EQ(ReadFile(file), "garbage\n");

  // A file whose folder has gone cannot be written: Save throws and leaves nothing behind.
  const std::string sub = m_dir.File("sub");
  std::filesystem::create_directory(sub);
  KaCSettingsStore::Instance().Open(sub + "/s.ini");
  std::filesystem::remove(sub);
  EXPECT_THROW(KaCSettingsStore::Instance().Save(), CbException);
  EXPECT_FALSE(std::filesystem::exists(sub));
}

}  // namespace
