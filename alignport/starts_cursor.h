// What getstartsinref collects during its single walk of a reference. Kept in a header so the
// block buffer can be exercised on its own.
#pragma once

#include "alignment_fields.h"
#include "bam_layer.h"
#include "hx.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace alignport {

// An append-only column in fixed-size blocks: growing it never copies what it holds, so the
// peak memory of a walk is the values plus one block, and copying out is one pass.
template <class T, std::size_t BlockSize = (std::size_t(1) << 16)> class BlockColumn {
public:
    void push(T value) {
        if (filled_ == BlockSize || blocks_.empty()) {
            blocks_.emplace_back(new T[BlockSize]);
            filled_ = 0;
        }
        blocks_.back()[filled_++] = value;
    }
    std::size_t size() const {
        return blocks_.empty() ? 0 : (blocks_.size() - 1) * BlockSize + filled_;
    }
    // Copies every value, in order, to out (room for size() values).
    void copy_to(T* out) const {
        for (std::size_t k = 0; k < blocks_.size(); ++k) {
            const std::size_t n = k + 1 == blocks_.size() ? filled_ : BlockSize;
            std::memcpy(out, blocks_[k].get(), n * sizeof(T));
            out += n;
        }
    }

private:
    std::vector<std::unique_ptr<T[]>> blocks_;
    std::size_t filled_ = 0;
};

// The columns asked for; the start column is always collected (it is output 1).
struct StartsCollector {
    BlockColumn<std::uint32_t> start;
    BlockColumn<std::uint32_t> end;
    BlockColumn<std::uint16_t> flag;
    bool want_end = false;
    bool want_flag = false;
};

// Counts alignments when no output is asked for: adds one to the std::uint32_t it is given.
inline int countalignment(const bam1_t* /*b*/, void* data) {
    ++*static_cast<std::uint32_t*>(data);
    return 0;
}

// Stores the alignment first and polls after, so the alignment in hand is always kept before
// the walk stops.
inline int fetchstarts(const bam1_t* b, void* data) {
    auto& c = *static_cast<StartsCollector*>(data);
    c.start.push(static_cast<std::uint32_t>(b->core.pos) + 1u);
    if (c.want_end)
        c.end.push(last_reference_base(b));
    if (c.want_flag)
        c.flag.push(static_cast<std::uint16_t>(b->core.flag));
    return HostInterrupt::IsInterruptPending() ? -1 : 0;
}

} // namespace alignport
