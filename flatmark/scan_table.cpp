// "table": every data line is an entry.
#include "scanners.h"

namespace flatmark {

template <class Offset> void scan_table(ScanCore& core, OffsetTable<Offset>& table) {
    const Settings& settings = core.settings;
    bool header_detection = !settings.header_prefix.empty();
    std::uint64_t start = 0; // the current entry's line start
    std::uint64_t end = 0;   // the position after it
    Line line;
    while (next_line(core, line)) {
        with_line_access(core, line, [&](const auto& text) {
            if (classify_table_line(text, header_detection) != TableLineKind::Data)
                return;
            // Without keys no field is looked for: a short line is an entry like any other.
            if (settings.write_keys) {
                read_data_line_key(text, find_key_start(text));
                write_key(core);
            }
            if (core.entries > 0) {
                table.add_start(start);
                table.add_end(end);
            }
            count_entry(core, line.start);
            start = line.start;
            end = text.after();
        });
        ++core.lines;
    }
    finish_table_entries(core, table, start, end);
}

FLATMARK_INSTANTIATE_SCANNER(scan_table)

} // namespace flatmark
