// idxinfo: the header of an index file that flatmark wrote (and traitmark may have extended),
// one "name value" line per field, and on request its offset table copied raw into a file of
// its own, for scripts that hand the entry offsets to traitmark. A file whose header or table
// does not fit the format is refused with the field and its byte position, status 1.
//   idxinfo INDEX [--table FILE]
#include "file_owner.h"
#include "index_format.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

namespace fmt = hxb::index_format;

struct Header {
    std::uint32_t entries = 0;
    std::uint64_t keys_position = 0;
    std::uint64_t table_position = 0;
    bool consecutive = true;
    std::size_t offset_size = 4;
    std::string entry_delimiter;
    std::uint64_t table_values = 0; // N + 1 (consecutive) or 2N (paired)
    std::uint64_t table_end = 0;    // where appended columns begin
};

std::uint64_t unsigned_at(const unsigned char* image, std::size_t at, std::size_t size) {
    std::uint64_t value = 0;
    for (std::size_t i = size; i-- > 0;)
        value = (value << 8) | image[at + i];
    return value;
}

// The bytes in double quotes, printable ASCII as it is and every other byte as \xNN.
std::string quoted(const unsigned char* bytes, std::size_t size) {
    std::string text = "\"";
    for (std::size_t i = 0; i < size; ++i) {
        const unsigned char c = bytes[i];
        if (c == '"' || c == '\\') {
            text += '\\';
            text += static_cast<char>(c);
        } else if (c >= 0x20 && c < 0x7F) {
            text += static_cast<char>(c);
        } else {
            char code[5];
            std::snprintf(code, sizeof code, "\\x%02x", c);
            text += code;
        }
    }
    return text + "\"";
}
std::string quoted(const char* text) {
    return quoted(reinterpret_cast<const unsigned char*>(text), std::strlen(text));
}

std::string number(std::uint64_t value) {
    return std::to_string(value);
}

// Checks the header image of a file of file_size bytes field by field, in file order, then the
// positions it gives against the size. Fills header and returns an empty text, or returns what
// the first field that does not fit is and where.
std::string check_header(const unsigned char* image, std::uint64_t file_size, Header& header) {
    const std::string header_size = number(fmt::kHeaderSize);
    if (file_size < fmt::kHeaderSize)
        return "The file has " + number(file_size) + " bytes, fewer than the " + header_size +
               "-byte header of an index file.";
    if (std::memcmp(image + fmt::kMagicAt, fmt::kMagic, fmt::kMagicSize) != 0)
        return "Magic at byte " + number(fmt::kMagicAt) + " is " +
               quoted(image + fmt::kMagicAt, fmt::kMagicSize) + ", not an index file's " +
               quoted(fmt::kMagic) + ".";
    if (std::memcmp(image + fmt::kVersionAt, fmt::kVersion, fmt::kVersionSize) != 0)
        return "Version at byte " + number(fmt::kVersionAt) + " is " +
               quoted(image + fmt::kVersionAt, fmt::kVersionSize) + "; only " +
               quoted(fmt::kVersion) + " is read.";
    if (image[fmt::kReservedAt] != 0)
        return "Reserved byte at byte " + number(fmt::kReservedAt) + " is " +
               number(image[fmt::kReservedAt]) + ", not 0.";
    const std::uint8_t layout = image[fmt::kLayoutAt];
    if (layout != fmt::kLayoutConsecutive && layout != fmt::kLayoutPaired)
        return "Layout at byte " + number(fmt::kLayoutAt) + " is " + number(layout) + ", neither " +
               number(fmt::kLayoutConsecutive) + " (consecutive) nor " +
               number(fmt::kLayoutPaired) + " (paired).";
    // The delimiter is a C text ended by a TAB: its end is the first zero byte.
    const auto* zero = static_cast<const unsigned char*>(
        std::memchr(image + fmt::kDelimiterAt, 0, fmt::kHeaderSize - fmt::kDelimiterAt));
    if (zero == nullptr || zero == image + fmt::kDelimiterAt || zero[-1] != '\t')
        return "Entry delimiter at byte " + number(fmt::kDelimiterAt) +
               " does not end with a TAB and a zero byte within the header.";
    for (const unsigned char* at = zero + 1; at < image + fmt::kHeaderSize; ++at) {
        if (*at != 0)
            return "Header padding at byte " + number(static_cast<std::uint64_t>(at - image)) +
                   " is not zero.";
    }

    header.entries =
        static_cast<std::uint32_t>(unsigned_at(image, fmt::kEntriesAt, fmt::kEntriesSize));
    header.keys_position = unsigned_at(image, fmt::kKeysPositionAt, fmt::kPositionSize);
    header.table_position = unsigned_at(image, fmt::kTablePositionAt, fmt::kPositionSize);
    header.consecutive = layout == fmt::kLayoutConsecutive;
    header.offset_size = fmt::offset_size(image[fmt::kWidthAt]);
    header.entry_delimiter.assign(reinterpret_cast<const char*>(image + fmt::kDelimiterAt),
                                  reinterpret_cast<const char*>(zero - 1));
    const std::string table_at = "Offset table position at byte " + number(fmt::kTablePositionAt) +
                                 " is " + number(header.table_position);
    if (header.keys_position != 0 && header.keys_position != fmt::kHeaderSize)
        return "Keys position at byte " + number(fmt::kKeysPositionAt) + " is " +
               number(header.keys_position) + "; it is " + header_size +
               " with keys and 0 without.";
    if (header.keys_position == 0 && header.table_position != fmt::kHeaderSize)
        return table_at + "; without keys the table begins at byte " + header_size + ".";
    if (header.table_position < fmt::kHeaderSize)
        return table_at + ", inside the " + header_size + "-byte header.";
    if (header.table_position > file_size)
        return table_at + ", past the end of the file (" + number(file_size) + " bytes).";
    header.table_values =
        header.consecutive ? std::uint64_t{header.entries} + 1 : std::uint64_t{header.entries} * 2;
    // No overflow: the position is at most the file size, the table under 2^36 bytes.
    header.table_end = header.table_position + header.table_values * header.offset_size;
    if (header.table_end > file_size)
        return "Offset table at byte " + number(header.table_position) + " with " +
               number(header.table_values) + " offsets of " + number(header.offset_size) +
               " bytes (entry count " + number(header.entries) + " at byte " +
               number(fmt::kEntriesAt) + ") runs past the end of the file (" + number(file_size) +
               " bytes).";
    return "";
}

void print_header(const unsigned char* image, const Header& header, std::uint64_t file_size) {
    const auto line = [](const char* name, const std::string& value) {
        std::printf("%s %s\n", name, value.c_str());
    };
    line("magic", quoted(image + fmt::kMagicAt, fmt::kMagicSize));
    line("version", quoted(image + fmt::kVersionAt, fmt::kVersionSize));
    line("entries", number(header.entries));
    line("keys_position", number(header.keys_position));
    line("table_position", number(header.table_position));
    line("layout", header.consecutive ? "consecutive" : "paired");
    line("offset_size", number(header.offset_size));
    line("entry_delimiter",
         quoted(reinterpret_cast<const unsigned char*>(header.entry_delimiter.data()),
                header.entry_delimiter.size()));
    line("table_end", number(header.table_end));
    line("file_size", number(file_size));
}

// Copies the offset table of the index file at path to a new file at out_path, through one
// buffer. Returns an empty text or what failed, starting with the file it failed on.
std::string copy_table(std::FILE* index, const std::string& path, const Header& header,
                       const std::string& out_path) {
    if (fseeko(index, static_cast<off_t>(header.table_position), SEEK_SET) != 0)
        return path + ": cannot seek to the offset table: " + std::strerror(errno);
    hxb::FilePtr out(std::fopen(out_path.c_str(), "wb"));
    if (!out)
        return out_path + ": cannot open for writing: " + std::strerror(errno);
    std::vector<unsigned char> buffer(1 << 16);
    std::uint64_t left = header.table_end - header.table_position;
    while (left > 0) {
        const std::size_t chunk =
            left < buffer.size() ? static_cast<std::size_t>(left) : buffer.size();
        if (std::fread(buffer.data(), 1, chunk, index) != chunk)
            return path + ": cannot read the offset table";
        if (std::fwrite(buffer.data(), 1, chunk, out.get()) != chunk)
            return out_path + ": cannot write: " + std::strerror(errno);
        left -= chunk;
    }
    if (!hxb::close_file(out))
        return out_path + ": cannot write: " + std::strerror(errno);
    return "";
}

int refuse(const std::string& message) {
    std::fprintf(stderr, "idxinfo: %s\n", message.c_str());
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    std::string path;
    std::string table_path;
    bool usable = true;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        if (arg == "--table" && k + 1 < argc && table_path.empty())
            table_path = argv[++k];
        else if (!arg.empty() && arg[0] != '-' && path.empty())
            path = arg;
        else
            usable = false;
    }
    if (!usable || path.empty()) {
        std::fprintf(stderr, "usage: idxinfo INDEX [--table FILE]\n");
        return 2;
    }

    hxb::FilePtr index(std::fopen(path.c_str(), "rb"));
    struct stat status {};
    if (!index || fstat(fileno(index.get()), &status) != 0)
        return refuse(path + ": cannot open: " + std::strerror(errno));
    const auto file_size = static_cast<std::uint64_t>(status.st_size);
    unsigned char image[fmt::kHeaderSize] = {};
    const std::size_t got = std::fread(image, 1, sizeof image, index.get());
    if (got < sizeof image && got < file_size)
        return refuse(path + ": cannot read the header");

    Header header;
    const std::string problem = check_header(image, file_size, header);
    if (!problem.empty())
        return refuse(path + ": " + problem);
    if (!table_path.empty()) {
        const std::string failure = copy_table(index.get(), path, header, table_path);
        if (!failure.empty())
            return refuse(failure);
    }
    print_header(image, header, file_size);
    return std::fflush(stdout) == 0 ? 0 : 1;
}
