#include "read_settings.h"

#include "hxutil.h"
#include "index_file.h"

#include <vector>

namespace flatmark {

namespace {

// Reads a long text input through the shared buffer; failure closes both files and raises.
void read_long_text(const haArray* input, std::vector<char>& buffer, IndexFiles& files, Error error,
                    std::string& text) {
    if (!hxb::read_text(input, buffer.data(), buffer.size()))
        files.fail(error);
    text.assign(buffer.data());
}

} // namespace

void read_settings(const haArray* inArgs[], const IndexerType& type, IndexFiles& files,
                   Settings& settings) {
    settings.type = &type;
    settings.width_byte = hxb::read_flag_low8(inArgs[3]);
    settings.consecutive = type.always_consecutive || hxb::read_flag_nonzero(inArgs[4]);
    settings.write_keys = hxb::read_flag_nonzero(inArgs[5]);
    settings.key_field_count = hxb::read_flag_low8(inArgs[6]);

    std::vector<char> buffer(kLongTextBuffer);
    read_long_text(inArgs[7], buffer, files, Error::InvalidKeyToken, settings.key_token);
    read_long_text(inArgs[8], buffer, files, Error::InvalidCommentPrefix, settings.comment_prefix);
    read_long_text(inArgs[9], buffer, files, Error::InvalidHeaderPrefix, settings.header_prefix);

    const haArray* delimiter = inArgs[10];
    if (delimiter == nullptr || !haIsChar(delimiter) || haGetNumberOfElements(delimiter) == 0)
        files.fail(Error::InvalidFieldDelimiter);
    const haChar code = static_cast<const haChar*>(haGetData(delimiter))[0];
    settings.field_delimiter = static_cast<char>(static_cast<unsigned char>(code & 0xFFu));

    read_long_text(inArgs[11], buffer, files, Error::InvalidEntryDelimiter,
                   settings.entry_delimiter);
    // It must fit the header, and "flat" cannot progress without one.
    if (settings.entry_delimiter.size() > kMaxEntryDelimiter ||
        (type.needs_entry_delimiter && settings.entry_delimiter.empty()))
        files.fail(Error::InvalidEntryDelimiter);
}

} // namespace flatmark
