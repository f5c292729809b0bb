// Helpers of the fuzz targets: a temporary folder of the process's own, file bytes, a cursor
// over the fuzz input, and the stop for a broken invariant.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzzkit {

// A folder made on first use under $TMPDIR (or /tmp) for this process alone; it is removed,
// with the files in it, when the process exits normally. Files go straight into it.
const std::string& temp_dir();
std::string temp_file(const std::string& name);

// Writes size bytes to path, replacing the file; stops the run when that fails.
void write_file(const std::string& path, const void* data, std::size_t size);
// The bytes of a file; empty when it cannot be read.
std::string read_file(const std::string& path);

// Reports a broken invariant with what was expected and aborts: libFuzzer then keeps the input
// as a crash, like any other fault.
[[noreturn]] void fail(const std::string& what);

// A cursor over the fuzz input. Reading past the end gives zeros, so every input, however
// short, drives every step of a target.
class Bytes {
public:
    Bytes(const std::uint8_t* data, std::size_t size) : at_(data), end_(data + size) {}
    std::uint8_t byte() { return at_ == end_ ? 0 : *at_++; }
    std::uint32_t u32();
    std::uint64_t u64();
    std::size_t left() const { return static_cast<std::size_t>(end_ - at_); }
    const std::uint8_t* data() const { return at_; }
    // What is left, as text.
    std::string rest() const { return std::string(reinterpret_cast<const char*>(at_), left()); }

private:
    const std::uint8_t* at_;
    const std::uint8_t* end_;
};

} // namespace fuzzkit
