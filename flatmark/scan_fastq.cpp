// "fastq": an entry is a line whose very first character is "@" and the three lines after it.
// Those three are read unlooked-at and unpolled, so a quality line that begins with "@" is never
// taken for a record header.
#include "scanners.h"

namespace flatmark {

namespace {
constexpr int kRecordLines = 3;
}

template <class Offset> void scan_fastq(ScanCore& core, OffsetTable<Offset>& table) {
    std::uint64_t line_start = 0;
    Line line;
    while (next_line(core, line)) {
        std::uint64_t after;
        if (line.size > 0 && line.text[0] == '@') {
            if (core.settings.write_keys) {
                read_line_key(core, line, 1);
                write_key(core);
            }
            // Counted even when the input ends before them; the entry then ends with the input.
            bool whole = true;
            for (int i = 0; i < kRecordLines && whole; ++i)
                whole = next_line_unpolled(core, line);
            core.lines += kRecordLines;
            after = whole ? line_after(core, line) : core.reader.position();
            count_entry(core, line_start);
            table.add_start(line_start);
        } else {
            after = line_after(core, line);
        }
        // A line that is no record header where one is due is counted and lies inside the
        // span of the entry before it.
        ++core.lines;
        line_start = after;
    }
    table.add_start(line_start);
}

FLATMARK_INSTANTIATE_SCANNER(scan_fastq)

} // namespace flatmark
