#pragma once

#include <tolvane/Export.h>

#include <string>

#include "tissue/KaISettingsStore.h"

/// The process-wide store behind the persistent settings: an INI-style file (sections in
/// brackets, key=value lines) named by the host, or memory alone while the host names none.
/// It is the process's KaISettingsStore: every KaCSettingsValue built without a store of its
/// own uses it. Files are written through tolvane::OutputFile (temporary file beside the
/// target, sync, rename, sync of the directory); a symbolic link stays a link and the file it
/// names keeps its mode and owner. Several processes may share a file: Save holds an exclusive
/// lock on "NAME.lock" beside the file (beside the file a link leads to) while it reads the
/// file again and writes it, and it writes only the keys this process changed over what the
/// file holds then, so that concurrent writers lose no update.
class TOLVANE_API KaCSettingsStore final : public KaISettingsStore {
 public:
  [[nodiscard]] static KaCSettingsStore& Instance();

  /// Names the file and loads it. A missing file is an empty store (created on Save). A file
  /// that cannot be read or is malformed throws CbException naming the file and the line; the
  /// store then keeps its previous file and contents, and the file is not touched.
  void Open(const std::string& strPath);
  /// Forgets the file: the store lives in memory from now on.
  void Close();
  [[nodiscard]] const std::string& GetPath() const noexcept;
  /// Writes the changed values (those alive and those handed over as they went away) over
  /// what the file holds now, atomically and under the lock (see above). Does nothing without
  /// a file. Throws CbException when the file cannot be read back, parsed or written; the old
  /// file is then left as it was.
  void Save();
  /// The lock file that guards strPath.
  [[nodiscard]] static std::string LockPathFor(const std::string& strPath);

  /// The stored text for a key, if any (what the file or the last Save holds, not values
  /// changed in memory since).
  [[nodiscard]] bool Lookup(const std::string& strSection, const std::string& strKey,
                            std::string& strText) const;
  /// How often a value has been read from the store since the process started.
  [[nodiscard]] unsigned long GetReadCount() const noexcept;

  KaCSettingsStore(const KaCSettingsStore&) = delete;
  KaCSettingsStore& operator=(const KaCSettingsStore&) = delete;

  void Attach(KaCSettingsValueBase& value) override;
  void Detach(KaCSettingsValueBase& value) noexcept override;
  bool Fetch(const std::string& strSection, const std::string& strKey,
             std::string& strText) override;
  void Retire(const KaCSettingsValueBase& value) noexcept override;

 private:
  KaCSettingsStore();
  ~KaCSettingsStore() override;
  struct Impl;
  Impl* m_pImpl;
};
