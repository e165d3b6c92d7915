#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tolvane {

/// Sequential input for the file readers: a file, standard input ("-"), a pipe or FIFO (process
/// substitution), a character device, or bytes already in memory. Reads through one buffer
/// that grows only as far as a caller asks to see at once, so memory stays small whatever the
/// input's size; a stream is read to its end without knowing its size first.
///
/// Errors (cannot open, a directory, a read error) throw CbException whose message starts with
/// the input's name. Not copyable; one object belongs to one thread.
class ByteSource {
 public:
  /// Opens the file at strPath for reading; "-" is standard input (named "standard input" in
  /// messages), which is read but not closed.
  explicit ByteSource(const std::string& strPath);
  /// Reads nBytes at pData, which the caller keeps alive; strName stands for it in messages.
  ByteSource(const void* pData, std::size_t nBytes, std::string strName);
  ~ByteSource();
  ByteSource(const ByteSource&) = delete;
  ByteSource& operator=(const ByteSource&) = delete;

  /// The name messages give: the path, "standard input" or the name given for memory.
  [[nodiscard]] const std::string& GetName() const noexcept { return m_strName; }

  /// Makes at least nBytes available from the current position unless the input ends first;
  /// returns how many are available (fewer than nBytes only at the end).
  std::size_t Fill(std::size_t nBytes);
  /// The bytes available from the current position (what the last Fill gave, less Consume).
  [[nodiscard]] const char* Data() const noexcept { return m_pData + m_nBegin; }
  [[nodiscard]] std::size_t Available() const noexcept { return m_nEnd - m_nBegin; }
  /// Moves the position nBytes (at most Available()) forward.
  void Consume(std::size_t nBytes) noexcept {
    m_nBegin += nBytes;
    m_nConsumed += nBytes;
  }
  /// Bytes consumed since the start.
  [[nodiscard]] std::uint64_t GetOffset() const noexcept { return m_nConsumed; }
  /// Bytes left from the current position when the size is known (memory, a regular file),
  /// else UINT64_MAX.
  [[nodiscard]] std::uint64_t GetKnownRemaining() const noexcept;
  /// Reads the rest of the input into a string (for formats read as a whole).
  [[nodiscard]] std::string ReadAll();

  /// Called after each read from the system (once per refill of the buffer, about every MiB,
  /// never per value) with the bytes read so far and the input's size, UINT64_MAX when unknown.
  /// Never called for bytes in memory. For progress displays; empty: none.
  using ProgressHook = std::function<void(std::uint64_t nRead, std::uint64_t nTotal)>;
  void SetProgress(ProgressHook hook) { m_progress = std::move(hook); }

 private:
  std::string m_strName;
  int m_fd = -1;
  bool m_bOwnsFd = false;
  bool m_bEof = false;
  std::uint64_t m_nSize = UINT64_MAX;  // known total size, or UINT64_MAX
  std::vector<char> m_vecBuffer;
  const char* m_pData = nullptr;  // the buffer's or the caller's memory
  std::size_t m_nBegin = 0;
  std::size_t m_nEnd = 0;
  std::uint64_t m_nConsumed = 0;
  std::uint64_t m_nRead = 0;  // bytes read from the system
  ProgressHook m_progress;
};

}  // namespace tolvane
