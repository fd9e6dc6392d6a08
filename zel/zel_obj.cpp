// STUB: replaced by the object encoding module.
#include "zel_obj.h"

#include "zel.h"

uint32_t Rtot_bytes = 0;
uint32_t read_obj_long(STREAM *) { return 0; }
unsigned read_obj_short(STREAM *) { return 0; }
unsigned read_obj_char(STREAM *) { return 0; }
int read_obj_string(STREAM *, char *buf, size_t) { buf[0] = 0; return 0; }
long read_obj_block(void *, size_t, STREAM *) { return 0; }
int write_obj_long(STREAM *, uint32_t) { return 0; }
int write_obj_short(STREAM *, unsigned) { return 0; }
int write_obj_char(STREAM *, unsigned) { return 0; }
int write_obj_string(STREAM *, const char *) { return 0; }
int write_obj_block(const void *, size_t, STREAM *) { return 0; }
int write_obj_flag(STREAM *, uint32_t) { return -1; }
void init_object_flags() {}
int add_object_flag(uint32_t, uint32_t, uint32_t) { return 0; }
uint32_t object_flag(unsigned) { return 0; }
int object_flag_count() { return 0; }
int object_flag_code(uint32_t) { return -1; }
int read_header(ObjHeader &, STREAM *, const char *, const char *) { return -1; }
unsigned fsum16(const char *, size_t) { return 0; }
unsigned fname_sum(const char *) { return 0; }
