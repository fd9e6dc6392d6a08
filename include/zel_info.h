// Command line and run of the object information tool, and the argument scan
// and start-up that the tool's other commands share with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// What the argument scan collects.
struct CommandLine {
    uint32_t info = 0;
    uint32_t flagmask = 0;
    uint32_t no_shm = 0;
    bool env_set = false;             // -set changed the environment
    std::string letters;              // the command's own switches, in the order given
    std::vector<std::string> objects; // the arguments that do not begin with "-", in order
};

// What tells the commands apart on the command line. Every command takes
// -m, -qo, -qe, -set and -V; zel_info also takes its block letters and -f.
struct CommandSyntax {
    const char *name;    // program name when the argument vector has none
    const char *purpose; // what the command is, for the version banner
    bool report_options; // zel_info's letters
    const char *letters; // the command's own switch letters (CommandLine::letters)
    bool takes_help;     // --help prints the usage on standard output, status 0
    // Prints the usage text to `out`.
    void (*usage)(const char *progname, FILE *out);
};

// Runs one command: log set-up, argument scan, start-up, then `body` with
// what the scan collected. Returns the exit status.
using CommandBody = void (*)(const CommandLine &set, const char *progname);
int run_command(int argc, char **argv, const CommandSyntax &syntax, CommandBody body);
CommandLine scan_command_line(int argc, char **argv, const CommandSyntax &syntax,
                              const char *progname);
// After init_user: init_shm_dd, a fresh `zel` and the character set, in
// this order.
void start_up(uint32_t no_shm);
// Resets `zel` and enters the keywords: the state in which an object is
// loaded.
void fresh_zel();
// Makes `name` the object of the run; messages begin with its base name.
void enter_object(const std::string &name);

// Usage lines (formats for the program name) of the options every command
// has: -qo, -qe and -set; the line of -m ends every usage text.
constexpr size_t COMMON_USAGE_LINES = 4;
extern const char *const common_usage_lines[COMMON_USAGE_LINES];
extern const char NO_SHM_USAGE_LINE[];
void print_usage(const char *progname, const char *const *lines, size_t count, FILE *out);

int zel_info_main(int argc, char **argv);
// zel_info's usage text on standard error, then the end of the run with
// status 1.
[[noreturn]] void usage(const char *progname);
int error_handler(int kind, const char *message);
// The version banner of the command `name` on standard error; `full` adds
// the build identification.
void print_version(int full, const char *name, const char *purpose);
