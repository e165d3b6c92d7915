#pragma once

#include <tolvane/Export.h>

#include <string>

class KaCSettingsValueBase;

/// What a settings value needs of the store behind it. A value attaches itself when built,
/// fetches its stored text when read, hands its text over when it goes away and then detaches.
/// The store decides where the texts live and when they are written.
///
/// Threads: like the values, a store is used from one thread at a time.
class TOLVANE_API KaISettingsStore {
 public:
  virtual ~KaISettingsStore() = default;

  /// The process-wide store that values use unless they are given another one.
  [[nodiscard]] static KaISettingsStore& GetProcessStore();

  virtual void Attach(KaCSettingsValueBase& value) = 0;
  /// Called as the last attached values go away; the store may write what changed then.
  virtual void Detach(KaCSettingsValueBase& value) noexcept = 0;
  /// The stored text for a key; false when the store holds none. Counts as one read.
  virtual bool Fetch(const std::string& strSection, const std::string& strKey,
                     std::string& strText) = 0;
  /// Takes the text of a value that is about to go away, if the value was changed.
  virtual void Retire(const KaCSettingsValueBase& value) noexcept = 0;

 protected:
  KaISettingsStore() = default;
  KaISettingsStore(const KaISettingsStore&) = default;
  KaISettingsStore& operator=(const KaISettingsStore&) = default;
};
