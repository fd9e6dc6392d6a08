// Fuzz target: one object given as bytes is loaded, reported and listed for
// several option sets, exactly as the tool does it, but in-process. A run
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
#include "zel.h"
#include "zel_error.h"
#include "zel_obj.h"
#include "zel_readobj.h"
#include "zel_symtab.h"

namespace {

std::string object_dir;
std::string object_path;

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

void run_once(const OptionSet &set) {
    size_t streams_before = sopen_count();
    // The report's listing closes descriptor 1; give every run a fresh one.
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);

    init_zel_struct();
    zel.no_shm = 1;
    create_keytab();
    init_keytab();
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

// The object's directory goes when the fuzzer ends normally.
void remove_object_dir() {
    unlink(object_path.c_str());
    rmdir(object_dir.c_str());
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    object_dir = "/dev/shm/zelfuzz." + std::to_string(getpid());
    mkdir(object_dir.c_str(), 0700);
    object_path = object_dir + "/ofuzz";
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
    FILE *f = fopen(object_path.c_str(), "wb");
    if (!f) abort();
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    for (const OptionSet &set : option_sets)
        run_once(set);
    return 0;
}
