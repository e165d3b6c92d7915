#include "tissue/KaCSettingsStore.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/CbException.h"
#include "tissue/KaCSettingsValue.h"

namespace {

using Section = std::map<std::string, std::string>;
using Entries = std::map<std::string, Section>;

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

}  // namespace

struct KaCSettingsStore::Impl {
  std::string strPath;
  Entries entries;
  std::vector<KaCSettingsValueBase*> values;
  unsigned long nReads = 0;
  bool bDirty = false;

  KaCSettingsValueBase* FindValue(const std::string& section, const std::string& key) const {
    for (KaCSettingsValueBase* v : values) {
      if (v->GetSection() == section && v->GetKey() == key) return v;
    }
    return nullptr;
  }

  // Parses the file into entries; throws naming the file and the line.
  Entries Parse(const std::string& path) const {
    Entries parsed;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
      if (errno == ENOENT) return parsed;  // created by the first Save
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
    std::string line;
    std::string section;
    bool bHaveSection = false;
    int lineNo = 0;
    while (std::getline(in, line)) {
      ++lineNo;
      const std::string t = Trim(line);
      const std::string where = path + ":" + std::to_string(lineNo) + ": ";
      if (t.empty() || t[0] == ';' || t[0] == '#') continue;
      if (t.front() == '[') {
        if (t.back() != ']' || t.size() < 3) {
          Fail("KaCSettingsStore::Open", __LINE__, where + "malformed section header");
        }
        section = Trim(t.substr(1, t.size() - 2));
        bHaveSection = true;
        parsed[section];
        continue;
      }
      const auto eq = t.find('=');
      if (eq == std::string::npos || eq == 0) {
        Fail("KaCSettingsStore::Open", __LINE__, where + "expected key=value");
      }
      if (!bHaveSection) {
        Fail("KaCSettingsStore::Open", __LINE__, where + "key=value before any [section]");
      }
      const std::string key = Trim(t.substr(0, eq));
      const std::string value = Trim(t.substr(eq + 1));
      if (const KaCSettingsValueBase* v = FindValue(section, key)) {
        if (!v->CanParse(value)) {
          Fail("KaCSettingsStore::Open", __LINE__, where + "bad value '" + value + "' for " + key);
        }
      }
      parsed[section][key] = value;
    }
    if (in.bad()) {
      Fail("KaCSettingsStore::Open", __LINE__, "error while reading settings file " + path);
    }
    return parsed;
  }

  void Collect() {
    for (const KaCSettingsValueBase* v : values) {
      if (v->IsChanged()) entries[v->GetSection()][v->GetKey()] = v->ToText();
    }
  }

  void Write() const {
    std::ostringstream out;
    bool first = true;
    for (const auto& [section, keys] : entries) {
      if (!first) out << '\n';
      first = false;
      out << '[' << section << "]\n";
      for (const auto& [key, value] : keys) out << key << '=' << value << '\n';
    }
    const std::string text = out.str();

    // Write beside the target and rename, so the old file stays whole if anything fails.
    std::string tmpl = strPath + ".tmp.XXXXXX";
    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
      Fail("KaCSettingsStore::Save", __LINE__,
           "cannot write settings file " + strPath + ": " + std::strerror(errno));
    }
    const char* p = text.data();
    std::size_t left = text.size();
    bool ok = true;
    while (left > 0) {
      const ssize_t n = ::write(fd, p, left);
      if (n < 0) {
        if (errno == EINTR) continue;
        ok = false;
        break;
      }
      p += n;
      left -= static_cast<std::size_t>(n);
    }
    const int savedErrno = errno;
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (ok) ::chmod(tmpl.c_str(), 0644);
    if (!ok || std::rename(tmpl.c_str(), strPath.c_str()) != 0) {
      const int err = ok ? errno : savedErrno;
      ::unlink(tmpl.c_str());
      Fail("KaCSettingsStore::Save", __LINE__,
           "cannot write settings file " + strPath + ": " + std::strerror(err));
    }
  }
};

KaCSettingsStore::KaCSettingsStore() : m_pImpl(new Impl) {}

KaCSettingsStore::~KaCSettingsStore() { delete m_pImpl; }

KaCSettingsStore& KaCSettingsStore::Instance() {
  // Never destroyed: values defined in other translation units unregister during static
  // destruction, in an order we do not control.
  static KaCSettingsStore* s_pStore = new KaCSettingsStore;
  return *s_pStore;
}

void KaCSettingsStore::Open(const std::string& strPath) {
  if (strPath.empty()) Fail("KaCSettingsStore::Open", __LINE__, "empty settings file name");
  Entries parsed = m_pImpl->Parse(strPath);
  m_pImpl->entries.swap(parsed);
  m_pImpl->strPath = strPath;
  // Values are read again from the newly opened store on their next use.
  for (KaCSettingsValueBase* v : m_pImpl->values) v->MarkUnread();
}

void KaCSettingsStore::Close() {
  m_pImpl->strPath.clear();
  m_pImpl->entries.clear();
  for (KaCSettingsValueBase* v : m_pImpl->values) v->MarkUnread();
}

const std::string& KaCSettingsStore::GetPath() const noexcept { return m_pImpl->strPath; }

void KaCSettingsStore::Save() {
  if (m_pImpl->strPath.empty()) return;
  // Re-read what is on disk so that entries another process wrote meanwhile survive; our
  // changed values win.
  Entries onDisk = m_pImpl->Parse(m_pImpl->strPath);
  for (auto& [section, keys] : m_pImpl->entries) {
    for (auto& [key, value] : keys) onDisk[section][key] = value;
  }
  Entries previous = m_pImpl->entries;
  m_pImpl->entries.swap(onDisk);
  m_pImpl->Collect();
  try {
    m_pImpl->Write();
  } catch (...) {
    m_pImpl->entries.swap(previous);
    throw;
  }
  m_pImpl->bDirty = false;
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

KaCSettingsValueBase::KaCSettingsValueBase(const char* szSection, const char* szKey)
    : m_strSection(szSection), m_strKey(szKey) {
  KaCSettingsStore::Instance().m_pImpl->values.push_back(this);
}

KaCSettingsValueBase::~KaCSettingsValueBase() {
  auto& values = KaCSettingsStore::Instance().m_pImpl->values;
  for (auto it = values.begin(); it != values.end(); ++it) {
    if (*it == this) {
      values.erase(it);
      break;
    }
  }
}

void KaCSettingsValueBase::Read(bool bKeepChanged) {
  KaCSettingsStore::Impl& store = *KaCSettingsStore::Instance().m_pImpl;
  ++store.nReads;
  if (!(bKeepChanged && m_bChanged)) {
    std::string text;
    if (KaCSettingsStore::Instance().Lookup(m_strSection, m_strKey, text)) {
      if (!FromText(text)) {
        throw CbException("KaCSettingsValueBase::Read", __FILE__, __LINE__,
                          "bad stored value '" + text + "' for " + m_strSection + "/" + m_strKey);
      }
    } else {
      SetToDefault();
    }
  }
  m_bRead = true;
}

void KaSettingsRetireValue(const KaCSettingsValueBase& value) noexcept {
  KaCSettingsStore& store = KaCSettingsStore::Instance();
  KaCSettingsStore::Impl& impl = *store.m_pImpl;
  try {
    if (value.IsChanged()) {
      impl.entries[value.GetSection()][value.GetKey()] = value.ToText();
      impl.bDirty = true;
    }
    // The last value to go (library unload) writes what changed.
    if (impl.values.size() == 1 && impl.values.front() == &value && impl.bDirty &&
        !impl.strPath.empty()) {
      impl.values.clear();
      store.Save();
    }
  } catch (...) {
    // Nothing can be reported during unload; the old file stays whole.
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
