#include "Files.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <utility>

#include "InputError.h"
#include "Progress.h"
#include "UsageError.h"
#include "base/OutputFile.h"
#include "io/ByteSource.h"
#include "io/KaCPlyWriter.h"

#include <cstdint>

namespace tolvane::cli {

namespace {

// Prints what reading strPath changed to fit and refuses a file without the normals needed.
void Report(const std::string& strPath, const tolvane::InputReader::Contents& contents,
            Progress& progress, bool bNeedNormals, const char* szPurpose) {
  if (!contents.vecWarnings.empty()) progress.Done();
  for (const std::string& warning : contents.vecWarnings) {
    std::fprintf(stderr, "tolvane: warning: %s: %s\n",
                 strPath == "-" ? "standard input" : strPath.c_str(), warning.c_str());
  }
  if (bNeedNormals && !contents.bNormals) {
    throw InputError(strPath + ": has no normals (nx ny nz) and no faces to compute them from; " +
                     szPurpose);
  }
}

}  // namespace

CbSmartPointer<KaCSurfelCollectionCCT> files::Read(const std::string& strPath, Progress& progress,
                                                   bool bNeedNormals, const char* szPurpose) {
  progress.Step("reading " + strPath);
  tolvane::ByteSource source(strPath);
  if (progress.IsEnabled()) {
    source.SetProgress([&progress](std::uint64_t nRead, std::uint64_t nTotal) {
      progress.Fraction(nRead, nTotal == UINT64_MAX ? 0 : nTotal);
    });
  }
  tolvane::InputReader::Contents contents;
  auto sp = tolvane::InputReader::Read(source, strPath, &contents);
  Report(strPath, contents, progress, bNeedNormals, szPurpose);
  return sp;
}

files::BackgroundRead::BackgroundRead(std::string strPath) : m_strPath(std::move(strPath)) {
  try {
    m_thread = std::thread([this] { Load(); });
  } catch (const std::system_error&) {
    // No thread to be had: Take reads the file itself.
  }
}

void files::BackgroundRead::Load() noexcept {
  try {
    m_sp = tolvane::InputReader::ReadFile(m_strPath, &m_contents);
  } catch (...) {
    m_error = std::current_exception();
  }
  m_bLoaded = true;
}

files::BackgroundRead::~BackgroundRead() {
  if (m_thread.joinable()) m_thread.join();
}

CbSmartPointer<KaCSurfelCollectionCCT> files::BackgroundRead::Take(Progress& progress,
                                                                   bool bNeedNormals,
                                                                   const char* szPurpose) {
  progress.Step("reading " + m_strPath);
  if (m_thread.joinable()) m_thread.join();
  if (!m_bLoaded) Load();
  if (m_error) std::rethrow_exception(m_error);
  Report(m_strPath, m_contents, progress, bNeedNormals, szPurpose);
  return std::move(m_sp);
}

bool files::IsRegularFile(const std::string& strPath) {
  std::error_code error;
  return strPath != "-" && std::filesystem::is_regular_file(strPath, error);
}

void files::Write(const KaCSurfelCollectionCCT& collection, const std::string& strPath, bool bAscii,
                  Progress& progress, const std::vector<KaCPlyWriter::FloatProperty>& vecExtra) {
  progress.Step("writing " + strPath);
  const EPlyFormat eFormat = bAscii ? EPlyFormat::eAscii : EPlyFormat::eBinaryLittleEndian;
  if (bAscii || !progress.IsEnabled()) {
    KaCPlyWriter::WriteFile(collection, strPath, eFormat, vecExtra);
    return;
  }
  // A binary body has a fixed row size: the bytes written tell the share done (the header's
  // few hundred bytes aside).
  const std::uint64_t nTotal =
      KaCPlyWriter::GetBinaryBodyBytes(collection.GetNrSurfels(), vecExtra.size());
  std::uint64_t nWritten = 0;
  tolvane::OutputFile file(strPath);
  KaCPlyWriter::Write(collection, eFormat, vecExtra, [&](const char* pData, std::size_t nBytes) {
    file.Write(pData, nBytes);
    nWritten += nBytes;
    progress.Fraction(nWritten, nTotal);
  });
  file.Commit();
}

std::FILE* files::TextStream(const std::vector<std::string>& vecOutputs) {
  const auto n = std::count(vecOutputs.begin(), vecOutputs.end(), "-");
  if (n > 1) throw UsageError("only one output can be '-' (standard output)");
  return n == 1 ? stderr : stdout;
}

}  // namespace tolvane::cli
