// Runs an empty filter list over a collection through the installed package only.
#include <cstdio>

#include <tolvane/KaCFtAlgorithmsList.h>

#include "container/KaCSurfelCollectionCCT.h"

int main() {
  CbSmartPointer<KaCFtAlgorithmsList> list(new KaCFtAlgorithmsList);
  KaCSurfelCollectionCCT collection(4, true);
  collection.SetPosition(2, CbVector3f(1.0f, 2.0f, 3.0f));
  (*list)(collection);
  const bool ok = collection.GetNrSurfels() == 4 && collection.GetPosition(2).y == 2.0f;
  std::printf("consumer: %s\n", ok ? "ok" : "collection changed");
  return ok ? 0 : 1;
}
