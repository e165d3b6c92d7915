#include "io/ByteSource.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/CbException.h"

namespace tolvane {

namespace {

// Reads from the system in steps of this size at least: large enough that the cost of a call
// vanishes, small enough to stay in the cache.
constexpr std::size_t c_nReadBytes = std::size_t{1} << 20;

[[noreturn]] void Fail(const std::string& name, int line, const std::string& problem) {
  throw CbException("tolvane::ByteSource", __FILE__, line, name + ": " + problem);
}

}  // namespace

ByteSource::ByteSource(const std::string& strPath) {
  if (strPath == "-") {
    m_strName = "standard input";
    m_fd = STDIN_FILENO;
  } else {
    m_strName = strPath;
    m_fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) Fail(m_strName, __LINE__, std::string("cannot open: ") + std::strerror(errno));
    m_bOwnsFd = true;
  }
  struct stat st {};
  if (::fstat(m_fd, &st) != 0) {
    const int e = errno;
    if (m_bOwnsFd) ::close(m_fd);
    Fail(m_strName, __LINE__, std::string("cannot read: ") + std::strerror(e));
  }
  if (S_ISDIR(st.st_mode)) {
    if (m_bOwnsFd) ::close(m_fd);
    Fail(m_strName, __LINE__, "is a directory");
  }
  // A regular file's size bounds what a header may claim; streams are read to their end.
  if (S_ISREG(st.st_mode)) m_nSize = static_cast<std::uint64_t>(st.st_size);
  m_vecBuffer.resize(c_nReadBytes);
  m_pData = m_vecBuffer.data();
}

ByteSource::ByteSource(const void* pData, std::size_t nBytes, std::string strName)
    : m_strName(std::move(strName)),
      m_bEof(true),
      m_nSize(nBytes),
      m_pData(static_cast<const char*>(pData)),
      m_nEnd(nBytes) {}

ByteSource::~ByteSource() {
  if (m_bOwnsFd) ::close(m_fd);
}

std::uint64_t ByteSource::GetKnownRemaining() const noexcept {
  if (m_nSize == UINT64_MAX) return UINT64_MAX;
  return m_nSize > m_nConsumed ? m_nSize - m_nConsumed : 0;
}

std::size_t ByteSource::Fill(std::size_t nBytes) {
  if (Available() >= nBytes || m_bEof) return Available();
  // Keep the unread bytes at the front, and grow only when the caller asks for more at once
  // than the buffer holds.
  const std::size_t have = Available();
  if (m_nBegin > 0) {
    std::memmove(m_vecBuffer.data(), m_vecBuffer.data() + m_nBegin, have);
    m_nBegin = 0;
    m_nEnd = have;
  }
  if (m_vecBuffer.size() < nBytes) m_vecBuffer.resize(nBytes);
  m_pData = m_vecBuffer.data();
  while (m_nEnd < nBytes) {
    const ssize_t n = ::read(m_fd, m_vecBuffer.data() + m_nEnd, m_vecBuffer.size() - m_nEnd);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail(m_strName, __LINE__, std::string("cannot read: ") + std::strerror(errno));
    }
    if (n == 0) {
      m_bEof = true;
      break;
    }
    m_nEnd += static_cast<std::size_t>(n);
    m_nRead += static_cast<std::uint64_t>(n);
  }
  if (m_progress) m_progress(m_nRead, m_nSize);
  return Available();
}

std::string ByteSource::ReadAll() {
  std::string out;
  if (m_nSize != UINT64_MAX && m_fd >= 0)
    out.reserve(static_cast<std::size_t>(GetKnownRemaining()));
  for (;;) {
    const std::size_t n = Fill(1);
    if (n == 0) break;
    out.append(Data(), n);
    Consume(n);
    if (m_fd < 0) break;  // memory: everything was available at once
  }
  return out;
}

}  // namespace tolvane
