#include "dump_window.h"

#include "hx.h"

namespace alignport {

namespace {

void print_line(const bam1_t* record, DumpPrinter& printer) {
    if (!format_sam_line(printer.file->header, record, printer.line)) {
        printer.damaged = true;
        return;
    }
    printer.line.text[printer.line.length] = '\0';
    hxPrintf("%s\n", printer.line.text.data());
}

} // namespace

int printalignment(const bam1_t* record, void* printer) {
    if (record->core.tid >= 0)
        print_line(record, *static_cast<DumpPrinter*>(printer));
    return 0;
}

int collectstart(const bam1_t* record, void* positions) {
    static_cast<std::vector<std::uint32_t>*>(positions)->push_back(
        static_cast<std::uint32_t>(record->core.pos));
    return 0;
}

int printinwindow(const bam1_t* record, void* window) {
    auto* w = static_cast<DumpWindow*>(window);
    if (record->core.pos < w->first_position)
        return 0;
    if (w->skip > 0) {
        --w->skip;
        return 0;
    }
    if (w->print != 0) {
        --w->print;
        print_line(record, w->printer);
    }
    return 0;
}

} // namespace alignport
