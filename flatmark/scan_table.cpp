// "table": every data line is an entry.
#include "scanners.h"

namespace flatmark {

template <class Offset> void scan_table(ScanCore& core, OffsetTable<Offset>& table) {
    const Settings& settings = core.settings;
    bool headerDetection = !settings.headerPrefix.empty();
    std::uint64_t start = 0; // S: the current entry's line start
    std::uint64_t end = 0;   // E: the position after it
    Line line;
    while (next_line(core, line)) {
        if (classify_table_line(core, line, headerDetection) == TableLineKind::Data) {
            // Without keys no field is looked for: a short line is an entry like any other.
            if (settings.writeKeys) {
                read_data_line_key(core, line, find_key_start(core, line));
                write_key(core);
            }
            if (core.entries > 0) {
                table.add_start(start);
                table.add_end(end);
            }
            count_entry(core, line.start);
            start = line.start;
            end = line_after(core, line);
        }
        ++core.lines;
    }
    finish_table_entries(core, table, start, end);
}

FLATMARK_INSTANTIATE_SCANNER(scan_table)

} // namespace flatmark
