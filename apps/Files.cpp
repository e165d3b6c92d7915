#include "Files.h"

#include "InputError.h"
#include "Progress.h"
#include "io/KaCPlyWriter.h"

namespace tolvane::cli {

CbSmartPointer<KaCSurfelCollectionCCT> files::Read(const std::string& strPath, Progress& progress,
                                                   bool bNeedNormals, const char* szPurpose) {
  progress.Step("reading " + strPath);
  KaCPlyReader::Contents contents;
  auto sp = KaCPlyReader::ReadFile(strPath, &contents);
  if (bNeedNormals && !contents.bNormals) {
    throw InputError(strPath + ": has no normals (nx ny nz); " + szPurpose);
  }
  return sp;
}

void files::Write(const KaCSurfelCollectionCCT& collection, const std::string& strPath, bool bAscii,
                  Progress& progress) {
  progress.Step("writing " + strPath);
  KaCPlyWriter::WriteFile(collection, strPath,
                          bAscii ? EPlyFormat::eAscii : EPlyFormat::eBinaryLittleEndian);
}

}  // namespace tolvane::cli
