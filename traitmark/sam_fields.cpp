#include "sam_fields.h"

#include <limits>

namespace traitmark {
namespace {

bool is_separator(int c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

bool ends_token(int c) {
    return c == InputWindow::kEnd || c == '\n' || is_separator(c);
}

// Moves to the first character of the next column on this line; false when the line (or the
// file) ends first.
bool to_next_column(InputWindow& in) {
    int c = in.peek();
    while (is_separator(c)) {
        in.advance();
        c = in.peek();
    }
    return c != InputWindow::kEnd && c != '\n';
}

void skip_token(InputWindow& in) {
    while (!ends_token(in.peek()))
        in.advance();
}

// A number column: decimal digits only, up to the end of the token.
bool read_number(InputWindow& in, std::uint64_t& value) {
    constexpr std::uint64_t kMax = std::numeric_limits<std::uint64_t>::max();
    value = 0;
    int c = in.peek();
    if (c < '0' || c > '9')
        return false;
    while (c >= '0' && c <= '9') {
        const auto digit = static_cast<std::uint64_t>(c - '0');
        value = value > (kMax - digit) / 10 ? kMax : value * 10 + digit;
        in.advance();
        c = in.peek();
    }
    return ends_token(c);
}

} // namespace

ReadOutcome read_sam_columns(InputWindow& in, const char* pattern, char* buffer,
                             SamColumns& columns) {
    for (const char* kind = pattern; *kind != '\0'; ++kind) {
        if (!to_next_column(in))
            return ReadOutcome::Unreadable;
        switch (*kind) {
        case 's':
            skip_token(in);
            break;
        case 'u': {
            std::uint64_t ignored = 0;
            if (!read_number(in, ignored))
                return ReadOutcome::Unreadable;
            break;
        }
        case 'N':
            if (!read_number(in, columns.number))
                return ReadOutcome::Unreadable;
            break;
        case 'C': {
            CigarWalker walker;
            for (int c = in.peek(); !ends_token(c); c = in.peek()) {
                walker.add(static_cast<char>(c));
                in.advance();
            }
            columns.cigar = walker.finish();
            break;
        }
        default: { // 'S'
            std::size_t length = 0;
            for (int c = in.peek(); !ends_token(c); c = in.peek()) {
                if (length == kMaxToken)
                    return ReadOutcome::TokenTooLong;
                buffer[length++] = static_cast<char>(c);
                in.advance();
            }
            columns.token_length = length;
            break;
        }
        }
    }
    return ReadOutcome::Read;
}

void CigarWalker::add(char c) {
    if (done_)
        return;
    if (!started_) {
        started_ = true;
        if (c == '*') {
            walk_.unavailable = true;
            done_ = true;
            return;
        }
    }
    if (c >= '0' && c <= '9') {
        operation_length_ = operation_length_ * 10u + static_cast<std::uint32_t>(c - '0');
        digits_pending_ = true;
        return;
    }
    const int op = hxb::cigar_op_code(c);
    if (op < 0) {
        walk_.valid = false;
        done_ = true;
        return;
    }
    hxb::add_cigar_op(walk_.spans, static_cast<unsigned>(op), operation_length_);
    operation_length_ = 0;
    digits_pending_ = false;
}

CigarWalk CigarWalker::finish() {
    if (!done_ && digits_pending_)
        walk_.valid = false; // digits without their operation
    return walk_;
}

} // namespace traitmark
