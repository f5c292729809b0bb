// Format conversion: bam2bam copies the records of a SAM or BAM file, all of them or those a
// selection names by their 1-based record number, into SAM, BAM, FASTQ or FASTA; sam2bam turns
// a SAM file into BAM. Both stream the input once through one reused record.
#include "bam_layer.h"
#include "hxutil.h"
#include "library_guard.h"
#include "record_output.h"
#include "sam_read_guard.h"
#include "services.h"

#include <cstdint>
#include <cstring>

using namespace alignport;

namespace {

// The texts that differ between the two services.
struct ConversionTexts {
    const char* headerMissing;
    const char* corrupted;
    const char* cannotCreate;
};

constexpr ConversionTexts kBam2bamTexts{"BAM file has a missing or corrupted header.",
                                        "BAM file is corrupted.", "Could not create output file."};
constexpr ConversionTexts kSam2bamTexts{"SAM file has a missing or corrupted header.",
                                        "SAM file is corrupted.", "Could not create new BAM file."};

// The files of one conversion. The output is declared first so that the input, declared last,
// is closed first: the order in which the services close their files.
struct ConversionFiles {
    RecordOutput output;
    SamFilePtr input;
    bool bamInput = false;

    // Closes the input, then the output, and raises. The output keeps what was written.
    [[noreturn]] void fail(const char* name, const char* text) {
        input.reset();
        output.close();
        plugin_error(name, text);
    }
};

// The corrupted-SAM error naming a line that failed the checks of sam_line_checks.h.
[[noreturn]] void refuse_sam_line(std::uint64_t line, const SamLineProblem& problem) {
    char message[160];
    format_sam_line_message(line, problem, message, sizeof message);
    plugin_error("CorruptedSAMFile", message);
}

// Opens the input, checks its header names references and that a first record can be read,
// then opens it again so the copy starts at the first record. SAM text is scanned first: its
// header lines are checked before the library parses them, and a file whose header is followed
// by blank lines only has no record (the library must not be asked for one). The library's
// exit() on a record that names a reference of an empty dictionary is never reached: the header
// test comes first.
SamFilePtr open_probed_input(const char* name, const char* mode, bam1_t* record,
                             const ConversionTexts& texts) {
    const bool samText = std::strcmp(mode, "r") == 0;
    SamTextScan scan;
    if (samText) {
        scan = scan_sam_text(name);
        if (scan.opened && !scan.headerSound)
            refuse_sam_line(scan.line, scan.problem);
    }
    SamFilePtr input = guarded_samopen(name, mode);
    if (!input)
        plugin_error("CannotOpenInFile", "Could not open SAM file.");
    if (input->header->n_targets <= 0) {
        input.reset();
        plugin_error("CorruptedHeaderSAMFile", texts.headerMissing);
    }
    const int probe = samText && !scan.hasRecords ? -1 : guarded_samread(input.get(), record);
    if (probe < 0) {
        input.reset();
        if (samText && probe == kSamLineRefused)
            refuse_sam_line(last_sam_line_failure().line, last_sam_line_failure().problem);
        plugin_error("CorruptedSAMFile", texts.corrupted);
    }
    input.reset();
    input = guarded_samopen(name, mode);
    if (!input || input->header->n_targets <= 0)
        plugin_error("CannotOpenInFile", "Could not open SAM file.");
    return input;
}

// Reads the next record: true for a record, false at a clean end of the input. A damaged file,
// a malformed record, or a BAM file that ends without its end-of-file block (cut short between
// two records) ends the call with the corrupted-file error; a SAM line that failed the checks,
// with the error naming that line.
bool next_record(ConversionFiles& files, bam1_t* record, const ConversionTexts& texts) {
    const int result = guarded_samread(files.input.get(), record);
    if (result >= 0)
        return true;
    if (result == kSamLineRefused && !files.bamInput) {
        char message[160];
        const SamLineFailure& failure = last_sam_line_failure();
        format_sam_line_message(failure.line, failure.problem, message, sizeof message);
        files.fail("CorruptedSAMFile", message);
    }
    if (result < -1 || (files.bamInput && bgzf_check_EOF(files.input->x.bam) == 0))
        files.fail("CorruptedSAMFile", texts.corrupted);
    return false;
}

void poll_interrupt(ConversionFiles& files) {
    if (HostInterrupt::HandlePendingInterrupt())
        files.fail("IterruptedByUser", "Operation terminated by user.");
}

void write_record(ConversionFiles& files, const bam1_t* record) {
    if (!files.output.write(record))
        files.fail("CannotWriteBAMFile", "Cannot write into output file.");
}

void copy_all(ConversionFiles& files, bam1_t* record, const ConversionTexts& texts) {
    while (next_record(files, record, texts)) {
        poll_interrupt(files);
        write_record(files, record);
    }
}

// Merges the record stream with the selection in one forward pass. Its order is checked as each
// element is consumed, after the record at hand has been written.
void copy_selected(ConversionFiles& files, bam1_t* record, const std::uint32_t* selection,
                   std::size_t count, const ConversionTexts& texts) {
    if (!next_record(files, record, texts))
        return;
    std::uint64_t recordNumber = 1;
    std::size_t position = 0;
    std::uint32_t lastConsumed = 0;
    for (;;) {
        poll_interrupt(files);
        if (recordNumber >= selection[position]) {
            write_record(files, record);
            if (lastConsumed >= selection[position])
                files.fail("BadIndex", "Index is not positive, unique and monotonic increasing.");
            lastConsumed = selection[position];
            ++position;
        }
        if (position == count || !next_record(files, record, texts))
            return;
        ++recordNumber;
    }
}

// Copies the records of the input into the output (all of them when count is 0) and closes
// both, reporting an output that could not be completed.
void convert(const char* inName, const char* inMode, const char* outName, OutputFormat format,
             const std::uint32_t* selection, std::size_t count, const ConversionTexts& texts) {
    RecordPtr record = new_record();
    ConversionFiles files;
    files.input = open_probed_input(inName, inMode, record.get(), texts);
    files.bamInput = std::strcmp(inMode, "rb") == 0;
    if (!files.output.open(outName, format, files.input->header)) {
        files.input.reset();
        plugin_error("CannotOpenOutFile", texts.cannotCreate);
    }
    if (count == 0)
        copy_all(files, record.get(), texts);
    else
        copy_selected(files, record.get(), selection, count, texts);
    files.input.reset();
    if (!files.output.close())
        plugin_error("CannotWriteBAMFile", "Cannot write into output file.");
}

bool read_input_format(const haArray* array, const char*& mode) {
    char format[64];
    if (!hxb::read_text(array, format, sizeof format))
        return false;
    if (std::strcmp(format, "sam") == 0)
        mode = "r";
    else if (std::strcmp(format, "bam") == 0)
        mode = "rb";
    else
        return false;
    return true;
}

bool read_output_format(const haArray* array, OutputFormat& format) {
    struct Name {
        const char* text;
        OutputFormat format;
    };
    static constexpr Name kNames[] = {{"sam", OutputFormat::Sam},
                                      {"bam", OutputFormat::Bam},
                                      {"fastq", OutputFormat::Fastq},
                                      {"fasta", OutputFormat::Fasta}};
    char text[64];
    if (!hxb::read_text(array, text, sizeof text))
        return false;
    for (const Name& name : kNames) {
        if (std::strcmp(text, name.text) == 0) {
            format = name.format;
            return true;
        }
    }
    return false;
}

} // namespace

void bam2bamF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[]) {
    check_counts("bam2bam", inCount, 5, outCount, 0);
    char inName[512];
    char outName[512];
    const char* inMode = nullptr;
    OutputFormat format = OutputFormat::Sam;
    if (!hxb::read_text(inArgs[0], inName, sizeof inName))
        plugin_error("InvalidFileName", "Invalid input file name.");
    if (!read_input_format(inArgs[1], inMode))
        plugin_error("InvalidFormatName", "Invalid input format.");
    if (!hxb::read_text(inArgs[2], outName, sizeof outName))
        plugin_error("InvalidFileName", "Invalid output file name.");
    if (!read_output_format(inArgs[3], format))
        plugin_error("InvalidFormatName", "Invalid output format.");
    const haArray* selection = inArgs[4];
    const haSize* dims = haGetDimensions(selection);
    if (haGetNumberOfDimensions(selection) > 2 || (dims[0] > 1 && dims[1] > 1))
        plugin_error("InvalidSize", "Third input argument must be a real vector.");
    if (haGetClassID(selection) != haUINT32_CLASS || haIsComplex(selection))
        plugin_error("InvalidType", "Third input argument must be uint32.");
    convert(inName, inMode, outName, format, static_cast<const std::uint32_t*>(haGetData(selection)),
            haGetNumberOfElements(selection), kBam2bamTexts);
}

void sam2bamF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[]) {
    check_counts("sam2bam", inCount, 2, outCount, 0);
    char samName[512];
    char bamName[512];
    if (!hxb::read_text(inArgs[0], samName, sizeof samName))
        plugin_error("InvalidFileName", "Invalid SAM file name.");
    if (!hxb::read_text(inArgs[1], bamName, sizeof bamName))
        plugin_error("InvalidFileName", "Invalid BAM file name.");
    convert(samName, "r", bamName, OutputFormat::Bam, nullptr, 0, kSam2bamTexts);
}
