// Reference names of SAM text numbered by first appearance, as saminfo counts them and traitmark's
// ReferenceIndex feature stores them: "*" is 0, new names get 1 to 255 in the order they first
// appear, and every new name after the 255th gets 255 without being remembered (so the list never
// holds more than 256 names, and memory stays bounded on any file).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace hxb {

class ReferenceNumbering {
public:
    static constexpr std::size_t kMaxNames = 256;

    ReferenceNumbering() : names_{"*"} { numbers_.emplace("*", 0); }

    // The number of name (compared whole, byte by byte), numbering it when new.
    std::uint8_t number_of(const char* name, std::size_t length) {
        // The previous line's name first: lines of one reference usually stand together.
        const std::string& last = names_[last_];
        if (last.size() == length && last.compare(0, length, name, length) == 0)
            return static_cast<std::uint8_t>(last_);
        lookup_.assign(name, length);
        const auto found = numbers_.find(lookup_);
        if (found != numbers_.end()) {
            last_ = found->second;
            return found->second;
        }
        if (names_.size() == kMaxNames)
            return static_cast<std::uint8_t>(kMaxNames - 1);
        const auto number = static_cast<std::uint8_t>(names_.size());
        names_.push_back(lookup_);
        numbers_.emplace(lookup_, number);
        last_ = number;
        return number;
    }

    // The names numbered so far, by number ("*" first).
    const std::vector<std::string>& names() const { return names_; }

private:
    std::vector<std::string> names_;
    std::unordered_map<std::string, std::uint8_t> numbers_;
    std::string lookup_; // reused key, so a known name costs no allocation
    std::size_t last_ = 0;
};

} // namespace hxb
