// Format conversion: bam2bam copies the records of a SAM or BAM file, all of them or those a
// selection names by their 1-based record number, into SAM, BAM, FASTQ or FASTA; sam2bam turns
// a SAM file into BAM. Both stream the input once through one reused record.
#include "bam_layer.h"
#include "contract.h"
#include "hxutil.h"
#include "library_guard.h"
#include "record_output.h"
#include "sam_read_guard.h"
#include "service_inputs.h"

#include <cstdint>
#include <cstring>

namespace alignport {
namespace {

// The service called and the errors that differ between the two services.
struct Conversion {
    ServiceId service;
    Error header_missing;
    Error corrupted;
    Error cannot_create;
};

constexpr Conversion kBam2bam{ServiceId::Bam2Bam, Error::BamHeaderMissing, Error::BamCorruptedAsSam,
                              Error::CannotCreateOutput};
constexpr Conversion kSam2bam{ServiceId::Sam2Bam, Error::SamHeaderMissing, Error::CorruptedSam,
                              Error::CannotCreateBam};

// The files of one conversion. The output is declared first so that the input, declared last,
// is closed first: the order in which the services close their files, on every path. An error
// raised while both are open closes them in that order as it unwinds; the output keeps what
// was written.
struct ConversionFiles {
    RecordOutput output;
    SamFilePtr input;
    bool bam_input = false;
};

// The corrupted-SAM error naming a line that failed the checks of sam_line_checks.h.
[[noreturn]] void refuse_sam_line(const Conversion& conversion, std::uint64_t line,
                                  const SamLineProblem& problem) {
    char message[160];
    format_sam_line_message(line, problem, message, sizeof message);
    raise_error(conversion.service, Error::SamLineRefused, message);
}

// Opens the input, checks its header names references and that a first record can be read,
// then opens it again so the copy starts at the first record. SAM text is scanned first: its
// header lines are checked before the library parses them, and a file whose header is followed
// by blank lines only has no record (the library must not be asked for one). The library's
// exit() on a record that names a reference of an empty dictionary is never reached: the header
// test comes first.
SamFilePtr open_probed_input(const char* name, const char* mode, bam1_t* record,
                             const Conversion& conversion) {
    const bool sam_text = std::strcmp(mode, "r") == 0;
    SamTextScan scan;
    if (sam_text) {
        scan = scan_sam_text(name);
        if (scan.opened && !scan.header_sound)
            refuse_sam_line(conversion, scan.line, scan.problem);
    }
    SamFilePtr input = guarded_samopen(name, mode);
    if (!input)
        raise_error(Error::CannotOpenSam);
    if (input->header->n_targets <= 0)
        raise_error(conversion.header_missing);
    const int probe = sam_text && !scan.has_records ? -1 : guarded_samread(input.get(), record);
    if (probe < 0) {
        if (sam_text && probe == kSamLineRefused)
            refuse_sam_line(conversion, last_sam_line_failure().line,
                            last_sam_line_failure().problem);
        raise_error(conversion.corrupted);
    }
    // The probed handle is closed before the file is opened again.
    input.reset();
    input = guarded_samopen(name, mode);
    if (!input || input->header->n_targets <= 0)
        raise_error(Error::CannotOpenSam);
    return input;
}

// Reads the next record: true for a record, false at a clean end of the input. A damaged file,
// a malformed record, or a BAM file that ends without its end-of-file block (cut short between
// two records) ends the call with the corrupted-file error; a SAM line that failed the checks,
// with the error naming that line.
bool next_record(ConversionFiles& files, bam1_t* record, const Conversion& conversion) {
    const int result = guarded_samread(files.input.get(), record);
    if (result >= 0)
        return true;
    if (result == kSamLineRefused && !files.bam_input) {
        const SamLineFailure& failure = last_sam_line_failure();
        refuse_sam_line(conversion, failure.line, failure.problem);
    }
    if (result < -1 || (files.bam_input && bgzf_check_EOF(files.input->x.bam) == 0))
        raise_error(conversion.corrupted);
    return false;
}

void poll_interrupt() {
    if (HostInterrupt::HandlePendingInterrupt())
        raise_error(Error::Interrupted);
}

void write_record(ConversionFiles& files, const bam1_t* record) {
    if (!files.output.write(record))
        raise_error(Error::CannotWriteOutput);
}

void copy_all(ConversionFiles& files, bam1_t* record, const Conversion& conversion) {
    while (next_record(files, record, conversion)) {
        poll_interrupt();
        write_record(files, record);
    }
}

// Merges the record stream with the selection in one forward pass. Its order is checked as each
// element is consumed, after the record at hand has been written.
void copy_selected(ConversionFiles& files, bam1_t* record, const std::uint32_t* selection,
                   std::size_t count, const Conversion& conversion) {
    if (!next_record(files, record, conversion))
        return;
    std::uint64_t record_number = 1;
    std::size_t position = 0;
    std::uint32_t last_consumed = 0;
    for (;;) {
        poll_interrupt();
        if (record_number >= selection[position]) {
            write_record(files, record);
            if (last_consumed >= selection[position])
                raise_error(Error::BadSelection);
            last_consumed = selection[position];
            ++position;
        }
        if (position == count || !next_record(files, record, conversion))
            return;
        ++record_number;
    }
}

// Copies the records of the input into the output (all of them when count is 0) and closes
// both, reporting an output that could not be completed.
void convert(const char* in_name, const char* in_mode, const char* out_name, OutputFormat format,
             const std::uint32_t* selection, std::size_t count, const Conversion& conversion) {
    RecordPtr record = new_record();
    ConversionFiles files;
    files.input = open_probed_input(in_name, in_mode, record.get(), conversion);
    files.bam_input = std::strcmp(in_mode, "rb") == 0;
    if (!files.output.open(out_name, format, files.input->header))
        raise_error(conversion.cannot_create);
    if (count == 0)
        copy_all(files, record.get(), conversion);
    else
        copy_selected(files, record.get(), selection, count, conversion);
    // Input first, then output, as on the error paths; only the output's close can fail.
    files.input.reset();
    if (!files.output.close())
        raise_error(Error::CannotWriteOutput);
}

bool read_input_format(const haArray* array, const char*& mode) {
    char format[kFormatNameBuffer];
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
    char text[kFormatNameBuffer];
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
    check_counts(ServiceId::Bam2Bam, inCount, outCount);
    char in_name[kFileNameBuffer];
    char out_name[kFileNameBuffer];
    const char* in_mode = nullptr;
    OutputFormat format = OutputFormat::Sam;
    if (!hxb::read_text(inArgs[0], in_name, sizeof in_name))
        raise_error(Error::InvalidInputName);
    if (!read_input_format(inArgs[1], in_mode))
        raise_error(Error::InvalidInputFormat);
    if (!hxb::read_text(inArgs[2], out_name, sizeof out_name))
        raise_error(Error::InvalidOutputName);
    if (!read_output_format(inArgs[3], format))
        raise_error(Error::InvalidOutputFormat);
    const haArray* selection = inArgs[4];
    const haSize* dims = haGetDimensions(selection);
    if (haGetNumberOfDimensions(selection) > 2 || (dims[0] > 1 && dims[1] > 1))
        raise_error(Error::SelectionNotVector);
    if (haGetClassID(selection) != haUINT32_CLASS || haIsComplex(selection))
        raise_error(Error::SelectionNotUint32);
    convert(in_name, in_mode, out_name, format,
            static_cast<const std::uint32_t*>(haGetData(selection)),
            haGetNumberOfElements(selection), kBam2bam);
}

void sam2bamF(int outCount, haArray* /*outSlots*/[], int inCount, const haArray* inArgs[]) {
    check_counts(ServiceId::Sam2Bam, inCount, outCount);
    char sam_name[kFileNameBuffer];
    char bam_name[kFileNameBuffer];
    if (!hxb::read_text(inArgs[0], sam_name, sizeof sam_name))
        raise_error(Error::InvalidSamName);
    if (!hxb::read_text(inArgs[1], bam_name, sizeof bam_name))
        raise_error(Error::InvalidBamName);
    convert(sam_name, "r", bam_name, OutputFormat::Bam, nullptr, 0, kSam2bam);
}

} // namespace alignport
