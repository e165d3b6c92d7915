#pragma once

#include <tolvane/Export.h>

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace tolvane {

/// The one way files are written: the tool's outputs (PLY, CSV, JSON, HTML) and the settings
/// file. What happens depends on what the path names when the object is built:
///
/// - nothing, or a regular file: the bytes go to a temporary file in the target's directory,
///   named by TemporaryName(); Commit() writes out the buffer, syncs the file, renames it over
///   the target and syncs the directory. An existing target keeps its mode (and its owner
///   where the process may set it). Until Commit() succeeds the old target stays as it was.
/// - a symbolic link (or a chain of them): the link stays, and the file it finally names is
///   replaced as above, through a temporary file in that file's directory. A dangling link
///   gets its target created.
/// - anything else that is not a directory (a character device such as /dev/null, a FIFO,
///   /dev/stdout): written directly, never replaced or removed.
/// - "-" when bDashIsStdout: standard output, written directly and left open.
/// - a directory: an error.
///
/// An object destroyed without Commit() removes its temporary file. So does a SIGINT, SIGTERM
/// or SIGHUP once RemoveTemporariesOnSignals() has been called. Errors throw CbException whose
/// message names the path and the system's reason. Writes are buffered (1 MiB). Not copyable;
/// one object belongs to one thread, but objects on several threads may live at once.
class TOLVANE_API OutputFile {
 public:
  explicit OutputFile(std::string strPath, bool bDashIsStdout = true);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const void* pData, std::size_t nBytes);
  void Write(std::string_view text) { Write(text.data(), text.size()); }
  /// Completes the output (see above). Further writes throw.
  void Commit();

  [[nodiscard]] const std::string& GetPath() const noexcept { return m_strPath; }
  /// True when the output replaces its target through a temporary file, false when it is
  /// written directly (standard output, devices, FIFOs).
  [[nodiscard]] bool IsReplacing() const noexcept { return !m_strTarget.empty(); }

  /// The name pattern of the temporary file for a target: ".NAME.tmp.XXXXXX" in the target's
  /// directory, where XXXXXX are six random letters and digits.
  [[nodiscard]] static std::string TemporaryName(const std::string& strTarget);
  /// Installs handlers for SIGINT, SIGTERM and SIGHUP (those not ignored) that remove every
  /// temporary file still open in the process, then restore the default action and raise the
  /// signal again, so that the exit status tells of the signal. For programs; a library
  /// leaves signals to its host.
  static void RemoveTemporariesOnSignals();

 private:
  void Flush();
  void Discard() noexcept;
  [[noreturn]] void Fail(const char* szFunction, int iLine, const std::string& strWhat) const;

  std::string m_strPath;    // as given, for messages
  std::string m_strTarget;  // the regular file replaced on Commit(); empty for direct writes
  std::string m_strTemp;    // the temporary file while it exists
  int m_fd = -1;
  bool m_bOwnsFd = true;  // false for standard output
  int m_iSlot = -1;       // entry in the table the signal handler reads
  std::vector<char> m_vecBuffer;
  std::size_t m_nBuffered = 0;
};

/// Writes strText to strPath through an OutputFile.
TOLVANE_API void WriteOutputFile(const std::string& strPath, std::string_view strText);

}  // namespace tolvane
