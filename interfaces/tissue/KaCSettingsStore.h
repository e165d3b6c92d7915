#pragma once

#include <string>

class KaCSettingsValueBase;

/// The process-wide store behind the persistent settings: an INI-style file (sections in
/// brackets, key=value lines) named by the host, or memory alone while the host names none.
/// Declared here, implemented with the settings facility; see KaCSettingsValue.
class KaCSettingsStore {
 public:
  [[nodiscard]] static KaCSettingsStore& Instance();

  /// Names the file and loads it. A missing file is an empty store (created on Save). A file
  /// that cannot be read or is malformed throws CbException naming the file and the line; the
  /// store then keeps its previous file and contents, and the file is not touched.
  void Open(const std::string& strPath);
  /// Forgets the file: the store lives in memory from now on.
  void Close();
  [[nodiscard]] const std::string& GetPath() const noexcept;
  /// Writes every changed value to the file atomically (temporary file beside it, then
  /// rename). Does nothing without a file. Throws CbException when the file cannot be written;
  /// the old file is then left as it was.
  void Save();

  /// The stored text for a key, if any (what the file or the last Save holds, not values
  /// changed in memory since).
  [[nodiscard]] bool Lookup(const std::string& strSection, const std::string& strKey,
                            std::string& strText) const;
  /// How often a value has been read from the store since the process started.
  [[nodiscard]] unsigned long GetReadCount() const noexcept;

  KaCSettingsStore(const KaCSettingsStore&) = delete;
  KaCSettingsStore& operator=(const KaCSettingsStore&) = delete;

 private:
  KaCSettingsStore();
  ~KaCSettingsStore();
  struct Impl;
  Impl* m_pImpl;
  friend class KaCSettingsValueBase;
  friend void KaSettingsRetireValue(const KaCSettingsValueBase& value) noexcept;
};
