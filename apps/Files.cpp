#include "Files.h"

#include <algorithm>
#include <cstdio>

#include "InputError.h"
#include "Progress.h"
#include "UsageError.h"
#include "base/OutputFile.h"
#include "io/InputReader.h"
#include "io/KaCPlyWriter.h"

#include <cstdint>

namespace tolvane::cli {

CbSmartPointer<KaCSurfelCollectionCCT> files::Read(const std::string& strPath, Progress& progress,
                                                   bool bNeedNormals, const char* szPurpose) {
  progress.Step("reading " + strPath);
  tolvane::InputReader::Contents contents;
  auto sp = tolvane::InputReader::ReadFile(strPath, &contents);
  if (!contents.vecWarnings.empty()) progress.Done();
  for (const std::string& warning : contents.vecWarnings) {
    std::fprintf(stderr, "tolvane: warning: %s: %s\n",
                 strPath == "-" ? "standard input" : strPath.c_str(), warning.c_str());
  }
  if (bNeedNormals && !contents.bNormals) {
    throw InputError(strPath + ": has no normals (nx ny nz) and no faces to compute them from; " +
                     szPurpose);
  }
  return sp;
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
