#include "io/KaCAtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/CbException.h"

namespace {

constexpr std::size_t c_nBufferSize = std::size_t{1} << 20;

// The temporary file lives in the target's directory so that the final rename stays on one
// file system and is atomic.
std::string TempTemplate(const std::string& path) {
  const auto slash = path.find_last_of('/');
  const std::string dir = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  return dir + "." + name + ".tmp.XXXXXX";
}

// mkstemp creates 0600 files; give the result the permissions an ordinary create would.
mode_t CreationMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

KaCAtomicFile::KaCAtomicFile(std::string strPath) : m_strPath(std::move(strPath)) {
  if (m_strPath.empty()) Fail("KaCAtomicFile::KaCAtomicFile", __LINE__, "empty file name");
  struct stat st {};
  if (::stat(m_strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    Fail("KaCAtomicFile::KaCAtomicFile", __LINE__, "is a directory");
  }
  std::string tmpl = TempTemplate(m_strPath);
  m_fd = ::mkstemp(tmpl.data());
  if (m_fd < 0) {
    Fail("KaCAtomicFile::KaCAtomicFile", __LINE__,
         std::string("cannot create the file: ") + std::strerror(errno));
  }
  m_strTempPath = tmpl;
  ::fchmod(m_fd, CreationMode());
  m_vecBuffer.resize(c_nBufferSize);
}

KaCAtomicFile::~KaCAtomicFile() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_strTempPath.empty()) ::unlink(m_strTempPath.c_str());
}

void KaCAtomicFile::Write(const void* pData, std::size_t nBytes) {
  if (m_fd < 0) Fail("KaCAtomicFile::Write", __LINE__, "write after the file was closed");
  const char* p = static_cast<const char*>(pData);
  while (nBytes > 0) {
    if (m_nBuffered == m_vecBuffer.size()) Flush();
    const std::size_t n = std::min(nBytes, m_vecBuffer.size() - m_nBuffered);
    std::memcpy(m_vecBuffer.data() + m_nBuffered, p, n);
    m_nBuffered += n;
    p += n;
    nBytes -= n;
  }
}

void KaCAtomicFile::Flush() {
  const char* p = m_vecBuffer.data();
  std::size_t left = m_nBuffered;
  while (left > 0) {
    const ssize_t n = ::write(m_fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("KaCAtomicFile::Write", __LINE__, std::string("cannot write: ") + std::strerror(errno));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  m_nBuffered = 0;
}

void KaCAtomicFile::Commit() {
  if (m_fd < 0) Fail("KaCAtomicFile::Commit", __LINE__, "the file was already committed");
  Flush();
  if (::fsync(m_fd) != 0) {
    Fail("KaCAtomicFile::Commit", __LINE__, std::string("cannot write: ") + std::strerror(errno));
  }
  const int fd = std::exchange(m_fd, -1);
  if (::close(fd) != 0) {
    Fail("KaCAtomicFile::Commit", __LINE__, std::string("cannot write: ") + std::strerror(errno));
  }
  if (std::rename(m_strTempPath.c_str(), m_strPath.c_str()) != 0) {
    Fail("KaCAtomicFile::Commit", __LINE__,
         std::string("cannot replace the file: ") + std::strerror(errno));
  }
  m_strTempPath.clear();
  m_vecBuffer = std::vector<char>();
}

void KaCAtomicFile::Fail(const char* szFunction, int iLine, const std::string& strWhat) const {
  throw CbException(szFunction, __FILE__, iLine, m_strPath + ": " + strWhat);
}

void KaWriteFileAtomically(const std::string& strPath, std::string_view strText) {
  KaCAtomicFile file(strPath);
  file.Write(strText);
  file.Commit();
}
