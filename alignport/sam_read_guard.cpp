// The SAM read guard, a link-time component (helixo_sam_read_guard). It intercepts sam_read1:
// the plug-in is linked with --wrap=sam_read1, so samread's call of the library's SAM record
// reader lands in __wrap_sam_read1 below, which checks the record line (sam_line_checks.h) and
// only then lets the library parse it. Why: the library aborts on some malformed lines without
// saying which, and misreads others without complaint; a refused line is instead a read error
// that names the line. The header lines are checked here too, by a scan before the file is
// opened (scan_sam_text), with or without the wrap.
// Where the linker cannot wrap (HELIXO_SAM_READ_WRAP 0): record lines reach the library
// unchecked, and settle_first_sam_read makes the library's first record read skip what ended the
// header, which the wrapper otherwise does itself.
#include "sam_read_guard.h"

#ifndef HELIXO_SAM_READ_WRAP
#define HELIXO_SAM_READ_WRAP 0
#endif

#include <samtools/bam.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if HELIXO_SAM_READ_WRAP
// The plug-in is linked with --wrap=sam_read1: samread's call of the library's SAM record reader
// lands in __wrap_sam_read1 below, which checks the line and only then calls the library.
extern "C" {
int __real_sam_read1(tamFile fp, bam_header_t* header, bam1_t* b);
int __wrap_sam_read1(tamFile fp, bam_header_t* header, bam1_t* b);
}
#endif

namespace alignport {

namespace {

// The library's SAM reader state (bam_import.c and kseq.h of libbam 0.1.19, layouts checked
// against the installed archive): the gzip stream, its read-ahead buffer, the token buffer, the
// count of lines read, and whether the header reader left the first record's QNAME in str.
struct KStream {
    unsigned char* buf; // malloc'ed, freed by the library with free()
    int begin;
    int end;
    int is_eof;
    gzFile f;
};
struct KString {
    std::size_t l;
    std::size_t m;
    char* s;
};
struct TamFileState {
    gzFile fp;
    KStream* ks;
    KString* str;
    std::uint64_t n_lines;
    int is_first;
};

// Bytes the library's tab-separated tokenizer ends a token at (isspace except ' ').
bool is_separator(unsigned char c) {
    return c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

SamLineFailure last_failure;

} // namespace

const SamLineFailure& last_sam_line_failure() {
    return last_failure;
}

void format_sam_line_message(std::uint64_t line, const SamLineProblem& problem, char* out,
                             std::size_t size) {
    if (problem.too_many_cigar_operations)
        std::snprintf(out, size, "SAM line %llu has more than 65535 CIGAR operations.",
                      static_cast<unsigned long long>(line));
    else
        std::snprintf(out, size, "SAM line %llu: %s", static_cast<unsigned long long>(line),
                      problem.reason);
}

bool sam_record_checks_active() {
    return HELIXO_SAM_READ_WRAP != 0;
}

SamTextScan scan_sam_text(const char* name) {
    SamTextScan scan;
    gzFile in = gzopen(name, "rb");
    if (in == nullptr)
        return scan;
    scan.opened = true;
    SamHeaderChecker checker;
    std::string line; // the header line being read
    std::uint64_t line_number = 1;
    enum class State { LineStart, HeaderLine, AfterHeader } state = State::LineStart;
    // A header line is complete: check it without its line feed and CR of a CRLF ending.
    auto check_header_line = [&]() {
        std::size_t n = line.size();
        if (n > 0 && line[n - 1] == '\r')
            --n;
        if (!checker.check_line(line.data(), n, &scan.problem)) {
            scan.header_sound = false;
            scan.line = line_number;
        }
        line.clear();
        ++line_number;
    };
    static constexpr unsigned kChunk = 1 << 16;
    char buf[kChunk];
    int got = 0;
    while (scan.header_sound && !scan.has_records && (got = gzread(in, buf, kChunk)) > 0) {
        const char* p = buf;
        const char* end = buf + got;
        while (p < end && scan.header_sound && !scan.has_records) {
            switch (state) {
            case State::LineStart:
                state = *p == '@' ? State::HeaderLine : State::AfterHeader;
                break;
            case State::HeaderLine: {
                const char* feed = static_cast<const char*>(
                    std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
                line.append(p, feed != nullptr ? feed : end);
                p = feed != nullptr ? feed + 1 : end;
                if (feed != nullptr) {
                    check_header_line();
                    state = State::LineStart;
                }
                break;
            }
            case State::AfterHeader:
                // The library ends the header at the first line not starting with '@'; after it
                // every byte but a separator begins a record, '@' included.
                while (p < end && is_separator(static_cast<unsigned char>(*p)))
                    ++p;
                scan.has_records = p < end;
                break;
            }
        }
    }
    // A last header line without a line feed is a header line too.
    if (got == 0 && state == State::HeaderLine && scan.header_sound)
        check_header_line();
    gzclose(in);
    return scan;
}

} // namespace alignport

#if HELIXO_SAM_READ_WRAP

namespace alignport {

namespace {

// The library reads 16384 bytes at a time into a buffer of that size.
constexpr std::size_t kLibraryBufferBytes = 16384;

// Records the refusal of the line numbered line.
int refuse_line(std::uint64_t line, const SamLineProblem& problem) {
    last_failure.line = line;
    last_failure.problem = problem;
    return kSamLineRefused;
}

int refuse_line(std::uint64_t line, const char* reason) {
    SamLineProblem problem;
    std::snprintf(problem.reason, sizeof problem.reason, "%s", reason);
    return refuse_line(line, problem);
}

// The stream buffer this wrapper put in place of the library's, and its size (the stream itself
// does not know it). Reset when a file's first record is read, so a stale entry is never used.
struct GrownBuffer {
    const KStream* stream = nullptr;
    const unsigned char* buf = nullptr;
    std::size_t capacity = 0;
};
GrownBuffer grown;

std::size_t capacity_of(const KStream* ks) {
    if (grown.stream == ks && grown.buf == ks->buf)
        return grown.capacity;
    return kLibraryBufferBytes;
}

// Largest buffer: the longest line and a read's worth beyond it, within the stream's int offsets.
constexpr std::size_t kMaxBufferBytes = kMaxSamLineBytes + 4 * kLibraryBufferBytes;

enum class Fill { Ok, ReadError, OutOfMemory };

// Replaces the stream's buffer by a larger one holding the same bytes.
Fill grow(KStream* ks, std::size_t capacity) {
    unsigned char* bigger = static_cast<unsigned char*>(std::malloc(capacity));
    if (bigger == nullptr)
        return Fill::OutOfMemory;
    if (ks->end > 0)
        std::memcpy(bigger, ks->buf, static_cast<std::size_t>(ks->end));
    std::free(ks->buf);
    ks->buf = bigger;
    grown = GrownBuffer{ks, bigger, capacity};
    return Fill::Ok;
}

// Buffer the wrapper gives a stream when it starts reading its records: room for a line and a
// whole read of the library's size after it. gzread copies a read smaller than that through a
// buffer of its own; a read at least that large goes straight into ours.
constexpr std::size_t kWorkingBufferBytes = 4 * kLibraryBufferBytes;

// Moves the unread bytes to the front of the buffer and reads more after them, growing the
// buffer (doubling it) while the room after them is less than one read of the library's size.
// Sets is_eof on a short read, as the library does.
Fill read_more(KStream* ks) {
    const std::size_t unread =
        ks->begin < ks->end ? static_cast<std::size_t>(ks->end - ks->begin) : 0;
    if (unread > 0 && ks->begin > 0)
        std::memmove(ks->buf, ks->buf + ks->begin, unread);
    ks->begin = 0;
    ks->end = static_cast<int>(unread);
    std::size_t capacity = capacity_of(ks);
    if (capacity - unread < kLibraryBufferBytes && capacity < kMaxBufferBytes) {
        std::size_t wanted =
            capacity < kWorkingBufferBytes / 2 ? kWorkingBufferBytes : capacity * 2;
        if (wanted > kMaxBufferBytes)
            wanted = kMaxBufferBytes;
        const Fill grew = grow(ks, wanted);
        if (grew != Fill::Ok)
            return grew;
        capacity = wanted;
    }
    const std::size_t room = capacity - unread;
    const int n = gzread(ks->f, ks->buf + unread, static_cast<unsigned>(room));
    if (n < 0)
        return Fill::ReadError;
    if (static_cast<std::size_t>(n) < room)
        ks->is_eof = 1;
    ks->end += n;
    return Fill::Ok;
}

// Puts the first record's QNAME, which the library's header reader left in str with its
// delimiter consumed, back in front of the unread bytes, so the record is read like any other.
Fill push_back_first_token(KStream* ks, const KString* str) {
    const bool has_delimiter = ks->begin >= 1 && ks->begin <= ks->end;
    const unsigned char delimiter = has_delimiter ? ks->buf[ks->begin - 1] : 0;
    const std::size_t unread =
        ks->begin < ks->end ? static_cast<std::size_t>(ks->end - ks->begin) : 0;
    const std::size_t front = str->l + (has_delimiter ? 1 : 0);
    if (front + unread > kMaxBufferBytes)
        return Fill::OutOfMemory;
    if (front + unread > capacity_of(ks)) {
        std::size_t capacity = 2 * kLibraryBufferBytes;
        while (capacity < front + unread)
            capacity *= 2;
        if (capacity > kMaxBufferBytes)
            capacity = kMaxBufferBytes;
        unsigned char* bigger = static_cast<unsigned char*>(std::malloc(capacity));
        if (bigger == nullptr)
            return Fill::OutOfMemory;
        std::memcpy(bigger + front, ks->buf + ks->begin, unread);
        std::free(ks->buf);
        ks->buf = bigger;
        grown = GrownBuffer{ks, bigger, capacity};
    } else {
        std::memmove(ks->buf + front, ks->buf + ks->begin, unread);
    }
    std::memcpy(ks->buf, str->s, str->l);
    if (has_delimiter)
        ks->buf[str->l] = delimiter;
    ks->begin = 0;
    ks->end = static_cast<int>(front + unread);
    return Fill::Ok;
}

int refuse_fill(std::uint64_t line, Fill fill) {
    return refuse_line(line, fill == Fill::ReadError ? "the compressed text cannot be read."
                                                     : "not enough memory for the line.");
}

} // namespace

} // namespace alignport

// Checks the next record line before the library parses it. fp->n_lines counts the line feeds
// consumed so far (the header reader leaves it at the number of header lines; this wrapper keeps
// it so), which gives the line number of the record.
extern "C" int __wrap_sam_read1(tamFile fp, bam_header_t* header, bam1_t* b) {
    using namespace alignport;
    TamFileState* file = reinterpret_cast<TamFileState*>(fp);
    KStream* ks = file->ks;
    std::uint64_t feeds = file->n_lines;
    if (file->is_first) {
        grown = GrownBuffer{};
        file->is_first = 0;
        if (file->str->l > 0) {
            const Fill fill = push_back_first_token(ks, file->str);
            if (fill != Fill::Ok)
                return refuse_fill(feeds + 1, fill);
        } else if (ks->begin >= 1 && ks->begin <= ks->end) {
            // The header ended at an empty token (a blank line, or a line that starts with a
            // separator): give its separator back, to be skipped as between any two records.
            --ks->begin;
        }
        if (capacity_of(ks) < kWorkingBufferBytes) {
            const Fill fill = grow(ks, kWorkingBufferBytes);
            if (fill != Fill::Ok)
                return refuse_fill(feeds + 1, fill);
        }
    }
    // Blank lines and leading separators, skipped as the library skips empty tokens.
    for (;;) {
        if (ks->begin >= ks->end) {
            if (ks->is_eof) {
                file->n_lines = feeds;
                return -1;
            }
            const Fill fill = read_more(ks);
            if (fill != Fill::Ok)
                return refuse_fill(feeds + 1, fill);
            continue;
        }
        const unsigned char c = ks->buf[ks->begin];
        if (!is_separator(c))
            break;
        if (c == '\n')
            ++feeds;
        ++ks->begin;
    }
    file->n_lines = feeds;
    // The whole line, up to its line feed or the end of the file, into the buffer.
    std::size_t searched = 0;
    std::size_t length = 0;
    bool has_feed = false;
    for (;;) {
        const std::size_t unread = static_cast<std::size_t>(ks->end - ks->begin);
        const unsigned char* start = ks->buf + ks->begin;
        const void* feed = std::memchr(start + searched, '\n', unread - searched);
        if (feed != nullptr) {
            length = static_cast<std::size_t>(static_cast<const unsigned char*>(feed) - start);
            has_feed = true;
            break;
        }
        searched = unread;
        if (unread > kMaxSamLineBytes)
            return refuse_line(feeds + 1, "line longer than 1073741824 bytes.");
        if (ks->is_eof) {
            length = unread;
            break;
        }
        const Fill fill = read_more(ks);
        if (fill != Fill::Ok)
            return refuse_fill(feeds + 1, fill);
    }
    const char* text = reinterpret_cast<const char*>(ks->buf + ks->begin);
    const std::size_t checked = length > 0 && text[length - 1] == '\r' ? length - 1 : length;
    SamLineProblem problem;
    if (!check_sam_line(text, checked, &problem))
        return refuse_line(feeds + 1, problem);
    const int result = __real_sam_read1(fp, header, b);
    // A CRLF line ends at its CR for the library; its LF is this line's too.
    if (ks->begin >= 1 && ks->begin < ks->end && ks->buf[ks->begin - 1] == '\r' &&
        ks->buf[ks->begin] == '\n')
        ++ks->begin;
    file->n_lines = feeds + (has_feed ? 1 : 0);
    return result;
}

#endif

namespace alignport {

void settle_first_sam_read(samfile_t* file) {
#if HELIXO_SAM_READ_WRAP
    (void)file; // the wrapper handles the first record itself
#else
    if (file == nullptr || file->type != 2)
        return;
    TamFileState* state = reinterpret_cast<TamFileState*>(file->x.tamr);
    if (state->is_first && state->str->l == 0)
        state->is_first = 0;
#endif
}

} // namespace alignport
