#include "tissue/KaCSettingsStore.h"

#include <cerrno>
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

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "SettingsFileFormat.h"
#include "base/CbException.h"
#include "base/OutputFile.h"
#include "tissue/KaCSettingsValue.h"

namespace {

using tolvane::settings_file::Entries;

std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const auto last = s.find_last_not_of(" \t\r");
  return s.substr(first, last - first + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

[[noreturn]] void Fail(const char* function, int line, const std::string& message) {
  throw CbException(function, __FILE__, line, message);
}

// Holds an exclusive lock on a lock file for its lifetime. The lock file is never removed:
// removing it would let a process lock a file that a waiting one no longer sees.
class FileLock {
 public:
  explicit FileLock(const std::string& path) {
    m_fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) {
      Fail("KaCSettingsStore::Save", __LINE__,
           "cannot lock settings file: " + path + ": " + std::strerror(errno));
    }
    while (::flock(m_fd, LOCK_EX) != 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(m_fd);
      Fail("KaCSettingsStore::Save", __LINE__,
           "cannot lock settings file: " + path + ": " + std::strerror(err));
    }
  }
  ~FileLock() { ::close(m_fd); }  // closing releases the lock
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

 private:
  int m_fd = -1;
};

}  // namespace

struct KaCSettingsStore::Impl {
  std::string strPath;
  Entries entries;                            // what the file held at Open or the last Save
  Entries retired;                            // changed values that have gone away since
  Entries written;                            // what this process's Saves wrote, per key
  std::vector<KaCSettingsValueBase*> values;  // attached values, in order
  unsigned long nReads = 0;

  // A changed value whose text this process has not written yet.
  bool IsPending(const KaCSettingsValueBase& v, const std::string& text) const {
    if (!v.IsChanged()) return false;
    const auto s = written.find(v.GetSection());
    if (s == written.end()) return true;
    const auto k = s->second.find(v.GetKey());
    return k == s->second.end() || k->second != text;
  }

  KaCSettingsValueBase* FindValue(const std::string& section, const std::string& key) const {
    for (KaCSettingsValueBase* v : values) {
      if (v->GetSection() == section && v->GetKey() == key) return v;
    }
    return nullptr;
  }

  // Parses the file; a missing file is empty. Throws naming the file and the line.
  Entries Parse(const std::string& path) const {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) return {};  // created by the first Save
      Fail("KaCSettingsStore::Open", __LINE__,
           "cannot read settings file " + path + ": " + std::strerror(errno));
    }
    if (!S_ISREG(st.st_mode)) {
      Fail("KaCSettingsStore::Open", __LINE__, "settings file " + path + " is not a regular file");
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
      Fail("KaCSettingsStore::Open", __LINE__,
           "cannot read settings file " + path + ": " + std::strerror(errno));
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad()) {
      Fail("KaCSettingsStore::Open", __LINE__, "error while reading settings file " + path);
    }
    // Entries of the values this process knows must parse as their type.
    return tolvane::settings_file::Parse(
        text.str(), path,
        [this](const std::string& section, const std::string& key, const std::string& value) {
          const KaCSettingsValueBase* v = FindValue(section, key);
          return v == nullptr || v->CanParse(value);
        });
  }
};

KaCSettingsStore::KaCSettingsStore() : m_pImpl(new Impl) {}

KaCSettingsStore::~KaCSettingsStore() { delete m_pImpl; }

KaCSettingsStore& KaCSettingsStore::Instance() {
  // Never destroyed: values defined in other translation units detach during static
  // destruction, in an order we do not control.
  static KaCSettingsStore* s_pStore = new KaCSettingsStore;
  return *s_pStore;
}

KaISettingsStore& KaISettingsStore::GetProcessStore() { return KaCSettingsStore::Instance(); }

void KaCSettingsStore::Open(const std::string& strPath) {
  if (strPath.empty()) Fail("KaCSettingsStore::Open", __LINE__, "empty settings file name");
  Entries parsed = m_pImpl->Parse(strPath);
  m_pImpl->entries.swap(parsed);
  m_pImpl->strPath = strPath;
  // Changes of values gone before this file was named belong to no file, and what was written
  // to another file says nothing about this one.
  m_pImpl->retired.clear();
  m_pImpl->written.clear();
  // Values are read again from the newly opened store on their next use.
  for (KaCSettingsValueBase* v : m_pImpl->values) v->MarkUnread();
}

void KaCSettingsStore::Close() {
  m_pImpl->strPath.clear();
  m_pImpl->entries.clear();
  m_pImpl->retired.clear();
  m_pImpl->written.clear();
  for (KaCSettingsValueBase* v : m_pImpl->values) v->MarkUnread();
}

const std::string& KaCSettingsStore::GetPath() const noexcept { return m_pImpl->strPath; }

std::string KaCSettingsStore::LockPathFor(const std::string& strPath) {
  // Beside the file a link leads to, so that every name of one file shares one lock.
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::weakly_canonical(strPath, ec);
  return (ec ? strPath : target.string()) + ".lock";
}

void KaCSettingsStore::Save() {
  const std::string& path = m_pImpl->strPath;
  if (path.empty()) return;
  // Only what changed since this process last wrote it goes over the file, so a value saved
  // once does not overwrite another process's later change on the next Save.
  Entries changes = m_pImpl->retired;
  for (const KaCSettingsValueBase* v : m_pImpl->values) {
    std::string text = v->ToText();
    if (m_pImpl->IsPending(*v, text)) changes[v->GetSection()][v->GetKey()] = std::move(text);
  }
  const FileLock lock(LockPathFor(path));
  // What the file holds now, which other processes may have changed since we read it; only
  // the keys this process changed go over it.
  Entries merged = m_pImpl->Parse(path);
  for (const auto& [section, keys] : changes) {
    for (const auto& [key, value] : keys) merged[section][key] = value;
  }
  tolvane::OutputFile file(path, false);
  file.Write(tolvane::settings_file::Format(merged));
  file.Commit();
  m_pImpl->entries.swap(merged);
  m_pImpl->retired.clear();
  for (const auto& [section, keys] : changes) {
    for (const auto& [key, value] : keys) m_pImpl->written[section][key] = value;
  }
}

bool KaCSettingsStore::Lookup(const std::string& strSection, const std::string& strKey,
                              std::string& strText) const {
  const auto s = m_pImpl->entries.find(strSection);
  if (s == m_pImpl->entries.end()) return false;
  const auto k = s->second.find(strKey);
  if (k == s->second.end()) return false;
  strText = k->second;
  return true;
}

unsigned long KaCSettingsStore::GetReadCount() const noexcept { return m_pImpl->nReads; }

void KaCSettingsStore::Attach(KaCSettingsValueBase& value) { m_pImpl->values.push_back(&value); }

void KaCSettingsStore::Detach(KaCSettingsValueBase& value) noexcept {
  auto& values = m_pImpl->values;
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (*it == &value) {
      values.erase(it);
      break;
    }
  }
  // The last value to go (library unload) writes what changed.
  if (values.empty() && !m_pImpl->retired.empty() && !m_pImpl->strPath.empty()) {
    try {
      Save();
    } catch (...) {
      // Nothing can be reported during unload; the old file stays whole.
    }
  }
}

bool KaCSettingsStore::Fetch(const std::string& strSection, const std::string& strKey,
                             std::string& strText) {
  ++m_pImpl->nReads;
  return Lookup(strSection, strKey, strText);
}

void KaCSettingsStore::Retire(const KaCSettingsValueBase& value) noexcept {
  try {
    std::string text = value.ToText();
    if (m_pImpl->IsPending(value, text)) {
      m_pImpl->retired[value.GetSection()][value.GetKey()] = std::move(text);
    }
  } catch (...) {
    // Out of memory during unload: the change is lost, the file stays whole.
  }
}

bool KaParseSettingText(const std::string& strText, bool& bValue) {
  const std::string t = Lower(Trim(strText));
  if (t == "true" || t == "1" || t == "yes" || t == "on") {
    bValue = true;
    return true;
  }
  if (t == "false" || t == "0" || t == "no" || t == "off") {
    bValue = false;
    return true;
  }
  return false;
}

bool KaParseSettingText(const std::string& strText, float& fValue) {
  const std::string t = Trim(strText);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const float f = std::strtof(t.c_str(), &end);
  if (end != t.c_str() + t.size() || errno == ERANGE) return false;
  fValue = f;
  return true;
}

bool KaParseSettingText(const std::string& strText, int& iValue) {
  const std::string t = Trim(strText);
  if (t.empty()) return false;
  errno = 0;
  char* end = nullptr;
  const long v = std::strtol(t.c_str(), &end, 10);
  if (end != t.c_str() + t.size() || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) {
    return false;
  }
  iValue = static_cast<int>(v);
  return true;
}

std::string KaFormatSettingText(bool bValue) { return bValue ? "true" : "false"; }

std::string KaFormatSettingText(float fValue) {
  if (std::isnan(fValue)) return "nan";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.9g", static_cast<double>(fValue));
  return buf;
}

std::string KaFormatSettingText(int iValue) { return std::to_string(iValue); }
