// "fasta": an entry starts at a line whose very first character is ">" and runs to the next.
#include "scanners.h"

namespace flatmark {

template <class Offset> void scan_fasta(ScanCore& core, OffsetTable<Offset>& table) {
    std::uint64_t line_start = 0;
    Line line;
    for (;;) {
        // The sequence lines ahead, in a run: each counted and polled as the loop below would.
        bool stopped = false;
        const std::size_t run = core.reader.take_lines_not_beginning_with(
            '>', [] { return HostInterrupt::HandlePendingInterrupt(); }, stopped);
        if (stopped)
            fail_interrupted(core);
        if (run > 0) {
            core.lines += run;
            line_start = core.reader.position();
        }
        if (!next_line(core, line))
            break;
        if (line.size > 0 && line.text[0] == '>') {
            // A header without a word repeats the previous key (an empty one at first).
            if (core.settings.write_keys) {
                read_line_key(core, line, 1);
                write_key(core);
            }
            count_entry(core, line_start);
            table.add_start(line_start);
        }
        ++core.lines;
        line_start = line_after(core, line);
    }
    // Lines before the first header belong to no entry; the last value is the end of input.
    table.add_start(line_start);
}

FLATMARK_INSTANTIATE_SCANNER(scan_fasta)

} // namespace flatmark
