// buildindex: one indexing call from its inputs to the finished index file, in one template
// instantiated for 32-bit and 64-bit offsets (the only difference between the two).
#pragma once

#include "contract.h"
#include "hxutil.h"
#include "index_file.h"
#include "index_files.h"
#include "line_reader.h"
#include "read_settings.h"
#include "scan_common.h"

#include <cstdio>

namespace flatmark {

// Checks the inputs in the order of kCallErrors (contract.h): the indexer type, the input file's
// name and opening, the index file's name and opening, then the settings. Then scans the input
// file, sets outputs 1 (the number of entries) and 2 (the number of lines counted) as asked,
// and writes the offset table and the header. Every error closes the files already open, the
// input file first, before it is raised.
template <class Offset>
void buildindex(int outCount, haArray* outSlots[], const haArray* inArgs[]) {
    char type_name[kTypeBuffer];
    if (!hxb::read_text(inArgs[0], type_name, sizeof type_name))
        raise_error(Error::InvalidIndexerType);
    const IndexerType* type = find_indexer_type(type_name);
    if (type == nullptr)
        raise_error(Error::UnknownIndexerType);

    char input_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[1], input_name, sizeof input_name))
        raise_error(Error::InvalidInputName);
    IndexFiles files;
    files.input.reset(std::fopen(input_name, "rb"));
    if (!files.input)
        raise_error(Error::CannotOpenInput);
    // Lines are read through the reader's own block buffer.
    std::setvbuf(files.input.get(), nullptr, _IONBF, 0);

    char index_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[2], index_name, sizeof index_name))
        files.fail(Error::InvalidIndexName);
    files.index.reset(std::fopen(index_name, "wb"));
    if (!files.index)
        files.fail(Error::CannotOpenIndex);

    Settings settings;
    read_settings(inArgs, *type, files, settings);

    write_placeholder(files);
    LineReader reader(files.input.get());
    ScanCore core(settings, files, reader);
    OffsetTable<Offset> table(files, !settings.consecutive);
    const ScanFunction<Offset> scan = scanner_for<Offset>(*type);
    scan(core, table);

    if (outCount >= 1)
        outSlots[0] = haCreateDoubleScalar(static_cast<double>(core.entries));
    if (outCount >= 2)
        outSlots[1] = haCreateDoubleScalar(static_cast<double>(core.lines));

    HeaderFields header;
    header.entries = core.entries;
    header.keys_position = settings.write_keys ? kHeaderSize : 0;
    header.table_position = files.index_bytes();
    header.layout = settings.consecutive ? hxb::index_format::kLayoutConsecutive
                                         : hxb::index_format::kLayoutPaired;
    header.width_byte = settings.width_byte;
    header.entry_delimiter = settings.entry_delimiter;
    write_offset_table(files, table.starts, table.ends, core.entries, settings.consecutive);
    write_header(files, header);

    files.close_input();
    if (!files.close_index())
        raise_error(Error::CannotWriteIndex);
}

} // namespace flatmark
