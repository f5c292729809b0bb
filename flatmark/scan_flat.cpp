// "flat": entries are the content lines between lines that begin with the entry delimiter. A
// delimiter line may carry the start of the next entry after the delimiter; the key of an
// entry is the first word after the key token (or the entry's first word without a token).
#include "scanners.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace flatmark {

namespace {

enum class EntryState {
    Pending, // the next content line starts an entry
    Open,    // content lines extend the current entry
};

enum class KeySearch {
    Token, // the key token has not been met in this entry
    Word,  // the token ended an earlier line; the key is the next line's first word
    Found, // the key buffer holds this entry's key
};

// Skips blank and header-prefixed lines at the top of the file, without polling or counting
// them, and leaves the input at the first other line. Returns its position.
std::uint64_t skip_header(ScanCore& core) {
    const std::string& prefix = core.settings.header_prefix;
    std::uint64_t first_content = 0;
    if (prefix.empty())
        return first_content;
    Line line;
    while (next_line_unpolled(core, line)) {
        bool content = false;
        with_line_access(core, line, [&](const auto& text) {
            content = !is_blank_line(text) && !begins_with(text, prefix);
        });
        if (content) {
            seek_input(core, first_content);
            break;
        }
        first_content = line_after(core, line);
    }
    return first_content;
}

// Where token first occurs in the line, or kNoMatch.
std::size_t find_token(const WholeLine& text, const std::string& token) {
    const std::size_t at = std::string_view(text.line.text, text.line.size).find(token);
    return at == std::string_view::npos ? kNoMatch : at;
}
// A long line is searched window by window; each window keeps the token's length less one of
// the window before.
std::size_t find_token(const LongLine& text, const std::string& token) {
    const Line& line = text.line;
    if (line.base > 0) {
        // A match may begin among the leading spaces the window has moved past (all of
        // [0, base)) when the token begins with spaces: the earliest such match first.
        const std::size_t spaces = std::min(token.find_first_not_of(' '), token.size());
        for (std::size_t j = std::min(spaces, line.base); j > 0; --j) {
            const std::size_t rest = token.size() - j;
            if (rest == 0 || (text.has(line.base + rest - 1) &&
                              std::memcmp(line.text, token.data() + j, rest) == 0))
                return line.base - j;
        }
    }
    std::size_t from = line.base;
    for (;;) {
        const std::size_t at = std::string_view(line.text, line.size).find(token, from - line.base);
        if (at != std::string_view::npos)
            return line.base + at;
        const std::size_t window_end = line.base + line.size;
        if (!text.has(window_end))
            return kNoMatch;
        if (window_end >= token.size())
            from = std::max(from, window_end - token.size() + 1);
    }
}

template <class Text> void look_for_key(const Text& text, KeySearch& search) {
    std::size_t anchor = 0;
    if (search == KeySearch::Token) {
        const std::string& token = text.core.settings.key_token;
        if (!token.empty()) {
            const std::size_t at = find_token(text, token);
            if (at == kNoMatch)
                return;
            anchor = at + token.size();
        }
        search = KeySearch::Word;
    }
    if (read_key(text, skip_blanks(text, anchor)))
        search = KeySearch::Found;
}

template <class Offset>
void close_entry(ScanCore& core, OffsetTable<Offset>& table, std::uint64_t start, std::uint64_t end,
                 KeySearch search) {
    table.add_start(start);
    table.add_end(end);
    if (core.settings.write_keys) {
        if (search != KeySearch::Found)
            core.files.fail(Error::KeyNotFound);
        write_key(core);
    }
}

} // namespace

template <class Offset> void scan_flat(ScanCore& core, OffsetTable<Offset>& table) {
    const Settings& settings = core.settings;
    std::uint64_t next = skip_header(core); // where the next line starts
    std::uint64_t start = 0;                // where the current entry starts
    std::uint64_t end = 0;                  // after the entry's last content line
    EntryState state = EntryState::Pending;
    KeySearch search = KeySearch::Token;
    Line line;
    while (next_line(core, line)) {
        with_line_access(core, line, [&](const auto& text) {
            const std::size_t after_delimiter = prefix_end(text, settings.entry_delimiter);
            if (after_delimiter != kNoMatch) {
                const std::size_t rest = skip_blanks(text, after_delimiter);
                state = EntryState::Pending;
                if (!text.has(rest) || text.at(rest) == '\r' || text.at(rest) == '\n') {
                    ++core.lines;
                    next = text.after();
                } else {
                    // The text after the delimiter is read next as a line of its own (and
                    // counted then); the delimiter part is not counted.
                    next = line.start + rest;
                    seek_input(core, next);
                }
                return;
            }
            if (state == EntryState::Pending) {
                if (core.entries > 0)
                    close_entry(core, table, start, end, search);
                count_entry(core, next);
                start = next;
                search = KeySearch::Token;
                state = EntryState::Open;
            }
            if (settings.write_keys && search != KeySearch::Found)
                look_for_key(text, search);
            ++core.lines;
            end = next = text.after();
        });
    }
    if (core.entries > 0) {
        close_entry(core, table, start, end, search);
        table.add_start(end);
    } else {
        table.add_start(0);
    }
}

FLATMARK_INSTANTIATE_SCANNER(scan_flat)

} // namespace flatmark
