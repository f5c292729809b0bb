// "mrtab": a multi-row table whose entries are runs of data lines sharing one key.
#include "scanners.h"

#include <cstring>

namespace flatmark {

namespace {

// True when the data line's key is empty or equals the current key, so that the line extends
// the current run instead of starting a new one.
template <class Text> bool continues_run(const Text& text, std::size_t key_start) {
    const ScanCore& core = text.core;
    const char delimiter = core.settings.field_delimiter;
    auto ends_key = [&](char c) { return c == delimiter || c == ' ' || c == '\r' || c == '\n'; };
    std::size_t length = 0;
    for (;; ++length) {
        const std::size_t at = key_start + length;
        if (!text.has(at) || ends_key(text.at(at)))
            break;
        if (length == core.key_length)
            return false; // longer than the current key
    }
    return length == 0 || (length == core.key_length &&
                           std::memcmp(text.bytes_from(key_start), core.key, length) == 0);
}

} // namespace

template <class Offset> void scan_mrtab(ScanCore& core, OffsetTable<Offset>& table) {
    const Settings& settings = core.settings;
    bool header_detection = !settings.header_prefix.empty();
    std::uint64_t start = 0; // where the current run began
    std::uint64_t end = 0;   // after its last data line
    Line line;
    while (next_line(core, line)) {
        with_line_access(core, line, [&](const auto& text) {
            if (classify_table_line(text, header_detection) != TableLineKind::Data)
                return;
            // A missing field is an error whether or not keys are written: runs split by key.
            const std::size_t key_start = find_key_start(text);
            if (continues_run(text, key_start)) {
                end = text.after();
                return;
            }
            if (core.entries > 0) {
                table.add_start(start);
                table.add_end(end);
            }
            read_data_line_key(text, key_start);
            if (settings.write_keys)
                write_key(core);
            count_entry(core, line.start);
            start = line.start;
            end = text.after();
        });
        ++core.lines;
    }
    finish_table_entries(core, table, start, end);
}

FLATMARK_INSTANTIATE_SCANNER(scan_mrtab)

} // namespace flatmark
