// mkobj <description> <output-file>: makes a 4GL object from its text
// description (format in objwriter.h). The file-name checksum of the object
// is computed for the output path, so the object is valid at that place.
#include <cstdio>
#include <exception>

#include "objdesc.h"

int main(int argc, char **argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: mkobj <description> <output-file>\n");
        return 2;
    }
    try {
        objw::write_object_file(objw::load_description(argv[1]), argv[2]);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "mkobj: %s: %s\n", argv[1], e.what());
        return 1;
    }
    return 0;
}
