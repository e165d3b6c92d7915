#include "base/OutputFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "base/CbException.h"

namespace tolvane {

namespace {

constexpr std::size_t c_nBufferSize = std::size_t{1} << 20;
constexpr int c_nMaxLinks = 40;  // as the kernel's own limit on symlink chains
constexpr int c_aCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The temporary files alive in the process, for the signal handler: fixed storage, since a
// handler may neither allocate nor lock. A slot is 0 free, 1 being filled, 2 holding a path.
struct TempSlot {
  std::atomic<int> state;
  char szPath[PATH_MAX];
};
constexpr int c_nSlots = 32;
TempSlot g_aSlots[c_nSlots];

int ClaimSlot(const std::string& path) noexcept {
  if (path.size() >= PATH_MAX) return -1;
  for (int i = 0; i < c_nSlots; ++i) {
    int expected = 0;
    if (g_aSlots[i].state.compare_exchange_strong(expected, 1)) {
      std::memcpy(g_aSlots[i].szPath, path.c_str(), path.size() + 1);
      g_aSlots[i].state.store(2);
      return i;
    }
  }
  return -1;  // more than c_nSlots files at once: only the destructor cleans up this one
}

void ReleaseSlot(int slot) noexcept {
  if (slot >= 0) g_aSlots[slot].state.store(0);
}

void RemoveTemporariesAndReraise(int signal) {
  const int savedErrno = errno;
  for (TempSlot& slot : g_aSlots) {
    if (slot.state.load() == 2) ::unlink(slot.szPath);
  }
  errno = savedErrno;
  // SA_RESETHAND restored the default action; the raised signal is delivered once the handler
  // returns and ends the process with the status the signal gives.
  ::raise(signal);
}

// Keeps the cleanup signals away while a temporary file and its slot change together.
class SignalBlock {
 public:
  SignalBlock() noexcept {
    sigset_t set;
    sigemptyset(&set);
    for (int s : c_aCleanupSignals) sigaddset(&set, s);
    pthread_sigmask(SIG_BLOCK, &set, &m_old);
  }
  ~SignalBlock() { pthread_sigmask(SIG_SETMASK, &m_old, nullptr); }
  SignalBlock(const SignalBlock&) = delete;
  SignalBlock& operator=(const SignalBlock&) = delete;

 private:
  sigset_t m_old;
};

std::string DirectoryOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Follows symbolic links to the name they finally lead to (which need not exist).
// bThroughProc is set when a step passes through /proc: descriptor links such as /dev/stdout
// lead there, and what they name is an open file, not a place to create one beside.
std::string FollowLinks(std::string path, bool& bThroughProc) {
  bThroughProc = false;
  for (int hop = 0; hop <= c_nMaxLinks; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string link(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), link.data(), link.size());
    if (n < 0) return path;
    link.resize(static_cast<std::size_t>(n));
    path = link.front() == '/' ? link : DirectoryOf(path) + "/" + link;
    if (path.rfind("/proc/", 0) == 0) bThroughProc = true;
  }
  errno = ELOOP;
  return {};
}

char RandomLetter() {
  static std::mutex s_mutex;
  static std::mt19937_64 s_rng([] {
    std::random_device device;
    return (std::uint64_t{device()} << 32) ^ device() ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           static_cast<std::uint64_t>(::getpid());
  }());
  static constexpr char c_szLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  const std::lock_guard<std::mutex> lock(s_mutex);
  return c_szLetters[s_rng() % (sizeof c_szLetters - 1)];
}

}  // namespace

std::string OutputFile::TemporaryName(const std::string& strTarget) {
  const auto slash = strTarget.find_last_of('/');
  const std::string dir =
      slash == std::string::npos ? std::string() : strTarget.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? strTarget : strTarget.substr(slash + 1);
  return dir + "." + name + ".tmp.XXXXXX";
}

OutputFile::OutputFile(std::string strPath, bool bDashIsStdout) : m_strPath(std::move(strPath)) {
  m_vecBuffer.resize(c_nBufferSize);
  if (bDashIsStdout && m_strPath == "-") {
    std::fflush(stdout);  // what the program printed before comes first
    m_fd = STDOUT_FILENO;
    m_bOwnsFd = false;
    return;
  }
  if (m_strPath.empty()) Fail("OutputFile::OutputFile", __LINE__, "empty file name");
  struct stat st {};
  const bool bExists = ::stat(m_strPath.c_str(), &st) == 0;
  if (!bExists && errno != ENOENT) {
    Fail("OutputFile::OutputFile", __LINE__, std::string("cannot write: ") + std::strerror(errno));
  }
  if (bExists && S_ISDIR(st.st_mode)) Fail("OutputFile::OutputFile", __LINE__, "is a directory");
  bool bThroughProc = false;
  const std::string target = FollowLinks(m_strPath, bThroughProc);
  if (target.empty()) {
    Fail("OutputFile::OutputFile", __LINE__, std::string("cannot write: ") + std::strerror(errno));
  }
  if (bExists && (!S_ISREG(st.st_mode) || bThroughProc)) {
    m_fd = ::open(m_strPath.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (m_fd < 0) {
      Fail("OutputFile::OutputFile", __LINE__,
           std::string("cannot write: ") + std::strerror(errno));
    }
    return;
  }

  const std::string pattern = TemporaryName(target);
  const std::size_t nRandom = 6;
  SignalBlock block;
  for (int attempt = 0; attempt < 100 && m_fd < 0; ++attempt) {
    std::string name = pattern;
    for (std::size_t i = name.size() - nRandom; i < name.size(); ++i) name[i] = RandomLetter();
    // 0666 lets the umask decide a new file's mode, as an ordinary create would.
    m_fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (m_fd >= 0) {
      m_strTemp = name;
    } else if (errno != EEXIST) {
      break;
    }
  }
  if (m_fd < 0) {
    Fail("OutputFile::OutputFile", __LINE__,
         std::string("cannot create the file: ") + std::strerror(errno));
  }
  m_iSlot = ClaimSlot(m_strTemp);
  m_strTarget = target;
  if (bExists) {
    // The replacement keeps the old file's owner (where we may set it) and mode.
    if (st.st_uid != ::geteuid() || st.st_gid != ::getegid()) {
      (void)!::fchown(m_fd, st.st_uid, st.st_gid);
    }
    ::fchmod(m_fd, st.st_mode & 07777);
  }
}

OutputFile::~OutputFile() { Discard(); }

void OutputFile::Discard() noexcept {
  const int fd = std::exchange(m_fd, -1);
  if (fd >= 0 && m_bOwnsFd) ::close(fd);
  if (!m_strTemp.empty()) {
    SignalBlock block;
    ::unlink(m_strTemp.c_str());
    ReleaseSlot(std::exchange(m_iSlot, -1));
    m_strTemp.clear();
  }
}

void OutputFile::Write(const void* pData, std::size_t nBytes) {
  if (m_fd < 0) Fail("OutputFile::Write", __LINE__, "write after the file was closed");
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

void OutputFile::Flush() {
  const char* p = m_vecBuffer.data();
  std::size_t left = m_nBuffered;
  while (left > 0) {
    const ssize_t n = ::write(m_fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail("OutputFile::Write", __LINE__, std::string("cannot write: ") + std::strerror(errno));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  m_nBuffered = 0;
}

void OutputFile::Commit() {
  if (m_fd < 0) Fail("OutputFile::Commit", __LINE__, "the file was already completed");
  Flush();
  m_vecBuffer = std::vector<char>();
  if (!IsReplacing()) {
    const int fd = std::exchange(m_fd, -1);
    if (m_bOwnsFd && ::close(fd) != 0) {
      Fail("OutputFile::Commit", __LINE__, std::string("cannot write: ") + std::strerror(errno));
    }
    return;
  }
  if (::fsync(m_fd) != 0) {
    Fail("OutputFile::Commit", __LINE__, std::string("cannot write: ") + std::strerror(errno));
  }
  if (::close(std::exchange(m_fd, -1)) != 0) {
    Fail("OutputFile::Commit", __LINE__, std::string("cannot write: ") + std::strerror(errno));
  }
  {
    SignalBlock block;
    if (std::rename(m_strTemp.c_str(), m_strTarget.c_str()) != 0) {
      Fail("OutputFile::Commit", __LINE__,
           std::string("cannot replace the file: ") + std::strerror(errno));
    }
    ReleaseSlot(std::exchange(m_iSlot, -1));
    m_strTemp.clear();
  }
  // The rename is durable only once the directory that holds the new entry is synced.
  const int dir = ::open(DirectoryOf(m_strTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const bool bSynced = dir >= 0 && (::fsync(dir) == 0 || errno == EINVAL);
  const int err = errno;
  if (dir >= 0) ::close(dir);
  if (!bSynced) {
    Fail("OutputFile::Commit", __LINE__,
         std::string("written, but its directory cannot be synced: ") + std::strerror(err));
  }
}

void OutputFile::RemoveTemporariesOnSignals() {
  for (int s : c_aCleanupSignals) {
    struct sigaction old {};
    if (::sigaction(s, nullptr, &old) != 0) continue;
    // An ignored signal (nohup) stays ignored, and a handler of the program's own stays.
    if (old.sa_handler != SIG_DFL || (old.sa_flags & SA_SIGINFO) != 0) continue;
    struct sigaction action {};
    action.sa_handler = &RemoveTemporariesAndReraise;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int other : c_aCleanupSignals) sigaddset(&action.sa_mask, other);
    ::sigaction(s, &action, nullptr);
  }
}

void OutputFile::Fail(const char* szFunction, int iLine, const std::string& strWhat) const {
  throw CbException(szFunction, __FILE__, iLine, m_strPath + ": " + strWhat);
}

void WriteOutputFile(const std::string& strPath, std::string_view strText) {
  OutputFile file(strPath);
  file.Write(strText);
  file.Commit();
}

}  // namespace tolvane
