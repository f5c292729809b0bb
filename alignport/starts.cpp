// Not built yet: these services answer "Not available yet." until their work lands.
#include "services.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

void getstartsinrefF(ALIGNPORT_INDEXED_ARGS) { alignport::not_available("getstartsinref"); }

void dumpstartsinfoF(ALIGNPORT_FILE_ARGS) { alignport::not_available("dumpstartsinfo"); }

