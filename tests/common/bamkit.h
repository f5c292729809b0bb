// BAM and BAI fixtures made at test time from inline SAM text through the BAM library.
#pragma once

#include "testkit.h"

#include <string>
#include <utility>
#include <vector>

namespace bamkit {

// "@SQ" header lines for the given (name, length) references, preceded by an "@HD" line.
std::string sam_header(const std::vector<std::pair<std::string, int>>& refs,
                       const char* sort_order = "coordinate");

// Writes SAM text to NAME.sam and converts it to NAME.bam through the library; with index,
// also builds NAME.bam.bai. Returns the BAM path. Fails the test on a library error.
std::string make_bam(const testkit::TempDir& dir, const std::string& name, const std::string& sam,
                     bool index = true);

// Reads every record of the BAM at bam_path through the library and compares the plug-in's SAM
// text of it (format_sam_record) with bam_format1's; each difference fails the test, naming the
// file and the record number. make_bam runs it on every file it makes. Returns the number of
// records compared (-1 when the file cannot be opened).
long expect_sam_text_as_library(const std::string& bam_path);

// A BAM holding only a header with this text and no references (the library's SAM reader
// cannot read such a file, so the header is written directly).
std::string make_header_only_bam(const testkit::TempDir& dir, const std::string& name,
                                 const std::string& header_text);

// A seeded, coordinate-sorted SAM text: references chr1..chrN and reads of 'reads' per reference;
// every third read has its match written as = and X operations.
std::string generated_sam(unsigned seed, int references, int reads_per_reference,
                          int read_length = 50);

} // namespace bamkit
