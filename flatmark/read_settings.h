// Decoding of inputs 4 to 12, once both files are open: the flags and the key field count, then
// the key token, the comment prefix, the header prefix, the field delimiter and the entry
// delimiter, checked in that order (before anything is written to the index file).
#pragma once

#include "contract.h"
#include "hx.h"
#include "index_files.h"
#include "settings.h"

namespace flatmark {

// Fills settings from the twelve inputs for the given type. An invalid key token, comment or
// header prefix, field delimiter or entry delimiter closes both files and raises its error
// (kCallErrors in contract.h); the index file is then left empty.
void read_settings(const haArray* inArgs[], const IndexerType& type, IndexFiles& files,
                   Settings& settings);

} // namespace flatmark
