// The deployment check of zel_ldd: which DLLs an object needs, transitively,
// whether each of them is found and would load, whether every function that
// the object takes from a DLL is exported by one of its used DLLs, and
// whether each call of such a function passes as many arguments as the DLL's
// prototype takes.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "zel_error.h"

// What zel_ldd is asked to check besides the tree and the object's imports.
struct LddOptions {
    bool recursive = false; // -r: every DLL's own imports and calls too
    bool unused = false;    // -u: used DLLs that supply no function
};

// What reading a DLL found.
enum class DllState {
    found,      // opened, loaded as zel_info loads it, checksum holds
    not_found,  // no candidate of its name opens
    not_proper, // header not accepted
    damaged,    // checksum fails, or the loader rejects a section
};

// What linking an object (or, with -r, a DLL) found: the imports that no
// used DLL exports (with the DLL the object recorded for each, if any), the
// calls whose argument count the supplying DLL does not take, and every
// message in order, as printed.
struct Unresolved {
    std::string function;
    std::string recorded; // "" when the object recorded no DLL
};
struct ArgumentError {
    std::string function;
    uint32_t position = 0; // of the call in the code
    unsigned arguments = 0;
    std::string dll;
    std::string takes; // "0", "2", "1 to 3", "at least 2"
};
struct LinkReport {
    std::vector<Unresolved> unresolved;
    std::vector<ArgumentError> argument_errors;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};

// One DLL file as read: where it lies, its verdict, the DLLs that it uses,
// its prototypes for linking, and (with -r) what linking it found.
struct DllImage {
    size_t index = 0;               // in the order in which the run read the DLLs
    std::string name;               // as first named by a using object
    std::string path;               // resolved path; empty when not found
    uint64_t device = 0, inode = 0; // the file, when found
    DllState state = DllState::not_found;
    uint32_t expected = 0;                  // stored checksum
    uint32_t computed = 0;                  // checksum of its header and sections
    std::vector<HeldMessage> load_messages; // the loader's messages (a fatal one: damaged)
    std::vector<std::string> used;          // the DLLs it uses, in order (found DLLs only)
    int32_t relno = 0;                      // of its prototypes
    int32_t obj_revision = 0;               //
    uint16_t prototype_count = 0;           //
    std::vector<uint8_t> prototypes;        // the prototypes section (found DLLs only)
    std::vector<std::pair<std::string, uint32_t>> exports; // name and offset of each record
    bool linked = false;                                   // -r: its own imports were linked
    std::vector<HeldMessage> link_messages;                //   what that printed
    LinkReport linkage;                                    //   and found
};

// One line of a tree: its depth (0 for the object), the name as the using
// object gives it, where it was found ("" when not found), the DLL (none for
// the object), and a mark ("", "not in proper format", "damaged", "already
// shown", "cycle").
struct TreeLine {
    size_t depth = 0;
    std::string name;
    std::string path;
    const DllImage *dll = nullptr;
    std::string mark;
    // The first line of a DLL file in its tree (not marked as shown before).
    bool first_reach() const { return mark != "already shown" && mark != "cycle"; }
};

// What checking one object found.
struct ObjectReport {
    std::string name;
    std::string path;    // resolved path; empty when it was not opened
    bool loaded = false; // the loader accepted it
    bool sound = false;  // and its checksum holds
    std::vector<TreeLine> tree;
    LinkReport link;
    std::vector<const DllImage *> linked_dlls; // -r: the DLLs whose linkage is reported
    int errors = 0;
};

// How the results are shown as they come: the text tree, the flat list of
// DLL files (-l) or nothing until the end (-j).
enum class LddOutput { tree, list, json };

// Checks `objects` one after the other: the tree (or the list) of each on
// standard output as it is found, or the JSON document of the whole run at
// its end; the diagnostics on standard error. An object that does not load
// is reported and the next one is checked all the same. Each DLL file is
// read once, however often and by whatever path text it is reached. Returns
// 0 when every object, DLL, import and call was sound, else 1.
int check_linkage(const std::vector<std::string> &objects, const LddOptions &options = {},
                  LddOutput output = LddOutput::tree);

// Reads the DLL `name` as zel_ldd reads it (for tests and the fuzz target).
DllImage read_dll(const std::string &name);

int zel_ldd_main(int argc, char **argv);
