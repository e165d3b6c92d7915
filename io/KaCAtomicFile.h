#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

/// An output file that appears only when it is complete. The bytes go to a temporary file in
/// the target's directory ("." + name + ".tmp.XXXXXX"); Commit() flushes and syncs it and renames
/// it over the target in one step. An object destroyed without Commit() (an exception on the
/// way, for instance) removes the temporary file, so a failure never leaves a half-written or
/// damaged target: an existing target stays as it was.
///
/// Writes are buffered (1 MiB). Errors throw CbException whose message names the target file
/// and the system's reason. Not copyable; one object belongs to one thread.
class KaCAtomicFile {
 public:
  /// Creates the temporary file beside strPath. Throws when it cannot be created (missing
  /// directory, no permission).
  explicit KaCAtomicFile(std::string strPath);
  ~KaCAtomicFile();
  KaCAtomicFile(const KaCAtomicFile&) = delete;
  KaCAtomicFile& operator=(const KaCAtomicFile&) = delete;

  void Write(const void* pData, std::size_t nBytes);
  void Write(std::string_view text) { Write(text.data(), text.size()); }
  /// Flushes, syncs, closes and renames the temporary file onto the target. After a successful
  /// Commit() further writes throw.
  void Commit();

  [[nodiscard]] const std::string& GetPath() const noexcept { return m_strPath; }

 private:
  void Flush();
  [[noreturn]] void Fail(const char* szFunction, int iLine, const std::string& strWhat) const;

  std::string m_strPath;
  std::string m_strTempPath;
  int m_fd = -1;
  std::vector<char> m_vecBuffer;
  std::size_t m_nBuffered = 0;
};

/// Writes strText to strPath through a KaCAtomicFile.
void KaWriteFileAtomically(const std::string& strPath, std::string_view strText);
