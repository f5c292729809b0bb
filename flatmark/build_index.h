// buildindex: one indexing call from its inputs to the finished index file, in one template
// instantiated for 32-bit and 64-bit offsets (the only difference between the two).
#pragma once

#include "errors.h"
#include "hxutil.h"
#include "index_file.h"
#include "index_files.h"
#include "indexer_types.h"
#include "line_reader.h"
#include "read_settings.h"
#include "scan_common.h"

#include <cstdio>

namespace flatmark {

constexpr std::size_t kTypeBuffer = 128;
constexpr std::size_t kFileNameBuffer = 256;

// Validates the inputs in the system's order, scans the input file, sets outputs 1 (N) and
// 2 (the line count) as asked, and writes the offset table and the header. Every error closes
// the open files, input first, before it is raised.
template <class Offset>
void buildindex(int outCount, haArray* outSlots[], const haArray* inArgs[]) {
    char typeName[kTypeBuffer];
    if (!hxb::read_text(inArgs[0], typeName, sizeof typeName))
        hxb::raise(kIdInvalidIndexerType, kMsgInvalidIndexerType);
    const IndexerType* type = find_indexer_type(typeName);
    if (type == nullptr)
        hxb::raise(kIdUnknownIndexerType, kMsgUnknownIndexerType);

    char inputName[kFileNameBuffer];
    if (!hxb::read_text(inArgs[1], inputName, sizeof inputName))
        hxb::raise(kIdInvalidFileName, kMsgInvalidInputFileName);
    IndexFiles files;
    files.input = std::fopen(inputName, "rb");
    if (files.input == nullptr)
        hxb::raise(kIdCannotOpenInFile, kMsgCannotOpenInFile);
    // Lines are read through the reader's own block buffer.
    std::setvbuf(files.input, nullptr, _IONBF, 0);

    char indexName[kFileNameBuffer];
    if (!hxb::read_text(inArgs[2], indexName, sizeof indexName))
        files.fail(kIdInvalidFileName, kMsgInvalidIndexFileName);
    files.index = std::fopen(indexName, "wb");
    if (files.index == nullptr)
        files.fail(kIdCannotOpenIdxFile, kMsgCannotOpenIdxFile);

    Settings settings;
    read_settings(inArgs, *type, files, settings);

    write_placeholder(files);
    LineReader reader(files.input);
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
    header.keysPosition = settings.writeKeys ? kHeaderSize : 0;
    header.tablePosition = files.index_bytes();
    header.layout = settings.consecutive ? hxb::index_format::kLayoutConsecutive
                                        : hxb::index_format::kLayoutPaired;
    header.widthByte = settings.widthByte;
    header.entryDelimiter = settings.entryDelimiter;
    write_offset_table(files, table.starts, table.ends, core.entries, settings.consecutive);
    write_header(files, header);

    files.close_input();
    if (!files.close_index())
        hxb::raise(kIdCannotWriteIdxFile, kMsgCannotWriteIdxFile);
}

} // namespace flatmark
