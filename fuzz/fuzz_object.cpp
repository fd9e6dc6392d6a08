// Fuzz target: one object given as bytes is loaded, reported and listed for
// several option sets, exactly as the tool does it, but in-process. Then the
// same bytes are read as a DLL and checked by zel_ldd (with -r, -u and -j),
// as the object and as the DLL of a fixed program object; for that the
// stored checksum is made to hold first, so that the DLL is loaded whole. A run
// that ends through the fatal path (StopRun) is a normal outcome; a crash,
// a sanitizer report or a leak is a finding.
//
// What is bounded, and why. A section that reaches past the end of the file
// reads as zeros there, and the tool's limits for that are generous on
// purpose: up to 65535 records of zeros a section, each made into a symbol
// and printed; domain records with up to 65535 offsets of zeros, each looked
// up; code listed as zero instructions up to 16 MiB past the end of the
// file. A few header fields of that kind made one input take seconds, in
// every run, while the zeros take the same paths over and over. So a section
// that reaches past the end of the input keeps only so many records of zeros
// (beyond those that its bytes in the file could hold), and the code and the
// domains only so many bytes of zeros; code that reaches more than 16 MiB
// past the end keeps its size, as the listing refuses it at once. A bounded
// section still reaches past the end, and the stored checksum moves with the
// header bytes, so the outcome of the checksum and of the trailing blocks
// stays. The bounds differ by run, so that the paths that only large counts
// reach stay covered:
//  - the flag test (which builds no symbols) and the listing read 1024
//    records of zeros, the whole symbol table and 320 KiB of zeros (the
//    limits on errors and on symbol numbers, names that lie far apart, the
//    step at which the listing gives memory back);
//  - the other reports and zel_ldd read 32 records and 16 KiB of zeros
//    (positions of five digits, a listing handed on in several blocks).
// Every input also ends with the memory of its runs freed (release_runs).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "al_stop.h"
#include "al_strm.h"
#include "objwriter.h"
#include "zel.h"
#include "zel_asm.h"
#include "zel_error.h"
#include "zel_ldd.h"
#include "zel_obj.h"
#include "zel_readobj.h"
#include "zel_symtab.h"

namespace {

std::string object_dir;
std::string object_path;
std::string program_path; // a program object that uses object_path as a DLL

// What a section that reaches past the end of the input keeps there:
// records of zeros beyond those that its bytes in the file could hold (a
// record takes at least one byte), bytes of zeros (the code and the
// domains), and perhaps the symbol table's count as given.
struct ZeroBounds {
    uint64_t records;
    uint64_t bytes;
    bool symtab_count_kept;
};
constexpr ZeroBounds narrow{32, 16 << 10, false};
constexpr ZeroBounds wide{1024, 320 << 10, true};

// Option sets that change what is read or printed, with the bounds of the
// object that each reads.
struct OptionSet {
    uint32_t info;
    uint32_t mask;
    ZeroBounds bounds;
};
const OptionSet option_sets[] = {
    {INFO_FLAGS, 3, wide}, // the flag test
    {INFO_ASM | INFO_CHECKSUM, 0, wide},
    {INFO_ALL, 0, narrow},  // the full report
    {INFO_DLLS, 0, narrow}, // USED DLL'S with DLL HINTS
    {INFO_USAGE | INFO_PROTO | INFO_SYMTAB | INFO_FLAGS, 0, narrow},
};

uint32_t get_be(const uint8_t *p, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i)
        v = v << 8 | p[i];
    return v;
}

void put_be(uint8_t *p, uint32_t v, int width) {
    for (int i = width - 1; i >= 0; --i, v >>= 8)
        p[i] = uint8_t(v);
}

uint32_t sum_of(const uint8_t *p, size_t n) {
    uint32_t sum = 0;
    for (size_t i = 0; i < n; ++i)
        sum += p[i];
    return sum;
}

// The object with the zeros of its sections bounded (see the top of the
// file), and its stored checksum moved with the header bytes.
std::string bounded(std::string bytes, const ZeroBounds &bounds) {
    if (bytes.size() < size_t(HEADER_SIZE)) return bytes;
    auto *header = reinterpret_cast<uint8_t *>(bytes.data());
    const uint32_t sum_before = sum_of(header, layout::CHECKSUM_AT);
    const uint64_t end = bytes.size();
    for (int i = 0; i < NSECTIONS; ++i) {
        if (i == SEC_COMPNR1 || i == SEC_COMPNR2 || i == SEC_COMPNR3) continue; // one long each
        uint8_t *entry = header + layout::SECTION_TABLE_AT + layout::SECTION_ENTRY_SIZE * size_t(i);
        const uint64_t start = get_be(entry, 4);
        const uint64_t size = get_be(entry + 4, 4);
        if (start + size <= end) continue;
        const uint64_t in_file = start < end ? end - start : 0;
        const uint64_t zeros = size - in_file;
        if ((i == SEC_CODE && zeros <= UNREAL_BYTES) || i == SEC_DOMAINS)
            put_be(entry + 4, uint32_t(in_file + std::min(zeros, bounds.bytes)), 4);
        if (i == SEC_SYMTAB && bounds.symtab_count_kept) continue;
        const uint64_t count = get_be(entry + 8, 2);
        put_be(entry + 8, uint32_t(std::min(count, in_file + bounds.records)), 2);
    }
    uint8_t *stored = header + layout::CHECKSUM_AT;
    put_be(stored, get_be(stored, 4) + sum_of(header, layout::CHECKSUM_AT) - sum_before, 4);
    return bytes;
}

void write_object(const std::string &bytes) {
    FILE *f = fopen(object_path.c_str(), "wb");
    if (!f) abort();
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// A standard output that discards the report, and a fresh `zel`.
void fresh_run() {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
    init_zel_struct();
    zel.no_shm = 1;
    create_keytab();
    init_keytab();
}

void run_once(const OptionSet &set) {
    size_t streams_before = sopen_count();
    fresh_run();
    zel.info = set.info;
    zel.flagmask = set.mask;
    zel.objname = object_path;
    zel.cur_file = zel.objname.c_str();
    zel.cur_origin = zel.objname.c_str();
    try {
        object_info();
    } catch (const StopRun &) {
    }
    fflush(stdout);
    sclose_newest(streams_before);
}

// The program takes functions from the DLL by the names of the seeds'
// exports, and has one function without code.
void write_program() {
    objw::ObjSpec p;
    p.used_dlls = {object_path};
    p.code = objw::function_frame(0);
    p.functions = {{"main"}, {"fnocode", FUNCTION, 9999}};
    for (const char *name : {"util_format", "util_log", "u61_max", "f"})
        p.functions.emplace_back(name, FUNCTION | EXTERN, 1);
    objw::write_object_file(p, program_path);
}

// Makes the stored checksum of the object file hold: it becomes the
// writer's sum of what the loader sums besides the checksum field itself,
// whose bytes count in both the loader's sum and the expected value.
void make_checksum_hold(std::string &bytes) {
    if (bytes.size() < size_t(HEADER_SIZE)) return;
    const uint32_t sum = objw::object_checksum(std::vector<uint8_t>(bytes.begin(), bytes.end()));
    auto *stored = reinterpret_cast<uint8_t *>(bytes.data()) + layout::CHECKSUM_AT;
    if (get_be(stored, 4) == sum) return;
    put_be(stored, sum, 4);
    write_object(bytes);
}

void check_linkage_once(std::string &bytes) {
    size_t streams_before = sopen_count();
    fresh_run();
    make_checksum_hold(bytes);
    fresh_run();
    try {
        // Every check of zel_ldd (the DLLs' own linkage, unused DLLs) for an
        // input of odd length, with the JSON document (which takes the names
        // as they are) for one in four, the tree alone for the others: the
        // DLL's own linkage loads it again and the document costs as much,
        // while a part of the inputs reaches every path as well.
        const LddOutput output = bytes.size() % 4 == 1 ? LddOutput::json : LddOutput::tree;
        if (bytes.size() % 2)
            check_linkage({program_path, object_path}, LddOptions{true, true}, output);
        else
            check_linkage({program_path, object_path});
    } catch (const StopRun &) {
    }
    fflush(stdout);
    sclose_newest(streams_before);
}

// Frees what the runs of an input built (the symbols, the name index and the
// lists of `zel`), so that an input ends with as many frees as allocations:
// libFuzzer runs an input that ends with more allocations again, looking for
// a leak, and so did with four inputs in ten.
void release_runs() {
    init_zel_struct();
    create_keytab();
}

// The object's directory goes when the fuzzer ends normally.
void remove_object_dir() {
    unlink(object_path.c_str());
    unlink(program_path.c_str());
    rmdir((object_dir + "/oxxfuz").c_str());
    rmdir(object_dir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    object_dir = "/dev/shm/zelfuzz." + std::to_string(getpid());
    mkdir(object_dir.c_str(), 0700);
    object_path = object_dir + "/ofuzz";
    program_path = object_dir + "/oxxfuz/ofuzzp";
    write_program();
    atexit(remove_object_dir);
    setenv("KTE", object_dir.c_str(), 1);
    al_set_stop(stop); // the runtime's stops end a run, not the fuzzer
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string bytes(reinterpret_cast<const char *>(data), size);
    // The file-name checksum must match where the bytes are stored, or the
    // header is rejected before anything else is read.
    if (bytes.size() >= layout::FSM_AT + 4)
        put_be(reinterpret_cast<uint8_t *>(bytes.data()) + layout::FSM_AT,
               fname_sum(object_path.c_str()), 4);
    std::optional<std::string> written;
    for (const OptionSet &set : option_sets) {
        std::string object = bounded(bytes, set.bounds);
        if (object != written) {
            written = std::move(object);
            write_object(*written);
        }
        run_once(set);
    }
    bytes = bounded(bytes, narrow);
    if (bytes != written) write_object(bytes);
    check_linkage_once(bytes);
    release_runs();
    return 0;
}
