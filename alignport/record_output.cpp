#include "record_output.h"

#include "alignment_fields.h"
#include "sam_format.h"

#include <cstdlib>
#include <cstring>

namespace alignport {

namespace {

constexpr std::size_t kStreamBuffer = 1 << 16;
// SAM lines are handed to the stream in writes of about this size.
constexpr std::size_t kSamBatch = 1 << 18;

// Frees what bgzf_close leaves behind when it fails. In the installed 0.1.19 library it returns
// early on a failed flush with the stream still open (and marks BGZF_ERR_IO), and after a failed
// fclose with the stream gone; in both cases the buffers and the handle stay allocated.
void release_failed_bgzf(BGZF* bgzf, bool stream_open) {
    if (stream_open)
        std::fclose(static_cast<std::FILE*>(bgzf->fp));
    std::free(bgzf->uncompressed_block);
    std::free(bgzf->compressed_block);
    std::free(bgzf);
}

// Flushes the last block, writes the end-of-file block and closes; false when any of it failed.
// The handle is released on every path.
bool close_bgzf_checked(BGZF* bgzf) {
    if (bgzf->errcode != 0 || bgzf_flush(bgzf) != 0) {
        release_failed_bgzf(bgzf, true);
        return false;
    }
    if (bgzf_close(bgzf) == 0)
        return true;
    release_failed_bgzf(bgzf, (bgzf->errcode & BGZF_ERR_IO) != 0);
    return false;
}

} // namespace

RecordOutput::~RecordOutput() {
    close();
}

bool RecordOutput::open(const char* name, OutputFormat format, const bam_header_t* header) {
    close();
    format_ = format;
    header_ = header;
    sam_filled_ = 0;
    if (format == OutputFormat::Bam) {
        bam_ = bam_open(name, "w");
        if (bam_ == nullptr)
            return false;
        bam_header_write(bam_, header);
        return true;
    }
    text_.reset(std::fopen(name, "w"));
    if (!text_)
        return false;
    std::setvbuf(text_.get(), nullptr, _IOFBF, kStreamBuffer);
    return true;
}

bool RecordOutput::write(const bam1_t* record) {
    switch (format_) {
    case OutputFormat::Bam:
        bam_write1(bam_, record);
        return bam_->errcode == 0;
    case OutputFormat::Sam: {
        // The library's SAM line of the record (sam_format.h), as its SAM writer formats it,
        // added to the lines waiting for one large write.
        const std::size_t length = format_sam_record(header_, record, sam_lines_, sam_filled_);
        sam_lines_[sam_filled_ + length] = '\n';
        sam_filled_ += length + 1;
        return sam_filled_ < kSamBatch || flush_sam_lines();
    }
    case OutputFormat::Fastq:
    case OutputFormat::Fasta:
        return write_fastx(record);
    }
    return false;
}

// "@NAME\nSEQ\n+\nQUAL\n" or ">NAME\nSEQ\n", bases and qualities as stored (reverse-strand reads
// are not turned round), qualities plus 33 kept to 8 bits. A quality text ends early at a byte
// that becomes 0, as a C text would. One reused buffer, one write per record.
bool RecordOutput::write_fastx(const bam1_t* record) {
    const bool fastq = format_ == OutputFormat::Fastq;
    const char* name = bam1_qname(record);
    const std::size_t name_length = std::strlen(name);
    const std::size_t length =
        record->core.l_qseq > 0 ? static_cast<std::size_t>(record->core.l_qseq) : 0;
    const std::size_t needed = name_length + 2 * length + 8;
    if (line_.size() < needed)
        line_.resize(needed);
    char* out = &line_[0];
    *out++ = fastq ? '@' : '>';
    std::memcpy(out, name, name_length);
    out += name_length;
    *out++ = '\n';
    const std::uint8_t* seq = bam1_seq(record);
    for (std::size_t k = 0; k < length; ++k)
        *out++ = kBaseLetters[bam1_seqi(seq, k)];
    *out++ = '\n';
    if (fastq) {
        *out++ = '+';
        *out++ = '\n';
        const std::uint8_t* qual = bam1_qual(record);
        for (std::size_t k = 0; k < length; ++k) {
            const char c = static_cast<char>(static_cast<std::uint8_t>(qual[k] + 33));
            if (c == '\0')
                break;
            *out++ = c;
        }
        *out++ = '\n';
    }
    const std::size_t size = static_cast<std::size_t>(out - line_.data());
    return std::fwrite(line_.data(), 1, size, text_.get()) == size;
}

bool RecordOutput::flush_sam_lines() {
    if (sam_filled_ == 0)
        return true;
    const bool ok = std::fwrite(sam_lines_.data(), 1, sam_filled_, text_.get()) == sam_filled_;
    sam_filled_ = 0;
    return ok;
}

bool RecordOutput::close() {
    bool ok = true;
    if (bam_ != nullptr) {
        ok = close_bgzf_checked(bam_);
        bam_ = nullptr;
    }
    if (text_) {
        ok = flush_sam_lines();
        ok = std::ferror(text_.get()) == 0 && ok;
        ok = hxb::close_file(text_) && ok;
    }
    return ok;
}

} // namespace alignport
