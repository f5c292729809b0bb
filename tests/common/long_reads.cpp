#include "long_reads.h"

#include <algorithm>
#include <random>

namespace longreads {

namespace {

std::string random_bases(std::mt19937& rng, std::size_t n) {
    static const char kBases[] = "ACGT";
    std::string s(n, 'A');
    for (char& c : s)
        c = kBases[rng() % 4];
    return s;
}

std::string reverse_complement(const std::string& s) {
    std::string r(s.rbegin(), s.rend());
    for (char& c : r)
        c = c == 'A' ? 'T' : c == 'C' ? 'G' : c == 'G' ? 'C' : 'A';
    return r;
}

// About 4% substitutions, 2% deletions and 2% insertions, as long-read errors go.
std::string with_errors(std::mt19937& rng, const std::string& s) {
    static const char kBases[] = "ACGT";
    std::string out;
    out.reserve(s.size() + s.size() / 20);
    for (char c : s) {
        const unsigned roll = rng() % 100;
        if (roll < 4)
            out.push_back(kBases[(std::string("ACGT").find(c) + 1 + rng() % 3) % 4]);
        else if (roll < 6)
            continue;
        else if (roll < 8)
            out += std::string(1, kBases[rng() % 4]) + c;
        else
            out.push_back(c);
    }
    return out;
}

std::string quoted(const std::string& s) {
    return "'" + s + "'";
}

} // namespace

Corpus simulate(unsigned seed, const Shape& shape) {
    std::mt19937 rng(seed);
    std::vector<std::string> refs;
    Corpus c;
    for (std::size_t k = 0; k < shape.reference_lengths.size(); ++k) {
        refs.push_back(random_bases(rng, shape.reference_lengths[k]));
        c.reference_fasta +=
            ">chr" + std::string(1, static_cast<char>('A' + k)) + "\n" + refs.back() + "\n";
    }
    int n = 0;
    auto add_read = [&](const std::string& bases) {
        const char quality = static_cast<char>('!' + 5 + n % 30);
        c.names.push_back("read" + std::to_string(n));
        c.bases.push_back(bases);
        c.reads_fastq += "@" + c.names.back() + "\n" + bases + "\n+\n" +
                         std::string(bases.size(), quality) + "\n";
        ++n;
    };
    const std::size_t length_count = shape.read_lengths.size();
    for (int k = 0; k < shape.mapped_reads; ++k) {
        const std::string& ref = refs[static_cast<std::size_t>(k) % refs.size()];
        const std::size_t length = std::min(
            shape.read_lengths[static_cast<std::size_t>(k) % length_count], ref.size() - 1);
        const std::size_t start = rng() % (ref.size() - length);
        std::string read = with_errors(rng, ref.substr(start, length));
        add_read(k % 3 == 1 ? reverse_complement(read) : read);
    }
    // A chimera joining the first two references, and a read that maps nowhere.
    add_read(with_errors(rng, refs[0].substr(5000, 6000)) +
             with_errors(rng, refs[1].substr(40000, 7000)));
    add_read(random_bases(rng, 3000));
    return c;
}

std::string reads_fasta(const Corpus& corpus) {
    std::string out;
    for (std::size_t k = 0; k < corpus.names.size(); ++k)
        out += ">" + corpus.names[k] + "\n" + corpus.bases[k] + "\n";
    return out;
}

bool minimap2_available() {
    int status = 0;
    testkit::run_command("minimap2 --version", &status);
    return status == 0;
}

bool align(const std::string& reference_path, const std::string& reads_path, bool eqx,
           const std::string& sam_path) {
    int status = 0;
    testkit::run_command("minimap2 -t 1 -ax map-ont " + std::string(eqx ? "--eqx " : "") +
                             quoted(reference_path) + " " + quoted(reads_path) + " 2>/dev/null > " +
                             quoted(sam_path),
                         &status);
    return status == 0;
}

} // namespace longreads
