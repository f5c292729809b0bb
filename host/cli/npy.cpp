// The .npy files of hxrun: version 1.0 written for outputs too large for JSON, versions 1 to 3
// read for CLASS@PATH inputs. Data is little-endian, as on every platform the host runs on.
#include "cli.h"

#include <cstdint>
#include <cstring>
#include <fstream>

namespace hxrun {
namespace {

const char kMagic[] = "\x93NUMPY";
constexpr std::size_t kMagicSize = 6;

// dtype of each class without its byte-order character.
const char* dtype_of(haClassID cls) {
    switch (cls) {
    case haDOUBLE_CLASS:
        return "f8";
    case haSINGLE_CLASS:
        return "f4";
    case haLOGICAL_CLASS:
        return "b1";
    case haCHAR_CLASS:
        return "u2";
    case haINT8_CLASS:
        return "i1";
    case haUINT8_CLASS:
        return "u1";
    case haINT16_CLASS:
        return "i2";
    case haUINT16_CLASS:
        return "u2";
    case haINT32_CLASS:
        return "i4";
    case haUINT32_CLASS:
        return "u4";
    case haINT64_CLASS:
        return "i8";
    case haUINT64_CLASS:
        return "u8";
    default:
        return "";
    }
}

// The quoted value that follows 'key': in a header dictionary, or "" when absent.
std::string header_field(const std::string& header, const std::string& key, char open, char close) {
    std::size_t at = header.find("'" + key + "'");
    if (at == std::string::npos)
        return std::string();
    at = header.find(open, at + key.size() + 2);
    if (at == std::string::npos)
        return std::string();
    const std::size_t end = header.find(close, at + 1);
    return end == std::string::npos ? std::string() : header.substr(at + 1, end - at - 1);
}

double element_as_double(const void* data, haClassID cls, std::size_t k) {
    switch (cls) {
    case haDOUBLE_CLASS:
        return static_cast<const double*>(data)[k];
    case haSINGLE_CLASS:
        return static_cast<const float*>(data)[k];
    case haINT8_CLASS:
        return static_cast<const std::int8_t*>(data)[k];
    case haUINT8_CLASS:
        return static_cast<const std::uint8_t*>(data)[k];
    case haINT16_CLASS:
        return static_cast<const std::int16_t*>(data)[k];
    case haUINT16_CLASS:
        return static_cast<const std::uint16_t*>(data)[k];
    case haINT32_CLASS:
        return static_cast<const std::int32_t*>(data)[k];
    case haUINT32_CLASS:
        return static_cast<const std::uint32_t*>(data)[k];
    case haINT64_CLASS:
        return static_cast<double>(static_cast<const std::int64_t*>(data)[k]);
    case haUINT64_CLASS:
        return static_cast<double>(static_cast<const std::uint64_t*>(data)[k]);
    default:
        return 0;
    }
}

} // namespace

hxhost::ArrayPtr read_npy(const std::string& path, haClassID cls) {
    const std::string bytes = read_input_file(path);
    if (bytes.size() < 10 || bytes.compare(0, kMagicSize, kMagic) != 0)
        throw UsageError("'" + path + "' is not a .npy file");
    const auto byte = [&](std::size_t k) {
        return static_cast<std::size_t>(static_cast<unsigned char>(bytes[k]));
    };
    const unsigned major = static_cast<unsigned>(byte(6));
    if (major < 1 || major > 3 || (major > 1 && bytes.size() < 12))
        throw UsageError("'" + path + "' has .npy version " + std::to_string(major) +
                         ", not 1 to 3");
    const std::size_t length_bytes = major == 1 ? 2 : 4;
    std::size_t header_length = 0;
    for (std::size_t k = 0; k < length_bytes; ++k)
        header_length |= byte(8 + k) << (8 * k);
    const std::size_t data_offset = 8 + length_bytes + header_length;
    if (data_offset > bytes.size())
        throw UsageError("'" + path + "' has a truncated .npy header");
    const std::string header = bytes.substr(8 + length_bytes, header_length);

    std::string descr = header_field(header, "descr", '\'', '\'');
    if (!descr.empty() && (descr[0] == '<' || descr[0] == '|' || descr[0] == '='))
        descr.erase(0, 1);
    if (descr != dtype_of(cls))
        throw UsageError("'" + path + "' holds dtype '" +
                         header_field(header, "descr", '\'', '\'') + "', not " +
                         hxhost::class_name(cls));
    if (header.find("'shape'") == std::string::npos)
        throw UsageError("'" + path + "' has no shape in its .npy header");
    std::size_t count = 1;
    const std::string shape = header_field(header, "shape", '(', ')');
    for (std::size_t from = 0; from < shape.size();) {
        std::size_t end = shape.find(',', from);
        if (end == std::string::npos)
            end = shape.size();
        const std::string part = shape.substr(from, end - from);
        if (part.find_first_not_of(" ") != std::string::npos) {
            char* stop = nullptr;
            const unsigned long long d = std::strtoull(part.c_str(), &stop, 10);
            if (stop == part.c_str() || part.find_first_not_of(" 0123456789") != std::string::npos)
                throw UsageError("'" + path + "' has a malformed shape (" + shape + ")");
            if (d != 0 && count > SIZE_MAX / d)
                throw UsageError("'" + path + "' has a shape too large (" + shape + ")");
            count *= static_cast<std::size_t>(d);
        }
        from = end + 1;
    }
    const std::size_t size = hxhost::element_size(cls);
    if ((bytes.size() - data_offset) / size != count || (bytes.size() - data_offset) % size != 0)
        throw UsageError("'" + path + "' holds " + std::to_string(bytes.size() - data_offset) +
                         " data bytes, not the " + std::to_string(count) + " values of its shape");
    hxhost::ArrayPtr a = hxhost::make_from_bytes(cls, bytes.data() + data_offset, count, {});
    if (cls == haLOGICAL_CLASS) {
        auto* data = static_cast<std::uint8_t*>(haGetData(a.get()));
        for (std::size_t k = 0; k < count; ++k)
            data[k] = data[k] != 0;
    }
    return a;
}

void write_npy(const std::string& path, const haArray* array) {
    const haClassID cls = haGetClassID(array);
    const bool complex = haIsComplex(array);
    std::string descr =
        std::string(cls == haLOGICAL_CLASS || hxhost::element_size(cls) == 1 ? "|" : "<") +
        dtype_of(cls);
    if (complex)
        descr = cls == haSINGLE_CLASS ? "<c8" : "<c16";
    std::string header = "{'descr': '" + descr + "', 'fortran_order': True, 'shape': (";
    const std::vector<haSize> dims = hxhost::dims_of(array);
    for (std::size_t k = 0; k < dims.size(); ++k)
        header += (k ? ", " : "") + std::to_string(dims[k]);
    header += "), }";
    // Magic, version, length and header together fill a multiple of 64 bytes, ending in "\n".
    const std::size_t preamble = kMagicSize + 2 + 2;
    header.append(63 - (preamble + header.size()) % 64, ' ');
    header.push_back('\n');

    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(kMagic, kMagicSize);
    const char length_bytes[] = {1, 0, static_cast<char>(header.size() & 0xFF),
                                 static_cast<char>(header.size() >> 8)};
    out.write(length_bytes, sizeof length_bytes);
    out << header;
    const std::size_t count = haGetNumberOfElements(array);
    const void* real = haGetData(array);
    if (!complex) {
        out.write(static_cast<const char*>(real),
                  static_cast<std::streamsize>(count * hxhost::element_size(cls)));
    } else if (cls == haSINGLE_CLASS) {
        const auto* re = static_cast<const float*>(real);
        const auto* im = static_cast<const float*>(hxhost::imag_data(array));
        for (std::size_t k = 0; k < count; ++k) {
            const float pair[2] = {re[k], im[k]};
            out.write(reinterpret_cast<const char*>(pair), sizeof pair);
        }
    } else {
        const void* imag = hxhost::imag_data(array);
        for (std::size_t k = 0; k < count; ++k) {
            const double pair[2] = {element_as_double(real, cls, k),
                                    element_as_double(imag, cls, k)};
            out.write(reinterpret_cast<const char*>(pair), sizeof pair);
        }
    }
    out.close();
    if (!out)
        throw std::runtime_error("cannot write '" + path + "'");
}

} // namespace hxrun
