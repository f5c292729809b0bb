// The BAM header and record checks (alignport/bam_checks.h) against what the library does with
// what they accept. The input is one selector byte, then uncompressed BAM bytes:
//   selector even: a BAM stream, the header (read_checked_header over the bytes in memory)
//                  and then records, checked against the header's reference count;
//   selector odd:  records only, against a made-up header of (selector >> 1) % 8 - 1
//                  references (-1: reference numbers unchecked, nothing is formatted).
// Every record the checks accept is handed to the library's formatter and CIGAR walks with its
// data ending right at a page the process cannot read, so a read past the record faults even in
// the library, whose code carries no sanitizer checks; ASan's poisoning guards the front.
#include "bam_checks.h"
#include "fuzzkit.h"

#include <samtools/bam.h>
#include <sanitizer/asan_interface.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

// A fixed arena whose last page is followed by one that is never readable.
class GuardedArena {
public:
    static constexpr std::size_t kSize = std::size_t{1} << 22;
    GuardedArena() {
        page_ = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        void* m = mmap(nullptr, kSize + page_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS,
                       -1, 0);
        if (m == MAP_FAILED)
            fuzzkit::fail("mmap of the guarded arena");
        base_ = static_cast<std::uint8_t*>(m);
        if (mprotect(base_ + kSize, page_, PROT_NONE) != 0)
            fuzzkit::fail("mprotect of the guard page");
    }
    ~GuardedArena() { munmap(base_, kSize + page_); }
    GuardedArena(const GuardedArena&) = delete;
    GuardedArena& operator=(const GuardedArena&) = delete;

    // A copy of size bytes that ends at the guard page; the bytes before it are poisoned until
    // the next place(). Null when the arena is too small.
    std::uint8_t* place(const std::uint8_t* bytes, std::size_t size) {
        if (size > kSize)
            return nullptr;
        ASAN_UNPOISON_MEMORY_REGION(base_, kSize);
        std::uint8_t* at = base_ + kSize - size;
        if (size != 0)
            std::memcpy(at, bytes, size);
        ASAN_POISON_MEMORY_REGION(base_, kSize - size);
        return at;
    }

private:
    std::uint8_t* base_ = nullptr;
    std::size_t page_ = 0;
};

GuardedArena& arena() {
    static GuardedArena a;
    return a;
}

struct HeaderDeleter {
    void operator()(bam_header_t* h) const { bam_header_destroy(h); }
};
using HeaderPtr = std::unique_ptr<bam_header_t, HeaderDeleter>;

// In-memory source for read_checked_header.
struct MemorySource {
    const std::uint8_t* at;
    const std::uint8_t* end;
};

int read_memory(void* source, void* buffer, int length) {
    auto* s = static_cast<MemorySource*>(source);
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(length),
                                                static_cast<std::size_t>(s->end - s->at));
    std::memcpy(buffer, s->at, n);
    s->at += n;
    return static_cast<int>(n);
}

// A header of n references r0, r1, ... of length 1000, allocated as the library frees it.
HeaderPtr made_up_header(std::int32_t n) {
    HeaderPtr h(bam_header_init());
    h->n_targets = n;
    h->target_name =
        static_cast<char**>(std::calloc(static_cast<std::size_t>(n) + 1, sizeof(char*)));
    h->target_len = static_cast<std::uint32_t*>(std::calloc(static_cast<std::size_t>(n) + 1, 4));
    for (std::int32_t k = 0; k < n; ++k) {
        const std::string name = "r" + std::to_string(k);
        h->target_name[k] = static_cast<char*>(std::malloc(name.size() + 1));
        std::memcpy(h->target_name[k], name.c_str(), name.size() + 1);
        h->target_len[k] = 1000;
    }
    return h;
}

// What the reader's header check promises: names terminated within their allocation.
void check_header(const bam_header_t& h) {
    if (h.n_targets < 0 ||
        (h.n_targets > 0 && (h.target_name == nullptr || h.target_len == nullptr)))
        fuzzkit::fail("accepted header without its reference lists");
    for (std::int32_t k = 0; k < h.n_targets; ++k)
        (void)std::strlen(h.target_name[k]); // ASan checks the terminator lies inside
    if (h.text == nullptr || std::strlen(h.text) > h.l_text)
        fuzzkit::fail("accepted header text longer than l_text");
}

// One record: block_size, the 32 fixed bytes, then block_size - 32 bytes of data.
void check_record(const bam1_core_t& core, const std::uint8_t* bytes, std::int32_t size,
                  const bam_header_t* header, std::int32_t n_ref) {
    std::uint8_t* data = arena().place(bytes, static_cast<std::size_t>(size));
    if (data == nullptr)
        return;
    if (!alignport::record_is_valid(core, data, size, n_ref))
        return;
    bam1_t b{};
    b.core = core;
    b.data = data;
    b.data_len = size;
    b.m_data = size;
    b.l_aux = size - 4 * static_cast<std::int32_t>(core.n_cigar) - core.l_qname -
              (core.l_qseq + 1) / 2 - core.l_qseq;
    if (b.l_aux < 0)
        fuzzkit::fail("accepted record whose parts exceed its size");
    // The values do not matter here, only that the walks stay inside the record.
    const std::uint32_t* cigar = bam1_cigar(&b);
    volatile std::uint32_t end = bam_calend(&b.core, cigar);
    volatile std::int32_t query_length = bam_cigar2qlen(&b.core, cigar);
    (void)end;
    (void)query_length;
    if (header != nullptr && n_ref >= 0) {
        char* line = bam_format1(header, &b);
        if (line == nullptr)
            fuzzkit::fail("the library formatted nothing for an accepted record");
        std::free(line);
    }
}

void check_records(const std::uint8_t* at, const std::uint8_t* end, const bam_header_t* header,
                   std::int32_t n_ref) {
    while (end - at >= 4 + 32) {
        std::int32_t block_size;
        std::memcpy(&block_size, at, 4);
        if (block_size < 32 || block_size > end - at - 4)
            return; // the reader stops here with a read error
        bam1_core_t core{};
        alignport::decode_record_core(at + 4, &core);
        check_record(core, at + 4 + 32, block_size - 32, header, n_ref);
        at += 4 + block_size;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t selector = data[0];
    const std::uint8_t* begin = data + 1;
    const std::uint8_t* end = data + size;
    if (selector % 2 == 0) {
        MemorySource source{begin, end};
        HeaderPtr header(alignport::read_checked_header(read_memory, &source));
        if (header == nullptr)
            return 0;
        check_header(*header);
        check_records(source.at, end, header.get(), header->n_targets);
    } else {
        const std::int32_t n_ref = (selector >> 1) % 8 - 1;
        HeaderPtr header = n_ref >= 0 ? made_up_header(n_ref) : nullptr;
        check_records(begin, end, header.get(), n_ref);
    }
    return 0;
}
