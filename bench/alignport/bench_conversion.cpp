// sam2bam, bam2bam, bamsort and indexbamfile against bare programs making the same library
// calls on the same files, with samtools 1.16 doing the same jobs for context.
//
//   bench_conversion [RECORDS] [FOLDER] [ROUNDS] [JOBS]
//
// Writes a seeded SAM text of RECORDS records (default 4,000,000) in random order over four
// references in FOLDER (default, or when empty: a new folder under TMPDIR, removed afterwards).
// Every run is a child process: the parent measures its wall time and its peak resident memory.
// Contenders alternate, first one then the other leading, for ROUNDS rounds (default 3); the best
// time of each is kept. JOBS, a comma-separated list of job names, runs those only (the inputs a
// job needs are made all the same). One line per job:
//   job=NAME records=N bare_s=.. service_s=.. ratio=.. bare_rss_kb=.. service_rss_kb=..
//   samtools_s=..
#include "hxhost.h"

#include <samtools/bam.h>
#include <samtools/sam.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

extern "C" {
int bam_index_build2(const char* fn, const char* _fnidx);
int bam_sort_core_ext(int is_by_qname, const char* fn, const char* prefix, std::size_t max_mem,
                      int is_stdout, int n_threads, int level, int full_path);
}

namespace {

constexpr int kReferences = 4;
constexpr int kReferenceLength = 50000000;
constexpr int kReadLength = 100;

struct Run {
    double seconds;
    long max_rss_kb;
};

// Runs job in a child process; its exit status must be 0.
Run in_child(const std::function<int()>& job) {
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0)
        _exit(job());
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "a benchmark run failed (status %d)\n", status);
        std::exit(1);
    }
    return {seconds, usage.ru_maxrss};
}

void write_sam(const std::string& path, long records) {
    std::FILE* out = std::fopen(path.c_str(), "w");
    std::fprintf(out, "@HD\tVN:1.0\tSO:unsorted\n");
    for (int r = 0; r < kReferences; ++r)
        std::fprintf(out, "@SQ\tSN:chr%d\tLN:%d\n", r + 1, kReferenceLength);
    std::mt19937_64 rng(20261208);
    char seq[kReadLength + 1];
    char qual[kReadLength + 1];
    seq[kReadLength] = qual[kReadLength] = '\0';
    for (long k = 0; k < records; ++k) {
        for (int i = 0; i < kReadLength; ++i) {
            const std::uint64_t v = rng();
            seq[i] = "ACGT"[v & 3];
            qual[i] = static_cast<char>('#' + (v >> 2) % 38);
        }
        const int clip = static_cast<int>(rng() % 3);
        char cigar[16];
        if (clip != 0)
            std::snprintf(cigar, sizeof cigar, "%dS%dM", clip, kReadLength - clip);
        else
            std::snprintf(cigar, sizeof cigar, "%dM", kReadLength);
        std::fprintf(out, "read%ld\t%d\tchr%d\t%d\t%d\t%s\t*\t0\t0\t%s\t%s\tNM:i:%d\n", k,
                     (rng() & 1) ? 16 : 0, static_cast<int>(1 + rng() % kReferences),
                     static_cast<int>(1 + rng() % (kReferenceLength - 2 * kReadLength)),
                     static_cast<int>(rng() % 61), cigar, seq, qual, static_cast<int>(rng() % 5));
    }
    std::fclose(out);
}

// The bare programs: the library calls the services make, and nothing else.
int bare_copy(const char* in, const char* in_mode, const char* out, const char* out_mode) {
    samfile_t* input = samopen(in, in_mode, nullptr);
    samfile_t* output = samopen(out, out_mode, input->header);
    bam1_t* b = bam_init1();
    while (samread(input, b) >= 0)
        samwrite(output, b);
    bam_destroy1(b);
    samclose(output);
    samclose(input);
    return 0;
}

int bare_fastq(const char* in, const char* out) {
    static const char kLetters[] = "=ACMGRSVTWYHKDBN";
    samfile_t* input = samopen(in, "rb", nullptr);
    std::FILE* output = std::fopen(out, "w");
    bam1_t* b = bam_init1();
    char seq[4096], qual[4096];
    while (samread(input, b) >= 0) {
        const int n = b->core.l_qseq;
        const std::uint8_t* s = bam1_seq(b);
        const std::uint8_t* q = bam1_qual(b);
        for (int k = 0; k < n; ++k) {
            seq[k] = kLetters[bam1_seqi(s, k)];
            qual[k] = static_cast<char>(q[k] + 33);
        }
        seq[n] = qual[n] = '\0';
        std::fprintf(output, "@%s\n%s\n+\n%s\n", bam1_qname(b), seq, qual);
    }
    bam_destroy1(b);
    std::fclose(output);
    samclose(input);
    return 0;
}

int service(const std::string& plugin, const std::vector<std::string>& texts,
            bool empty_selection = false) {
    hxhost::Plugin p(plugin);
    std::vector<hxhost::ArrayPtr> owned;
    std::vector<const haArray*> in;
    for (const std::string& t : texts) {
        owned.push_back(hxhost::make_text(t));
        in.push_back(owned.back().get());
    }
    if (empty_selection) {
        owned.push_back(hxhost::make_array(haUINT32_CLASS, {0, 0}));
        in.push_back(owned.back().get());
    }
    const hxhost::CallResult r = p.call(0, in);
    if (!r.ok)
        std::fprintf(stderr, "%s: %s\n", r.identifier.c_str(), r.message.c_str());
    return r.ok ? 0 : 1;
}

double timed_command(const std::string& command) {
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system((command + " 2>/dev/null").c_str()) != 0)
        std::fprintf(stderr, "samtools failed: %s\n", command.c_str());
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

std::string selected_jobs; // empty: every job

// The outputs of the jobs are removed before every timed run: truncating a large existing file
// costs the kernel time that would otherwise be charged to whichever contender runs second.
void remove_outputs(const std::vector<std::string>& outputs) {
    for (const std::string& path : outputs)
        std::remove(path.c_str());
}

void compare(const char* job, long records, int rounds, const std::vector<std::string>& outputs,
             const std::function<int()>& bare, const std::function<int()>& svc,
             const std::string& samtools) {
    if (!selected_jobs.empty() &&
        ("," + selected_jobs + ",").find(std::string(",") + job + ",") == std::string::npos) {
        svc(); // later jobs may need what this one writes
        return;
    }
    Run best_bare{1e30, 0}, best_service{1e30, 0};
    // The contender that runs second meets the write-back of the first one's output: swap the
    // order every round.
    for (int k = 0; k < rounds; ++k) {
        Run b{}, s{};
        for (int turn = 0; turn < 2; ++turn) {
            remove_outputs(outputs);
            if ((turn == 0) == (k % 2 == 0))
                b = in_child(bare);
            else
                s = in_child(svc);
        }
        if (b.seconds < best_bare.seconds)
            best_bare = b;
        if (s.seconds < best_service.seconds)
            best_service = s;
    }
    const double samtools_seconds = samtools.empty() ? 0.0 : timed_command(samtools);
    std::printf("job=%s records=%ld bare_s=%.3f service_s=%.3f ratio=%.3f bare_rss_kb=%ld "
                "service_rss_kb=%ld samtools_s=%.3f\n",
                job, records, best_bare.seconds, best_service.seconds,
                best_service.seconds / best_bare.seconds, best_bare.max_rss_kb,
                best_service.max_rss_kb, samtools_seconds);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    const long records = argc > 1 ? std::atol(argv[1]) : 4000000;
    const bool own_folder = argc <= 2 || argv[2][0] == '\0';
    std::string folder;
    if (own_folder) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/bench_conv.XXXXXX";
        folder = mkdtemp(&pattern[0]) != nullptr ? pattern : "/tmp";
    } else {
        folder = argv[2];
    }
    const int rounds = argc > 3 ? std::atoi(argv[3]) : 3;
    if (argc > 4)
        selected_jobs = argv[4];
    const std::string plugin =
        std::filesystem::path(argv[0]).parent_path().string() + "/alignport.so";
    const std::string sam = folder + "/in.sam", bam = folder + "/in.bam", out = folder + "/out";
    const std::string sorted_prefix = folder + "/sorted", sorted = sorted_prefix + ".bam";
    const std::string q = "'";

    write_sam(sam, records);
    compare(
        "sam2bam", records, rounds, {bam},
        [&] { return bare_copy(sam.c_str(), "r", bam.c_str(), "wb"); },
        [&] {
            return service(plugin, {"sam2bam", sam, bam});
        },
        "samtools view -b -o " + q + out + ".st.bam" + q + " " + q + sam + q);
    compare(
        "bam2bam_bam", records, rounds, {out + ".bam"},
        [&] { return bare_copy(bam.c_str(), "rb", (out + ".bam").c_str(), "wb"); },
        [&] {
            return service(plugin, {"bam2bam", bam, "bam", out + ".bam", "bam"}, true);
        },
        "samtools view -b -o " + q + out + ".st.bam" + q + " " + q + bam + q);
    compare(
        "bam2bam_sam", records, rounds, {out + ".sam"},
        [&] { return bare_copy(bam.c_str(), "rb", (out + ".sam").c_str(), "w"); },
        [&] {
            return service(plugin, {"bam2bam", bam, "bam", out + ".sam", "sam"}, true);
        },
        "samtools view -o " + q + out + ".st.sam" + q + " " + q + bam + q);
    compare(
        "bam2bam_fastq", records, rounds, {out + ".fq"},
        [&] { return bare_fastq(bam.c_str(), (out + ".fq").c_str()); },
        [&] {
            return service(plugin, {"bam2bam", bam, "bam", out + ".fq", "fastq"}, true);
        },
        "samtools fastq -n " + q + bam + q + " > " + q + out + ".st.fq" + q);
    compare(
        "bamsort", records, rounds, {sorted},
        [&] {
            return bam_sort_core_ext(0, bam.c_str(), sorted_prefix.c_str(), 500000000, 0, 0, -1,
                                     0) < 0;
        },
        [&] {
            return service(plugin, {"bamsort", bam, sorted_prefix});
        },
        "samtools sort -m 500M -o " + q + out + ".st.sorted.bam" + q + " " + q + bam + q);
    compare(
        "indexbamfile", records, rounds, {sorted + ".bai"},
        [&] { return bam_index_build2(sorted.c_str(), (sorted + ".bai").c_str()) < 0; },
        [&] {
            return service(plugin, {"indexbamfile", sorted, sorted + ".bai"});
        },
        "samtools index " + q + sorted + q + " " + q + out + ".st.bai" + q);
    if (own_folder)
        std::filesystem::remove_all(folder);
    return 0;
}
