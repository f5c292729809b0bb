#include "scan_common.h"

#include "errors.h"
#include "hx.h"

#include <cstdio>
#include <cstring>

namespace flatmark {

namespace {

[[noreturn]] void fail_read(ScanCore& core) {
    char message[96];
    std::snprintf(message, sizeof message, "Cannot read input file at byte %llu.",
                  static_cast<unsigned long long>(core.reader.position()));
    core.files.fail(kIdCannotReadInFile, message);
}

// White space of a formatted string read, and the characters that end a word (white space and
// the zero byte that ends a C string).
struct CharClasses {
    bool space[256] = {};
    bool stop[256] = {};
    constexpr CharClasses() {
        for (unsigned char c : {' ', '\t', '\n', '\r', '\v', '\f'}) {
            space[c] = true;
            stop[c] = true;
        }
        stop[0] = true;
    }
};
constexpr CharClasses kClasses;

inline bool is_space(char c) {
    return kClasses.space[static_cast<unsigned char>(c)];
}
inline bool is_stop(char c) {
    return kClasses.stop[static_cast<unsigned char>(c)];
}

} // namespace

bool next_line_unpolled(ScanCore& core, Line& line) {
    switch (core.reader.read(line)) {
    case ReadStatus::Line:
        return true;
    case ReadStatus::End:
        return false;
    case ReadStatus::Failed:
        break;
    }
    fail_read(core);
}

bool next_line(ScanCore& core, Line& line) {
    if (!next_line_unpolled(core, line))
        return false;
    if (HostInterrupt::HandlePendingInterrupt())
        core.files.fail(kIdInterrupted, kMsgInterrupted);
    return true;
}

void seek_input(ScanCore& core, std::uint64_t position) {
    if (!core.reader.seek(position))
        fail_read(core);
}

std::size_t skip_blanks(const Line& line, std::size_t from) {
    while (from < line.size && line.text[from] == ' ')
        ++from;
    return from;
}

bool is_blank_line(const Line& line) {
    const std::size_t i = skip_blanks(line, 0);
    return i < line.size && (line.text[i] == '\r' || line.text[i] == '\n');
}

std::size_t prefix_end(const Line& line, const std::string& prefix) {
    std::size_t i = skip_blanks(line, 0);
    for (std::size_t k = 0; k < prefix.size(); ++k, ++i) {
        if (i >= line.size)
            return kNoMatch; // the end of a last line without line feed is no match
        if (line.text[i] == '\n')
            return k == 0 ? kNoMatch : i;
        if (line.text[i] != prefix[k])
            return kNoMatch;
    }
    return i;
}

std::size_t content_end(const Line& line) {
    return line.size > 0 && line.text[line.size - 1] == '\n' ? line.size - 1 : line.size;
}

bool read_key(ScanCore& core, const Line& line, std::size_t from, std::size_t blankAt) {
    const char* text = line.text;
    std::size_t begin = from;
    while (begin < line.size && (begin == blankAt || is_space(text[begin])))
        ++begin;
    if (begin >= line.size || text[begin] == '\0')
        return false;
    std::size_t limit = blankAt != kNoMatch && blankAt > begin ? blankAt : line.size;
    if (limit - begin > kKeyBuffer)
        limit = begin + kKeyBuffer; // one character more than a key may hold: too long
    // Copied while scanned; an over-long word is refused before the buffer is used.
    std::size_t end = begin;
    while (end < limit && !is_stop(text[end])) {
        core.key[end - begin] = text[end];
        ++end;
    }
    const std::size_t length = end - begin;
    if (length >= kKeyBuffer) {
        char message[96];
        std::snprintf(message, sizeof message, "Key longer than 255 characters at line %llu.",
                      static_cast<unsigned long long>(core.lines) + 1);
        core.files.fail(kIdKeyTooLong, message);
    }
    core.key[length] = '\0';
    core.keyLength = length;
    return true;
}

void write_key(ScanCore& core) {
    core.key[core.keyLength] = '\n'; // written together, then the terminator is restored
    core.files.append_index(core.key, core.keyLength + 1);
    core.key[core.keyLength] = '\0';
}

std::size_t find_key_start(ScanCore& core, const Line& line) {
    const char delimiter = core.settings.fieldDelimiter;
    std::size_t i = skip_blanks(line, 0);
    for (unsigned field = 0; field < core.settings.keyFieldCount; ++field) {
        for (;; ++i) {
            if (i >= line.size)
                core.files.fail(kIdKeyNotFound, kMsgKeyNotFound);
            if (line.text[i] == delimiter)
                break;
            if (line.text[i] == '\n')
                core.files.fail(kIdKeyNotFound, kMsgKeyNotFound);
        }
        ++i;
        if (delimiter == ' ')
            i = skip_blanks(line, i);
    }
    return i;
}

bool read_data_line_key(ScanCore& core, const Line& line, std::size_t keyStart) {
    std::size_t blankAt = kNoMatch;
    if (core.settings.fieldDelimiter == ',') {
        const std::size_t end = content_end(line);
        if (keyStart < end) {
            const void* comma = std::memchr(line.text + keyStart, ',', end - keyStart);
            if (comma != nullptr)
                blankAt = static_cast<std::size_t>(static_cast<const char*>(comma) - line.text);
        }
    }
    return read_key(core, line, keyStart, blankAt);
}

TableLineKind classify_table_line(const Settings& settings, const Line& line,
                                  bool& headerDetection) {
    if (is_blank_line(line))
        return TableLineKind::Skipped;
    if (!settings.commentPrefix.empty())
        return begins_with(line, settings.commentPrefix) ? TableLineKind::Skipped
                                                         : TableLineKind::Data;
    if (headerDetection) {
        if (begins_with(line, settings.headerPrefix))
            return TableLineKind::Skipped;
        headerDetection = false;
    }
    return TableLineKind::Data;
}

} // namespace flatmark
