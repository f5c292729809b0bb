#include "bam_checks.h"

#include "cigar_ops.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace alignport {

namespace {

std::uint32_t load_u32(const std::uint8_t* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v); // BAM is little-endian, as every platform the plug-in runs on
    return v;
}

// What follows the type code of an optional field: a value of 1 to 8 bytes, a zero-terminated
// text (Z, H), an array (B), or nothing known (0). One table load a field keeps the walk short.
constexpr signed char kText = -1;
constexpr signed char kArray = -2;

struct AuxKinds {
    signed char of[256];
    constexpr AuxKinds() : of() {
        of['A'] = of['c'] = of['C'] = 1;
        of['s'] = of['S'] = 2;
        of['i'] = of['I'] = of['f'] = 4;
        of['d'] = 8;
        of['Z'] = of['H'] = kText;
        of['B'] = kArray;
    }
};
constexpr AuxKinds kAuxKinds;

// Bytes of one element of an array of this subtype; 0 for a subtype arrays cannot have.
int array_element_size(std::uint8_t subtype) {
    const int size = kAuxKinds.of[subtype];
    return subtype == 'A' || subtype == 'd' || size < 0 ? 0 : size;
}

// The optional fields in data[at, end): each a two-byte tag, a type and a value of that type.
bool aux_fields_are_valid(const std::uint8_t* data, std::int64_t at, std::int64_t end) {
    const std::uint8_t* p = data + at;
    const std::uint8_t* const stop = data + end;
    while (p < stop) {
        if (stop - p < 3)
            return false;
        const int kind = kAuxKinds.of[p[2]];
        p += 3;
        if (kind > 0) {
            if (stop - p < kind)
                return false;
            p += kind;
        } else if (kind == kText) {
            const void* zero = std::memchr(p, 0, static_cast<std::size_t>(stop - p));
            if (zero == nullptr)
                return false;
            p = static_cast<const std::uint8_t*>(zero) + 1;
        } else if (kind == kArray) {
            if (stop - p < 5)
                return false;
            const int element_size = array_element_size(p[0]);
            const std::uint64_t bytes =
                std::uint64_t{load_u32(p + 1)} * static_cast<std::uint64_t>(element_size);
            if (element_size == 0 || bytes > static_cast<std::uint64_t>(stop - p - 5))
                return false;
            p += 5 + bytes;
        } else {
            return false;
        }
    }
    return true;
}

// -1 .. n_ref - 1 in one unsigned comparison.
bool reference_is_valid(std::int32_t tid, std::uint32_t reference_limit) {
    return static_cast<std::uint32_t>(tid) + 1u <= reference_limit;
}

} // namespace

void decode_record_core(const std::uint8_t fixed[32], bam1_core_t* core) {
    static_assert(sizeof(bam1_core_t) == 32, "the fixed part of a record is 32 bytes");
    std::uint32_t x[8];
    std::memcpy(x, fixed, sizeof x);
    core->tid = static_cast<std::int32_t>(x[0]);
    core->pos = static_cast<std::int32_t>(x[1]);
    core->bin = x[2] >> 16;
    core->qual = x[2] >> 8 & 0xff;
    core->l_qname = x[2] & 0xff;
    core->flag = x[3] >> 16;
    core->n_cigar = x[3] & 0xffff;
    core->l_qseq = static_cast<std::int32_t>(x[4]);
    core->mtid = static_cast<std::int32_t>(x[5]);
    core->mpos = static_cast<std::int32_t>(x[6]);
    core->isize = static_cast<std::int32_t>(x[7]);
}

bool record_is_valid(const bam1_core_t& core, const std::uint8_t* data, std::int64_t size,
                     std::int32_t n_ref) {
    const std::uint32_t reference_limit =
        n_ref < 0 ? 0x80000000u : static_cast<std::uint32_t>(n_ref);
    if (size < 0 || core.l_qname < 1 || core.l_qseq < 0 || core.pos < -1 ||
        !reference_is_valid(core.tid, reference_limit) ||
        !reference_is_valid(core.mtid, reference_limit))
        return false;
    const std::int64_t cigar_end = static_cast<std::int64_t>(core.l_qname) + 4 * core.n_cigar;
    const std::int64_t aux_begin =
        cigar_end + (static_cast<std::int64_t>(core.l_qseq) + 1) / 2 + core.l_qseq;
    if (aux_begin > size || data[core.l_qname - 1] != 0)
        return false;
    hxb::CigarSpans spans;
    for (std::int64_t at = core.l_qname; at < cigar_end; at += 4) {
        const std::uint32_t word = load_u32(data + at);
        const std::uint32_t op = word & BAM_CIGAR_MASK;
        if (op >= hxb::kCigarOpCount)
            return false;
        hxb::add_cigar_op(spans, op, word >> BAM_CIGAR_SHIFT);
    }
    // A mapped record's CIGAR describes every base of its sequence (when it has one).
    if (core.n_cigar > 0 && core.l_qseq > 0 && (core.flag & BAM_FUNMAP) == 0 &&
        spans.query != static_cast<std::uint64_t>(core.l_qseq))
        return false;
    return aux_fields_are_valid(data, aux_begin, size);
}

namespace {

bool read_exact(ReadBytes read, void* source, void* buffer, int length) {
    return read(source, buffer, length) == length;
}

bool read_i32(ReadBytes read, void* source, std::int32_t* value) {
    std::uint8_t bytes[4];
    if (!read_exact(read, source, bytes, 4))
        return false;
    *value = static_cast<std::int32_t>(load_u32(bytes));
    return true;
}

// Reads length bytes into a new malloc'ed buffer with a zero after them, growing it as the
// bytes arrive, so a length the data does not hold fails after reading what is there.
char* read_terminated(ReadBytes read, void* source, std::int64_t length) {
    constexpr std::int64_t kStep = std::int64_t(1) << 20;
    std::int64_t capacity = length < kStep ? length : kStep;
    char* buffer = static_cast<char*>(std::malloc(static_cast<std::size_t>(capacity) + 1));
    if (buffer == nullptr)
        throw std::bad_alloc();
    std::int64_t filled = 0;
    while (filled < length) {
        if (filled == capacity) {
            capacity = length - capacity < capacity ? length : 2 * capacity;
            char* grown =
                static_cast<char*>(std::realloc(buffer, static_cast<std::size_t>(capacity) + 1));
            if (grown == nullptr) {
                std::free(buffer);
                throw std::bad_alloc();
            }
            buffer = grown;
        }
        const int part = static_cast<int>(capacity - filled);
        if (!read_exact(read, source, buffer + filled, part)) {
            std::free(buffer);
            return nullptr;
        }
        filled += part;
    }
    buffer[length] = '\0';
    return buffer;
}

// Header text up to its first zero byte (zeros after it are padding) is made of lines that
// each begin with '@': no blank line, no record text in the header.
bool header_text_is_valid(const char* text, std::size_t length) {
    char last = '\n';
    for (std::size_t k = 0; k < length && text[k] != '\0'; ++k) {
        if (last == '\n' && text[k] != '@')
            return false;
        last = text[k];
    }
    return true;
}

struct HeaderOwner {
    bam_header_t* header;
    ~HeaderOwner() {
        if (header != nullptr)
            bam_header_destroy(header);
    }
    bam_header_t* release() {
        bam_header_t* h = header;
        header = nullptr;
        return h;
    }
};

// Makes room for one more reference in the header's name and length lists (both malloc'ed, as
// bam_header_destroy frees them); capacity doubles.
void grow_references(bam_header_t* h, std::int32_t* capacity) {
    if (h->n_targets < *capacity)
        return;
    const std::int32_t wanted = *capacity == 0 ? 16 : *capacity * 2;
    auto* names = static_cast<char**>(std::realloc(h->target_name, sizeof(char*) * wanted));
    if (names == nullptr)
        throw std::bad_alloc();
    h->target_name = names;
    auto* lengths = static_cast<std::uint32_t*>(std::realloc(h->target_len, 4u * wanted));
    if (lengths == nullptr)
        throw std::bad_alloc();
    h->target_len = lengths;
    *capacity = wanted;
}

} // namespace

bam_header_t* read_checked_header(ReadBytes read, void* source) {
    char magic[4];
    if (!read_exact(read, source, magic, 4) || std::memcmp(magic, "BAM\1", 4) != 0)
        return nullptr;
    std::int32_t text_length = 0;
    if (!read_i32(read, source, &text_length) || text_length < 0)
        return nullptr;
    HeaderOwner owner{bam_header_init()};
    if (owner.header == nullptr)
        throw std::bad_alloc();
    bam_header_t* h = owner.header;
    h->text = read_terminated(read, source, text_length);
    if (h->text == nullptr)
        return nullptr;
    h->l_text = static_cast<std::uint32_t>(text_length);
    if (!header_text_is_valid(h->text, h->l_text))
        return nullptr;
    std::int32_t n_ref = 0;
    if (!read_i32(read, source, &n_ref) || n_ref < 0)
        return nullptr;
    std::int32_t capacity = 0;
    for (std::int32_t r = 0; r < n_ref; ++r) {
        std::int32_t name_length = 0;
        if (!read_i32(read, source, &name_length) || name_length < 1)
            return nullptr;
        grow_references(h, &capacity);
        char* name = read_terminated(read, source, name_length);
        if (name == nullptr)
            return nullptr;
        h->target_name[h->n_targets] = name;
        std::int32_t length = 0;
        h->target_len[h->n_targets] = 0;
        ++h->n_targets; // from here the header owns the name
        if (!read_i32(read, source, &length))
            return nullptr;
        h->target_len[h->n_targets - 1] = static_cast<std::uint32_t>(length);
    }
    return owner.release();
}

} // namespace alignport
