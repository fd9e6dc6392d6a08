// Fuzz target: one object given as bytes is loaded, reported and listed for
// several option sets, exactly as the tool does it, but in-process. Then the
// same bytes are read as a DLL and checked by zel_ldd, as the object and as
// the DLL of a fixed program object; for that the stored checksum is made to
// hold first, so that the DLL's used DLLs and prototypes are decoded. A run
// that ends through the fatal path (StopRun) is a normal outcome; a crash,
// a sanitizer report or a leak is a finding.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "al_strm.h"
#include "objwriter.h"
#include "zel.h"
#include "zel_error.h"
#include "zel_ldd.h"
#include "zel_obj.h"
#include "zel_readobj.h"
#include "zel_symtab.h"

namespace {

std::string object_dir;
std::string object_path;
std::string program_path; // a program object that uses object_path as a DLL

// Option sets that change what is read or printed.
struct OptionSet {
    uint32_t info;
    uint32_t mask;
};
const OptionSet option_sets[] = {
    {INFO_ALL, 0},  // the full report
    {INFO_DLLS, 0}, // USED DLL'S with DLL HINTS
    {INFO_USAGE | INFO_PROTO | INFO_SYMTAB | INFO_FLAGS, 0},
    {INFO_FLAGS, 3}, // the flag test
    {INFO_ASM | INFO_CHECKSUM, 0},
};

void put_be32(uint8_t *p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

void write_object(const std::string &bytes) {
    FILE *f = fopen(object_path.c_str(), "wb");
    if (!f) abort();
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
}

// A fresh standard output (the report's listing closes descriptor 1) and a
// fresh `zel`.
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

// Makes the stored checksum of the object file hold, when its header is
// accepted: the header's own four bytes are part of both sums.
void make_checksum_hold(std::string &bytes) {
    DllImage d;
    try {
        d = read_dll(object_path);
    } catch (const StopRun &) {
        return;
    }
    if (d.state != DllState::damaged || d.expected == d.computed || bytes.size() < 182) return;
    auto *stored = reinterpret_cast<uint8_t *>(bytes.data()) + 178;
    uint32_t own = uint32_t(stored[0]) + stored[1] + stored[2] + stored[3];
    put_be32(stored, d.computed - own);
    write_object(bytes);
}

void check_linkage_once(std::string &bytes) {
    size_t streams_before = sopen_count();
    fresh_run();
    make_checksum_hold(bytes);
    fresh_run();
    try {
        check_linkage({program_path, object_path});
    } catch (const StopRun &) {
    }
    fflush(stdout);
    sclose_newest(streams_before);
}

// Frees what the runs of an input built (the symbols, the name index and the
// lists of `zel`), so that an input ends with as many frees as allocations:
// libFuzzer runs an input that ends with more allocations again, looking for
// a leak, which would double the time of nearly every input.
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
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string bytes(reinterpret_cast<const char *>(data), size);
    // The file-name checksum must match where the bytes are stored, or the
    // header is rejected before anything else is read.
    if (bytes.size() >= 48)
        put_be32(reinterpret_cast<uint8_t *>(bytes.data()) + 44, fname_sum(object_path.c_str()));
    write_object(bytes);
    for (const OptionSet &set : option_sets)
        run_once(set);
    check_linkage_once(bytes);
    release_runs();
    return 0;
}
