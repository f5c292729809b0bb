// The output of a conversion: SAM text, BAM, FASTQ or FASTA, created (or truncated) by open,
// written one record at a time. Every write and the final close are checked, so a full disk or
// a failing device is reported instead of leaving a silently truncated file.
#pragma once

#include "file_owner.h"

#include <samtools/bam.h>

#include <cstdio>
#include <string>
#include <vector>

namespace alignport {

enum class OutputFormat { Sam, Bam, Fastq, Fasta };

class RecordOutput {
public:
    RecordOutput() = default;
    ~RecordOutput(); // closes without reporting; call close() to learn the outcome
    RecordOutput(const RecordOutput&) = delete;
    RecordOutput& operator=(const RecordOutput&) = delete;

    // Creates or truncates the file. SAM output is alignment lines only; BAM output starts with
    // header. The header must outlive the output. False when the file cannot be created.
    bool open(const char* name, OutputFormat format, const bam_header_t* header);
    // Writes one record. False when the bytes could not be handed to the file.
    bool write(const bam1_t* record);
    // Flushes and closes. False when anything written since open did not reach the file.
    // Closing a closed output does nothing and returns true.
    bool close();

private:
    bool write_fastx(const bam1_t* record);
    bool flush_sam_lines(); // hands the waiting SAM lines to the stream

    OutputFormat format_ = OutputFormat::Sam;
    const bam_header_t* header_ = nullptr;
    hxb::FilePtr text_;           // SAM, FASTQ, FASTA
    BGZF* bam_ = nullptr;         // BAM
    std::string line_;            // one FASTQ/FASTA record, reused
    std::vector<char> sam_lines_; // SAM lines not yet handed to the stream, reused
    std::size_t sam_filled_ = 0;
};

} // namespace alignport
