// The checked BAM reader: a valid BAM with one edit in its header or in one record is refused by
// every service that reads the edited part, with that service's error and nothing left behind;
// valid files of unusual shapes read as before; and a seeded sweep of random edits never
// crashes a service, and every edit samtools refuses is refused here too.
#include "bam_editing.h"
#include "bamkit.h"
#include "peers.h"

#include <dirent.h>
#include <samtools/bam.h>

#include <cstdlib>
#include <functional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace testkit;

#if HELIXO_ALIGNPORT_WRAPS

namespace {

constexpr int kReads = 30; // per reference

// Two references of kReads records each; every record has a B and an H field.
std::string valid_sam() {
    std::mt19937 rng(11);
    std::ostringstream s;
    s << bamkit::sam_header({{"chr1", 100000}, {"chr2", 100000}});
    for (const char* ref : {"chr1", "chr2"}) {
        for (int k = 0; k < kReads; ++k) {
            std::string seq;
            for (int j = 0; j < 20; ++j)
                seq.push_back("ACGT"[rng() % 4]);
            s << "r" << ref << "_" << k << "\t0\t" << ref << "\t" << 100 + 50 * k
              << "\t30\t20M\t=\t" << 100 + 50 * k << "\t0\t" << seq << "\t" << std::string(20, 'I')
              << "\tXB:B:s,1,2,3\tXH:H:1AE3\tNM:i:1\n";
        }
    }
    return s.str();
}

// The valid content, stored as BGZF, and its BAI; made once for the whole suite.
struct ValidBam {
    TempDir dir;
    std::string content;
    bamedit::Layout layout;
    std::string bai;
    ValidBam() {
        const std::string source = bamkit::make_bam(dir, "source", valid_sam(), false);
        content = bamedit::content_of(source);
        layout = bamedit::layout_of(content);
        const std::string stored = dir.file("valid.bam");
        bamedit::write_stored_bgzf(stored, content);
        bam_index_build(stored.c_str());
        bai = stored + ".bai";
    }
};

const ValidBam& valid() {
    static const ValidBam v;
    return v;
}

// One service that reads a BAM, with what it is called with and what it may leave in the folder.
struct Service {
    const char* name;
    int outCount;
    std::function<Inputs(const std::string& bam, const std::string& bai, const TempDir& dir)>
        inputs;
    const char* record_error; // identifier for a damaged record
    const char* record_message;
    const char* open_message; // message for a damaged header
    std::set<std::string> may_create;
};

std::vector<std::uint32_t> starts_of_first_reference() {
    std::vector<std::uint32_t> starts;
    for (int k = 0; k < kReads; ++k)
        starts.push_back(static_cast<std::uint32_t>(99 + 50 * k));
    return starts;
}

const std::vector<Service>& services() {
    static const std::vector<Service> kServices = {
        {"baminfo",
         2,
         [](auto& bam, auto&, auto&) { return args("baminfo", bam); },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {}},
        {"getstartsinref",
         3,
         [](auto& bam, auto& bai, auto&) { return args("getstartsinref", bam, bai, 0.0); },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {}},
        {"getfeaturesinrefbyindex",
         2,
         [](auto& bam, auto& bai, auto&) {
             return args("getfeaturesinrefbyindex", bam, bai, cell_of({"Signature", "EndPosition"}),
                         0.0, u32({10, 11, 12}), u32(starts_of_first_reference()));
         },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {}},
        {"bam2bam to SAM",
         0,
         [](auto& bam, auto&, auto& dir) {
             return args("bam2bam", bam, "bam", dir.file("o.sam"), "sam", u32({}));
         },
         "helixo:alignport:CorruptedSAMFile",
         "BAM file is corrupted.",
         "Could not open SAM file.",
         {"o.sam"}},
        {"bam2bam to BAM",
         0,
         [](auto& bam, auto&, auto& dir) {
             return args("bam2bam", bam, "bam", dir.file("o.bam"), "bam", u32({}));
         },
         "helixo:alignport:CorruptedSAMFile",
         "BAM file is corrupted.",
         "Could not open SAM file.",
         {"o.bam"}},
        {"bam2bam to FASTQ",
         0,
         [](auto& bam, auto&, auto& dir) {
             return args("bam2bam", bam, "bam", dir.file("o.fq"), "fastq", u32({}));
         },
         "helixo:alignport:CorruptedSAMFile",
         "BAM file is corrupted.",
         "Could not open SAM file.",
         {"o.fq"}},
        {"indexbamfile",
         0,
         [](auto& bam, auto&, auto& dir) { return args("indexbamfile", bam, dir.file("o.bai")); },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {}},
        {"bamsort",
         0,
         [](auto& bam, auto&, auto& dir) { return args("bamsort", bam, dir.file("sorted")); },
         "helixo:alignport:CorruptedSAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {"sorted.bam"}},
        {"writesambyregion",
         0,
         [](auto& bam, auto& bai, auto& dir) {
             return args("writesambyregion", bam, bai, dir.file("r.sam"), "chr1:1-100000", 0.0,
                         1.0);
         },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {"r.sam"}},
        {"writesamunaligned",
         0,
         [](auto& bam, auto&, auto& dir) {
             return args("writesamunaligned", bam, dir.file("u.sam"), 0.0);
         },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {"u.sam"}},
        {"dumpinfobyregion",
         0,
         [](auto& bam, auto& bai, auto&) {
             return args("dumpinfobyregion", bam, bai, "chr1:1-100000");
         },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {}},
        {"dumpstartsinfo",
         0,
         [](auto& bam, auto&, auto&) { return args("dumpstartsinfo", bam); },
         "helixo:alignport:CorruptedBAMFile",
         "BAM file is corrupted.",
         "Could not open BAM file.",
         {}},
    };
    return kServices;
}

// One edit of the valid content. Header edits make every service fail to open the file; record
// edits, made to the 11th record of chr1, fail every service that reads it.
struct Edit {
    const char* name;
    bool in_header;
    std::function<void(std::string&, const bamedit::Layout&)> apply;
};

std::size_t damaged_record(const bamedit::Layout& l) {
    return l.records[10];
}

bamedit::RecordFields damaged_fields(const std::string& c, const bamedit::Layout& l) {
    return bamedit::fields_of(c, damaged_record(l));
}

const std::vector<Edit>& edits() {
    using namespace bamedit;
    static const std::vector<Edit> kEdits = {
        {"ReferenceCountOfTwoToThe28", true,
         [](std::string& c, const Layout& l) { put_i32(c, l.ref_count, 1 << 28); }},
        {"NegativeReferenceCount", true,
         [](std::string& c, const Layout& l) { put_i32(c, l.ref_count, -1); }},
        {"NegativeTextLength", true,
         [](std::string& c, const Layout& l) { put_i32(c, l.text_length, -1); }},
        {"ReferenceNameLengthZero", true,
         [](std::string& c, const Layout& l) { put_i32(c, l.refs[1], 0); }},
        {"BlockSizeOfIntMax", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_record(l), 0x7fffffff); }},
        {"BlockSizeBelowFixedPart", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_record(l), 31); }},
        {"ReferenceNumberEqualToCount", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_fields(c, l).ref_id, 2); }},
        {"ReferenceNumberBelowMinusOne", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_fields(c, l).ref_id, -2); }},
        {"MateReferenceNumberEqualToCount", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_fields(c, l).mate_ref_id, 2); }},
        {"PositionBelowMinusOne", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_fields(c, l).pos, -2); }},
        {"NameLengthZero", false,
         [](std::string& c, const Layout& l) { put_u8(c, damaged_fields(c, l).name_length, 0); }},
        {"NameWithoutTerminator", false,
         [](std::string& c, const Layout& l) {
             const RecordFields f = damaged_fields(c, l);
             put_u8(c, f.cigar - 1, 'x');
         }},
        {"SequenceLengthMinusOne", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_fields(c, l).seq_length, -1); }},
        {"SequenceLengthOfIntMax", false,
         [](std::string& c, const Layout& l) {
             put_i32(c, damaged_fields(c, l).seq_length, 0x7fffffff);
         }},
        {"SequenceLongerThanTheRecord", false,
         [](std::string& c, const Layout& l) { put_i32(c, damaged_fields(c, l).seq_length, 40); }},
        {"CigarCountOf65535", false,
         [](std::string& c, const Layout& l) {
             put_u16(c, damaged_fields(c, l).cigar_count, 65535);
         }},
        {"CigarOperationCode15", false,
         [](std::string& c, const Layout& l) {
             put_i32(c, damaged_fields(c, l).cigar, 20 << 4 | 15);
         }},
        {"ArrayCountOfAMillion", false,
         [](std::string& c, const Layout& l) {
             put_i32(c, aux_field(c, damaged_record(l), "XB") + 4, 1000000);
         }},
        {"ArrayCountOfIntMax", false,
         [](std::string& c, const Layout& l) {
             put_i32(c, aux_field(c, damaged_record(l), "XB") + 4, 0x7fffffff);
         }},
        {"ArrayOfUnknownSubtype", false,
         [](std::string& c, const Layout& l) {
             put_u8(c, aux_field(c, damaged_record(l), "XB") + 3, 'Q');
         }},
        {"HexFieldRetypedAsArray", false,
         [](std::string& c, const Layout& l) {
             put_u8(c, aux_field(c, damaged_record(l), "XH") + 2, 'B');
         }},
        {"FieldOfUnknownType", false,
         [](std::string& c, const Layout& l) {
             put_u8(c, aux_field(c, damaged_record(l), "NM") + 2, 'q');
         }},
        {"StringFieldWithoutTerminator", false,
         [](std::string& c, const Layout& l) {
             // The last field, NM:C, becomes a Z field running to the end of the record.
             put_u8(c, aux_field(c, damaged_record(l), "NM") + 2, 'Z');
         }},
    };
    return kEdits;
}

using Case = std::tuple<std::size_t, std::size_t>; // edit, service

class DamagedBam : public ::testing::TestWithParam<Case> {};

TEST_P(DamagedBam, IsRefusedWithTheServicesErrorAndNothingLeftBehind) {
    const Edit& edit = edits()[std::get<0>(GetParam())];
    const Service& service = services()[std::get<1>(GetParam())];
    TempDir dir;
    std::string content = valid().content;
    edit.apply(content, valid().layout);
    const std::string bam = dir.file("d.bam");
    bamedit::write_stored_bgzf(bam, content);
    const std::string bai = dir.write_text("d.bam.bai", read_file(valid().bai));
    const std::set<std::string> before = entries_of(dir.path());

    const auto r = call("alignport", service.outCount, service.inputs(bam, bai, dir));
    if (edit.in_header)
        EXPECT_HX_ERROR(r, "helixo:alignport:CannotOpenInFile", service.open_message);
    else
        EXPECT_HX_ERROR(r, service.record_error, service.record_message);
    for (const auto& output : r.outputs)
        EXPECT_EQ(output, nullptr);
    for (const std::string& name : entries_of(dir.path()))
        EXPECT_TRUE(before.count(name) || service.may_create.count(name))
            << "left behind: " << name;
}

std::string case_name(const ::testing::TestParamInfo<Case>& info) {
    std::string service = services()[std::get<1>(info.param)].name;
    for (char& ch : service)
        if (ch == ' ')
            ch = '_';
    return std::string(edits()[std::get<0>(info.param)].name) + "_" + service;
}

INSTANTIATE_TEST_SUITE_P(EveryEditEveryService, DamagedBam,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 23),
                                            ::testing::Range<std::size_t>(0, 12)),
                         case_name);

TEST(DamagedBamTable, CoversEveryEditAndService) {
    EXPECT_EQ(edits().size(), 23u);
    EXPECT_EQ(services().size(), 12u);
}

// A reference name without its terminator is taken as its stated length, as samtools takes it.
TEST(CheckedHeader, NameWithoutTerminatorIsTakenAsItsStatedLength) {
    TempDir dir;
    std::string content = valid().content;
    const std::size_t name_at = valid().layout.refs[0] + 4;
    bamedit::put_u8(content, name_at + 4, 'X'); // "chr1\0" becomes "chr1X"
    const std::string bam = dir.file("d.bam");
    bamedit::write_stored_bgzf(bam, content);
    const auto r = call("alignport", 3, args("getheader", bam));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(hxhost::text_of(haGetCell(r.outputs[1].get(), 0)), "chr1X");
    EXPECT_EQ(peers::run("samtools view -H " + peers::quoted(bam) + " | grep -c SN:chr1X"), "1\n");
    const auto sam =
        call("alignport", 0, args("bam2bam", bam, "bam", dir.file("o.sam"), "sam", u32({})));
    ASSERT_TRUE(sam.ok) << sam.message;
    EXPECT_EQ(peers::lines_of(read_file(dir.file("o.sam"))).size(), 2u * kReads);
}

// Valid shapes at the edges of the checks read exactly as samtools reads them.
TEST(CheckedReader, ValidRecordsAtTheLimitsReadAsSamtoolsReadsThem) {
    std::string cigar;
    for (int k = 0; k < 32767; ++k)
        cigar += "1M1D";
    cigar += "1M"; // 65,535 operations
    std::mt19937 rng(5);
    std::string long_seq;
    for (int k = 0; k < 32768; ++k)
        long_seq.push_back("ACGT"[rng() % 4]);
    std::ostringstream s;
    s << bamkit::sam_header({{"chr1", 200000}}) << std::string(254, 'n')
      << "\t0\tchr1\t10\t30\t4M\t*\t0\t0\tACGT\tIIII\n"
      << "arrays\t0\tchr1\t20\t30\t4M\t*\t0\t0\tACGT\tIIII\tXc:B:c,-128,127\tXC:B:C,0,255"
         "\tXs:B:s,-32768,32767\tXS:B:S,0,65535\tXi:B:i,-2147483648,2147483647"
         "\tXI:B:I,0,4294967295\tXf:B:f,1.5,-2\n"
      << "empty\t4\tchr1\t30\t0\t*\t*\t0\t0\t*\t*\n"
      << "long\t0\tchr1\t40\t30\t" << cigar << "\t*\t0\t0\t" << long_seq << "\t*\n";
    TempDir dir;
    const std::string bam = bamkit::make_bam(dir, "edge", s.str());
    const auto r =
        call("alignport", 0, args("bam2bam", bam, "bam", dir.file("o.bam"), "bam", u32({})));
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_EQ(peers::view(dir.file("o.bam")), peers::view(bam));
    EXPECT_EQ(peers::lines_of(peers::view(bam)).size(), 4u);
    const auto starts = call("alignport", 3, args("getstartsinref", bam, bam + ".bai", 0.0));
    ASSERT_TRUE(starts.ok) << starts.message;
    EXPECT_EQ(hxhost::values_of<std::uint32_t>(starts.outputs[0].get()),
              (std::vector<std::uint32_t>{10, 20, 30, 40}));
    EXPECT_EQ(hxhost::values_of<std::uint32_t>(starts.outputs[1].get())[3], 40u + 65535u - 1u);
}

// Random edits of the valid content: every service call ends normally or with a corrupted-file
// or could-not-open error, and whatever samtools refuses to read, baminfo and bam2bam refuse.
// samtools reads without adding its own header line: that would also parse the header's text,
// which the services pass on as it is.
TEST(CheckedReader, SeededMutationSweepNeverCrashesAndRefusesWhatSamtoolsRefuses) {
    const char* env = std::getenv("HELIXO_MUTANTS");
    const int mutants = env != nullptr ? std::atoi(env) : 600;
    constexpr int kPeerChecked = 300; // the first mutants are also read by samtools
    const std::set<std::string> allowed = {
        "helixo:alignport:CorruptedBAMFile", "helixo:alignport:CorruptedSAMFile",
        "helixo:alignport:CannotOpenInFile", "helixo:alignport:BAMIndexMissing",
        // an edit that leaves the header without references
        "helixo:alignport:CorruptedHeaderSAMFile",
        "helixo:alignport:getstartsinref:InvalidReference"};
    const std::string& original = valid().content;
    const std::size_t first_record = valid().layout.records.front();
    std::mt19937 rng(20261208);
    TempDir dir;
    const std::string bam = dir.file("m.bam");
    const std::string bai = dir.write_text("m.bam.bai", read_file(valid().bai));
    int refused_by_samtools = 0;
    for (int m = 0; m < mutants; ++m) {
        std::string content = original;
        const int changes = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < changes; ++k) {
            // Half the edits go to the header, half to the records.
            const bool header = rng() % 2 == 0;
            const std::size_t at = header ? rng() % first_record
                                          : first_record + rng() % (content.size() - first_record);
            content[at] = static_cast<char>(rng() % 4 == 0 ? 0xff : rng() & 0xff);
        }
        bamedit::write_stored_bgzf(bam, content);
        std::vector<hxhost::CallResult> results;
        results.push_back(call("alignport", 2, args("baminfo", bam)));
        results.push_back(
            call("alignport", 0, args("bam2bam", bam, "bam", dir.file("o.sam"), "sam", u32({}))));
        results.push_back(call("alignport", 3, args("getstartsinref", bam, bai, 0.0)));
        for (const auto& r : results) {
            EXPECT_FALSE(r.foreign_exception) << "mutant " << m;
            if (!r.ok) {
                EXPECT_TRUE(allowed.count(r.identifier)) << "mutant " << m << ": " << r.identifier;
            }
        }
        if (m < kPeerChecked) {
            int status = 0;
            run_command("samtools view --no-PG -o /dev/null " + peers::quoted(bam) + " 2>/dev/null",
                        &status);
            if (status != 0) {
                ++refused_by_samtools;
                EXPECT_FALSE(results[0].ok)
                    << "baminfo read mutant " << m << " that samtools refuses";
                EXPECT_FALSE(results[1].ok)
                    << "bam2bam read mutant " << m << " that samtools refuses";
            }
        }
        if (HasFailure()) {
            run_command("cp " + peers::quoted(bam) + " /tmp/failed_mutant.bam");
            break;
        }
    }
    EXPECT_GT(refused_by_samtools, 0); // the sweep reaches damage the peer sees
}

} // namespace

#endif
