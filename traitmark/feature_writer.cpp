#include "feature_writer.h"

namespace traitmark {

FeatureWriter::FeatureWriter(std::FILE* file, unsigned width)
    : file_(file), width_(width), buffer_(new unsigned char[kCapacity]) {}

bool FeatureWriter::drain() {
    if (filled_ == 0)
        return true;
    const std::size_t written = std::fwrite(buffer_.get(), 1, filled_, file_);
    const bool complete = written == filled_;
    filled_ = 0;
    return complete;
}

} // namespace traitmark
