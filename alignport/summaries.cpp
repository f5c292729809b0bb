// Not built yet: these services answer "Not available yet." until their work lands.
#include "services.h"
#pragma GCC diagnostic ignored "-Wunused-parameter"

void baminfoF(ALIGNPORT_SELF_ARGS) { alignport::not_available("baminfo"); }

void saminfoF(ALIGNPORT_SELF_ARGS) { alignport::not_available("saminfo"); }

