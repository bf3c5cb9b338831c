// A host program that runs but never answers, as one stuck in a vendor
// call would: it opens the section as the host does and then only sleeps.
// Its command line is ignored, as the host's is; it ends after 10 minutes.
#include "channel.h"

int main() {
  CommsStart(kRequestSlot, kMapWrite, kSectionName, kSectionSize);
  Sleep(600000);
  return 0;
}
