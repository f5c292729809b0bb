#include "indexkit.h"

#include "index_format.h"

#include <cstring>
#include <stdexcept>

namespace indexkit {

Request& Request::set(int position, std::function<hxhost::ArrayPtr()> make) {
    overrides.emplace_back(position, std::move(make));
    return *this;
}

testkit::Inputs Request::inputs() const {
    testkit::Inputs in =
        testkit::args(type, input, index, wide, consecutive, keys, key_fields, key_token,
                      comment_prefix, header_prefix, field_delimiter, entry_delimiter);
    for (const auto& [k, make] : overrides)
        in.at(static_cast<std::size_t>(k - 1)) = make();
    return in;
}

hxhost::CallResult run(const Request& request, int outCount, const hxhost::CallOptions& options) {
    return testkit::call("flatmark", outCount, request.inputs(), options);
}

double output(const hxhost::CallResult& result, int k) {
    const haArray* a = result.outputs.at(static_cast<std::size_t>(k)).get();
    if (a == nullptr || haGetClassID(a) != haDOUBLE_CLASS || haGetNumberOfElements(a) != 1)
        throw std::runtime_error("output is not a double scalar");
    return *static_cast<const double*>(haGetData(a));
}

namespace {

std::uint64_t get_le(const std::string& bytes, std::size_t at, std::size_t width) {
    if (at + width > bytes.size())
        throw std::runtime_error("index file too short");
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < width; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return value;
}

} // namespace

IndexFile parse_index(const std::string& bytes) {
    using namespace hxb::index_format;
    if (bytes.size() < kHeaderSize)
        throw std::runtime_error("index file shorter than its header");
    IndexFile f;
    f.magic = bytes.substr(kMagicAt, kMagicSize - 1);
    f.magic_byte = static_cast<unsigned char>(bytes[kMagicAt + kMagicSize - 1]);
    f.version = bytes.substr(kVersionAt, kVersionSize);
    f.reserved = static_cast<unsigned char>(bytes[kReservedAt]);
    f.entries = static_cast<std::uint32_t>(get_le(bytes, kEntriesAt, kEntriesSize));
    f.keys_position = get_le(bytes, kKeysPositionAt, kPositionSize);
    f.table_position = get_le(bytes, kTablePositionAt, kPositionSize);
    f.layout = static_cast<unsigned char>(bytes[kLayoutAt]);
    f.width_byte = static_cast<unsigned char>(bytes[kWidthAt]);
    const std::size_t tab = bytes.find('\t', kDelimiterAt);
    if (tab == std::string::npos || tab >= kHeaderSize - 1)
        throw std::runtime_error("no TAB after the entry delimiter");
    f.entry_delimiter = bytes.substr(kDelimiterAt, tab - kDelimiterAt);
    f.zero_after_tab = true;
    for (std::size_t i = tab + 1; i < kHeaderSize; ++i)
        f.zero_after_tab = f.zero_after_tab && bytes[i] == '\0';
    if (f.keys_position != 0) {
        std::size_t at = f.keys_position;
        while (at < f.table_position) {
            const std::size_t lf = bytes.find('\n', at);
            if (lf == std::string::npos || lf >= f.table_position)
                throw std::runtime_error("key line without line feed");
            f.keys.push_back(bytes.substr(at, lf - at));
            at = lf + 1;
        }
    }
    const std::size_t width = offset_size(static_cast<std::uint8_t>(f.width_byte));
    if ((bytes.size() - f.table_position) % width != 0)
        throw std::runtime_error("offset table is not a whole number of offsets");
    for (std::size_t at = f.table_position; at < bytes.size(); at += width)
        f.offsets.push_back(get_le(bytes, at, width));
    return f;
}

IndexFile read_index(const std::string& path) {
    return parse_index(testkit::read_file(path));
}

std::string le32(std::uint32_t value) {
    std::string s;
    for (int i = 0; i < 4; ++i)
        s.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return s;
}

std::string le64(std::uint64_t value) {
    std::string s;
    for (int i = 0; i < 8; ++i)
        s.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    return s;
}

std::vector<std::uint64_t> line_starts(const std::string& text) {
    std::vector<std::uint64_t> starts;
    std::size_t at = 0;
    while (at < text.size()) {
        starts.push_back(at);
        const std::size_t lf = text.find('\n', at);
        if (lf == std::string::npos)
            break;
        at = lf + 1;
    }
    return starts;
}

std::string with_endings(const std::string& lf_text, const std::string& ending,
                         bool final_newline) {
    std::string out;
    for (char c : lf_text) {
        if (c == '\n')
            out += ending;
        else
            out.push_back(c);
    }
    if (!final_newline && !lf_text.empty() && lf_text.back() == '\n')
        out.resize(out.size() - ending.size());
    return out;
}

} // namespace indexkit
