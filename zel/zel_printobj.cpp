// STUB: replaced by the report module.
#include "zel_print.h"

#include "zel.h"

void print_type(const Symbol *) {}
void print_dims(const Symbol *) {}
void print_type_options(const Symbol *) {}
const char *date_to_str(int32_t) { return "          "; }
void print_header(const ObjHeader &) {}
void print_object_flags(const ObjHeader &) {}
void print_compnr_checks(const ObjHeader &) {}
void print_object_ex(const ObjHeader &, std::vector<uint8_t> *domains) {
    if (domains) domains->clear();
}
void print_object(const ObjHeader &hdr) { print_object_ex(hdr, nullptr); }
