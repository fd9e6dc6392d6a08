// Command line and run of the object information tool.
#pragma once

#include <cstdint>

int zel_info_main(int argc, char **argv);
[[noreturn]] void usage(const char *progname);
int error_handler(int kind, const char *message);
void print_version(int full);
