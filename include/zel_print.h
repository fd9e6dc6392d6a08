// The report: type and flag rendering and the report layout.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ObjHeader;
struct Symbol;
struct ByteView;

void print_type(const Symbol *s);
void print_dims(const Symbol *s);
void print_type_options(const Symbol *s);
// A symbol as the report shows it: type, name, dimensions and options.
void print_symbol_text(const Symbol *s);
// The prototype text of one function.
void print_prototype(const Symbol *fn);
// "YYYY-MM-DD" of a day number; blanks for the digits when it is no date.
std::string date_to_str(int32_t day);

// GENERAL INFO and OBJECT HEADER blocks.
void print_header(const ObjHeader &hdr);
// The object flags line, the OBJECT FLAGS banner or the flag test.
void print_object_flags(const ObjHeader &hdr);
void print_compnr_checks(const ObjHeader &hdr);

// Prints the report. `domains` is the domains section as read, a view of a
// block that the object file owns; without it there is no DOMAINS block.
void print_object_ex(const ObjHeader &hdr, const ByteView *domains);
void print_object(const ObjHeader &hdr);
