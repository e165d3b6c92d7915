#include "KaCToolFiles.h"

#include "KaCInputError.h"
#include "KaCProgress.h"
#include "io/KaCPlyWriter.h"

CbSmartPointer<KaCSurfelCollectionCCT> KaCToolFiles::Read(const std::string& strPath,
                                                          KaCProgress& progress, bool bNeedNormals,
                                                          const char* szPurpose) {
  progress.Step("reading " + strPath);
  KaCPlyReader::Contents contents;
  auto sp = KaCPlyReader::ReadFile(strPath, &contents);
  if (bNeedNormals && !contents.bNormals) {
    throw KaCInputError(strPath + ": has no normals (nx ny nz); " + szPurpose);
  }
  return sp;
}

void KaCToolFiles::Write(const KaCSurfelCollectionCCT& collection, const std::string& strPath,
                         bool bAscii, KaCProgress& progress) {
  progress.Step("writing " + strPath);
  KaCPlyWriter::WriteFile(collection, strPath,
                          bAscii ? EPlyFormat::eAscii : EPlyFormat::eBinaryLittleEndian);
}
