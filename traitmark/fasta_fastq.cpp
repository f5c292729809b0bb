#include "fasta_fastq.h"

namespace traitmark {
namespace {

bool is_sequence_character(int c) {
    return c != '\r' && c != '\n' && c != ' ' && c != '\t';
}

// Reads one line through its line feed (or to the end of the input), whatever its length, and
// counts its sequence characters; false when nothing could be read.
bool read_line(InputWindow& in, std::uint64_t& sequence_characters) {
    sequence_characters = 0;
    int c = in.peek();
    if (c == InputWindow::kEnd)
        return false;
    while (c != InputWindow::kEnd) {
        in.advance();
        if (c == '\n')
            break;
        if (is_sequence_character(c))
            ++sequence_characters;
        c = in.peek();
    }
    return true;
}

} // namespace

std::uint64_t fastq_length(InputWindow& in) {
    std::uint64_t count = 0;
    if (!read_line(in, count)) // header line
        return 0;
    if (!read_line(in, count))
        return 0;
    return count;
}

std::uint32_t fasta_length(InputWindow& in, std::uint64_t next_entry, std::uint64_t position_mask) {
    std::uint64_t count = 0;
    std::uint64_t line = 0;
    if (!read_line(in, line)) // header line
        return 0;
    for (;;) {
        const std::uint64_t line_start = in.position() & position_mask;
        if (in.peek() == InputWindow::kEnd || line_start >= (next_entry & position_mask))
            return static_cast<std::uint32_t>(count);
        read_line(in, line);
        count += line;
    }
}

} // namespace traitmark
