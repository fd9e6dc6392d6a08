// Loading one object: header, sections, trailing blocks, report, checksum.
#pragma once

// Largest distance a section or trailing block may run past the end of the
// object file before the object is rejected as corrupt.
constexpr long SECTION_OVERRUN_LIMIT = 65536;

#include <cstdint>
#include <vector>

struct STREAM;

// What a load leaves besides the symbol table model in `zel`.
struct LoadedObject {
    STREAM *stream = nullptr;     // the open object
    std::vector<uint8_t> domains; // the domains section as read, for the report
    uint32_t checksum = 0;        // running checksum of the header and the sections
};

// Opens the object named by `zel.objname` and loads it into `zel`: header,
// prototypes, the sections in their fixed order and the two trailing
// blocks. Fatal errors end the run.
LoadedObject load_object();
// Closes the object's stream and releases its TIV record.
void close_object(LoadedObject &obj);
// Loads the object, prints the report and gives the checksum verdict.
void object_info();
