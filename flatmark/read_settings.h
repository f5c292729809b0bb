// Decoding of inputs 4 to 12, steps 7 to 10 of an indexing call, after both files are open.
#pragma once

#include "hx.h"
#include "index_files.h"
#include "indexer_types.h"
#include "settings.h"

namespace flatmark {

// Fills settings from the twelve inputs for the given type. An invalid key token, comment or
// header prefix, field delimiter or entry delimiter closes both files and raises its error;
// nothing has been written to the index file then.
void read_settings(const haArray* inArgs[], const IndexerType& type, IndexFiles& files,
                   Settings& settings);

} // namespace flatmark
