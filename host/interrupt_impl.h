// Per-call interrupt bookkeeping of the stand-in host. Private to host/.
#pragma once

#include "hxhost.h"

namespace hxhost::detail {

void interrupts_begin_call(long interrupt_at); // resets the poll numbering and counters
PollCounts interrupts_end_call();

} // namespace hxhost::detail
