// Not built yet: these services answer "Not available yet." until their work lands.
#include "services.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

void getfeatureinrefbyindexF(ALIGNPORT_INDEXED_ARGS) { alignport::not_available("getfeatureinrefbyindex"); }

void getfeaturesinrefbyindexF(ALIGNPORT_INDEXED_ARGS) { alignport::not_available("getfeaturesinrefbyindex"); }

