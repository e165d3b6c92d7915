#pragma once

#include <tolvane/Export.h>

#include <string>

#include "tissue/KaISettingsStore.h"

/// One persistent value of the settings facility, stored under a section and a key in a
/// store reached through KaISettingsStore (the process-wide one unless another is given). It
/// holds a read flag (set by Read), a changed flag (set by the owner when it stores a new
/// value; it stays set) and the value itself. Values attach to their store when built and
/// detach when destroyed; a changed value is handed to the store then. The process-wide store
/// writes its file once the last value is gone (library unload).
///
/// Threads: none of this is locked; use a value from one thread at a time.
class TOLVANE_API KaCSettingsValueBase {
 public:
  KaCSettingsValueBase(const char* szSection, const char* szKey,
                       KaISettingsStore& store = KaISettingsStore::GetProcessStore());
  virtual ~KaCSettingsValueBase();
  KaCSettingsValueBase(const KaCSettingsValueBase&) = delete;
  KaCSettingsValueBase& operator=(const KaCSettingsValueBase&) = delete;

  /// Takes the value from the store and sets the read flag. Without an entry for the key the
  /// default is taken. With bKeepChanged a value the host has already changed is kept rather
  /// than replaced by the stored one. An entry that does not parse throws CbException.
  void Read(bool bKeepChanged);

  [[nodiscard]] const std::string& GetSection() const noexcept { return m_strSection; }
  [[nodiscard]] const std::string& GetKey() const noexcept { return m_strKey; }
  [[nodiscard]] bool IsRead() const noexcept { return m_bRead; }
  [[nodiscard]] bool IsChanged() const noexcept { return m_bChanged; }
  /// Clears the read flag, so that the next getter reads the store again.
  void MarkUnread() noexcept { m_bRead = false; }

  /// The held value as stored text, and parsing of stored text (false when it does not parse).
  [[nodiscard]] virtual std::string ToText() const = 0;
  [[nodiscard]] virtual bool CanParse(const std::string& strText) const = 0;

 protected:
  virtual bool FromText(const std::string& strText) = 0;
  virtual void SetToDefault() = 0;

  bool m_bRead = false;
  bool m_bChanged = false;
  KaISettingsStore& m_store;

 private:
  std::string m_strSection;
  std::string m_strKey;
};

/// Text forms of the stored types: bool as true/false (also 1/0, yes/no, on/off when read),
/// float with nine significant digits (nan and inf allowed), int in decimal.
TOLVANE_API bool KaParseSettingText(const std::string& strText, bool& bValue);
TOLVANE_API bool KaParseSettingText(const std::string& strText, float& fValue);
TOLVANE_API bool KaParseSettingText(const std::string& strText, int& iValue);
TOLVANE_API std::string KaFormatSettingText(bool bValue);
TOLVANE_API std::string KaFormatSettingText(float fValue);
TOLVANE_API std::string KaFormatSettingText(int iValue);

/// A typed persistent value with its default.
template <class T>
class KaCSettingsValue : public KaCSettingsValueBase {
 public:
  KaCSettingsValue(const char* szSection, const char* szKey, T defaultValue,
                   KaISettingsStore& store = KaISettingsStore::GetProcessStore())
      : KaCSettingsValueBase(szSection, szKey, store),
        m_value(defaultValue),
        m_default(defaultValue) {}
  // Hands a changed value to the store while the derived part (ToText) still exists.
  ~KaCSettingsValue() override { m_store.Retire(*this); }

  /// The held value, without reading the store.
  [[nodiscard]] const T& GetValue() const noexcept { return m_value; }
  [[nodiscard]] const T& GetDefault() const noexcept { return m_default; }
  /// Stores a different value and marks it changed; an equal value changes nothing (for
  /// floats the ordinary inequality, so NaN always counts as a change).
  void SetValue(const T& value) {
    if (value != m_value) {
      m_value = value;
      m_bChanged = true;
    }
  }

  [[nodiscard]] std::string ToText() const override { return KaFormatSettingText(m_value); }
  [[nodiscard]] bool CanParse(const std::string& strText) const override {
    T scratch{};
    return KaParseSettingText(strText, scratch);
  }

 protected:
  bool FromText(const std::string& strText) override {
    return KaParseSettingText(strText, m_value);
  }
  void SetToDefault() override { m_value = m_default; }

 private:
  T m_value;
  T m_default;
};
