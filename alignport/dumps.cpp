// Not built yet: these services answer "Not available yet." until their work lands.
#include "services.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

void dumpinfobyregionF(ALIGNPORT_INDEXED_ARGS) { alignport::not_available("dumpinfobyregion"); }

void dumpinfobyindexF(ALIGNPORT_INDEXED_ARGS) { alignport::not_available("dumpinfobyindex"); }

void dumpinfoinrefbyindexF(ALIGNPORT_INDEXED_ARGS) { alignport::not_available("dumpinfoinrefbyindex"); }

