#include "fasta_fastq.h"

namespace traitmark {
namespace {

// Characters one line read takes at most (a read of 65,535 bytes keeps one for its zero).
constexpr std::uint32_t kPieceLength = 65534;

bool is_sequence_character(int c) {
    return c != '\r' && c != '\n' && c != ' ' && c != '\t';
}

// Reads one piece and counts its sequence characters; false when nothing could be read.
bool read_piece(InputWindow& in, std::uint32_t& sequence_characters) {
    sequence_characters = 0;
    int c = in.peek();
    if (c == InputWindow::kEnd)
        return false;
    for (std::uint32_t taken = 0; taken < kPieceLength && c != InputWindow::kEnd; ++taken) {
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

std::uint16_t fastq_length(InputWindow& in) {
    std::uint32_t count = 0;
    if (!read_piece(in, count)) // header line
        return 0;
    if (!read_piece(in, count))
        return 0;
    return static_cast<std::uint16_t>(count);
}

std::uint32_t fasta_length(InputWindow& in, std::uint64_t next_entry, std::uint64_t position_mask) {
    std::uint32_t count = 0;
    std::uint32_t piece = 0;
    if (!read_piece(in, piece)) // header line
        return 0;
    for (;;) {
        const std::uint64_t piece_start = in.position() & position_mask;
        if (in.peek() == InputWindow::kEnd || piece_start >= (next_entry & position_mask))
            return count;
        read_piece(in, piece);
        count += piece;
    }
}

} // namespace traitmark
