// Not built yet: these services answer "Not available yet." until their work lands.
#include "services.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

void writesambyregionF(ALIGNPORT_INDEXED_ARGS) { alignport::not_available("writesambyregion"); }

void writesamunalignedF(ALIGNPORT_FILE_ARGS) { alignport::not_available("writesamunaligned"); }

