// Loading one object: header, sections, trailing blocks, report, checksum.
#pragma once

#include <cstdint>
#include <string>

#include "zel_cursor.h"

struct STREAM;

// What a load leaves besides the symbol table model in `zel`.
struct LoadedObject {
    STREAM *stream = nullptr; // the open object
    ByteView domains;         // the domains section as read, for the report
    uint32_t checksum = 0;    // running checksum of the header and the sections
};

// Opens the object named by `zel.objname` and loads it into `zel`: header,
// prototypes, the sections in their fixed order and the two trailing
// blocks. Fatal errors end the run.
LoadedObject load_object();
// The same for the object open on `s` at offset 0, found at `path`; the
// stream is closed with the object.
LoadedObject load_object(STREAM *s, const std::string &path);
// Closes the object's stream and releases its TIV record.
void close_object(LoadedObject &obj);
// Loads the object, prints the report and gives the checksum verdict.
void object_info();
