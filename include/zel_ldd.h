// The linkage check of zel_ldd: which DLLs an object needs, transitively,
// whether each of them is found and sound, and whether every function that
// the object takes from a DLL is exported by one of its used DLLs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What reading a DLL found.
enum class DllState {
    found,      // opened, header accepted, checksum holds, sections decoded
    not_found,  // no candidate of its name opens
    not_proper, // header not accepted
    damaged,    // checksum fails, or a section does not decode
};

// One DLL as read: where it lies, whether it can be used, the DLLs that it
// uses, and its prototypes section for linking.
struct DllImage {
    std::string name; // as first named by a using object
    std::string path; // resolved path; empty when not found
    DllState state = DllState::not_found;
    uint32_t expected = 0;         // checksum of the header
    uint32_t computed = 0;         // byte sum of the header and of the sections in the file
    std::vector<std::string> used; // the DLLs it uses, in order (found DLLs only)
    // The prototypes section (sound DLLs only) and the header fields that
    // decoding it needs.
    int32_t relno = 0;
    int32_t obj_revision = 0;
    uint16_t prototype_count = 0;
    std::vector<uint8_t> prototypes;
};

// Reads the DLL `name` found as the runtime finds it: its header, the
// thirteen sections for the checksum and, when the checksum holds, its
// used-DLL names and its prototypes. A record that runs past its section
// ends the run through the fatal path, the message prefixed with the DLL's
// base name.
DllImage read_dll(const std::string &name);

// Checks `objects` one after the other: the tree of each on standard output,
// diagnostics on standard error. An object whose check ends through the fatal
// path has been reported; the next one is checked all the same. Each DLL is
// read once, however often it is reached. Returns 0 when every object, DLL
// and function resolved and every checksum held, else 1.
int check_linkage(const std::vector<std::string> &objects);

int zel_ldd_main(int argc, char **argv);
