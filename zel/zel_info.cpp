// Command line and run of the object information tool: the argument scan,
// the start-up of the runtime services, and the exit status. The scan and the
// start-up serve the tool's other commands as well.
#include "zel_info.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <string>

#include "al_env.h"
#include "al_log.h"
#include "al_shm.h"
#include "al_stop.h"
#include "al_strm.h"
#include "hal.h"
#include "qpd.h"
#include "tss.h"
#include "zel.h"
#include "zel_error.h"
#include "zel_readobj.h"
#include "zel_symtab.h"
#include "zel_version.h"

Zel zel;

namespace {

constexpr size_t OBJNAME_MAX = 1023;
constexpr size_t REDIRECT_MAX = 256;

// Option letters that only set info bits.
struct InfoLetter {
    char letter;
    uint32_t bits;
};
constexpr InfoLetter info_letters[] = {
    {'a', INFO_ALL},    {'c', INFO_CHECKSUM}, {'d', INFO_DLLS},  {'e', INFO_PROTO},
    {'h', INFO_HEADER}, {'i', INFO_ASM},      {'u', INFO_USAGE}, {'w', INFO_IDENTS},
};

const char *const usage_lines[] = {
    "Show Object Information\n",
    "\nUsage: %s [-aideushwcVm] [-f[flags]] object\n\n",
    "   -a       : Show all object information\n",
    "   -i       : Show assembler\n",
    "   -d       : Show used DLL's\n",
    "   -e       : Show exported DLL function prototypes\n",
    "   -u       : Show usage of DLL (description)\n",
    "   -s       : Show symboltable\n",
    "   -h       : Show object header\n",
    "   -w       : Show object idents (what)\n",
    "   -c       : Check checksum\n",
    "   -f       : Show all flags\n",
    "   -f<flg>  : Test flags 1=NOTRANSACTIONS  2=DEBUG\n",
    "                         4=PROFILE         8=DLL\n",
};
const char VERSION_USAGE_LINE[] = "   -V       : Show version\n";

// Build identification lines of the version banner.
struct BannerLine {
    const char *label;
    const char *value;
};
constexpr BannerLine banner_lines[] = {
    {"Port no.", ZEL_PROCESSOR "-linux"}, {"Date", ZEL_BUILD_DATE},       {"Uname", ZEL_BUILD_HOST},
    {"Machine-id", ZEL_PROCESSOR},        {"OS-release", ZEL_SYSTEM},     {"CFLAGS", ZEL_CFLAGS},
    {"LOADFLAGS", ZEL_LDFLAGS},           {"Build-type", ZEL_BUILD_TYPE},
};

// Configuration listed after the banner when CONFIGSPEC is "PRINT".
const char *const config_lines[] = {
    "# build configuration of this zel_info",
    "compiler     " ZEL_CXX_COMPILER,
    "build-type   " ZEL_BUILD_TYPE,
    "version      " ZEL_VERSION,
};

const char dashes48[] = "------------------------------------------------\n";

// Scans the letters of one option cluster starting at `p`. Returns false when
// the whole scan must end (a redirect given as the last argument).
struct Scanner {
    int argc;
    char **argv;
    int next; // index of the next argument
    const char *prog;
    const CommandSyntax &syntax;
    CommandLine &set;

    bool cluster(const char *p);
    bool report_letter(char c, const char *&p);
    [[noreturn]] void fail() const {
        syntax.usage(prog, stderr);
        throw StopRun{1};
    }
};

// The letters of zel_info's report: block letters, -f with its mask, -V.
// Returns false for a letter that is none of them.
bool Scanner::report_letter(char c, const char *&p) {
    for (const InfoLetter &l : info_letters) {
        if (l.letter == c) {
            set.info |= l.bits;
            return true;
        }
    }
    if (c == 's') {
        set.info |= INFO_SYMTAB;
    } else if (c == 'f') {
        set.info |= INFO_FLAGS;
        set.flagmask = 0;
        while (*p >= '0' && *p <= '9')
            set.flagmask = set.flagmask * 10 + unsigned(*p++ - '0');
    } else {
        return false;
    }
    return true;
}

bool Scanner::cluster(const char *p) {
    while (*p) {
        char c = *p++;
        if (c == 's' && strncmp(p, "et", 2) == 0) {
            p += 2;
            const char *assignment = next < argc ? argv[next++] : nullptr;
            if (!assignment || !strchr(assignment, '=')) {
                fprintf(stderr, "%s: -set expect 'envvar=value'\n", prog);
                fail();
            }
            // The environment keeps a copy of the assignment.
            const char *equals = strchr(assignment, '=');
            setenv(std::string(assignment, equals).c_str(), equals + 1, 1);
            set.env_set = true;
        } else if (c == 'm') {
            set.no_shm = 1;
        } else if (c == 'q') {
            char kind = *p;
            if (kind == 0) {
                fprintf(stderr, "%s: illegal option -q\n", prog);
                fail();
            }
            if (kind != 'o' && kind != 'e') {
                fprintf(stderr, "%s: illegal option -q%c\n", prog, kind);
                fail();
            }
            const char *file = p + 1;
            if (*file == 0) {
                if (next >= argc) return false; // nothing to redirect: the scan ends
                file = argv[next++];
            }
            // A name that does not fit the 256-byte buffer is refused like a
            // file that cannot be created.
            int rc = strlen(file) >= REDIRECT_MAX ? (errno = ENAMETOOLONG, -1)
                                                  : HAL_redirect(kind, file);
            if (rc != 0) {
                fprintf(stderr, "Cannot redirect output: %s open failed errno %d\n", file, errno);
                throw StopRun{1};
            }
            return true; // the rest of this argument is not scanned
        } else if (c == 'V' || c == 'v') {
            print_version(1, syntax.name, syntax.purpose);
            throw StopRun{0};
        } else if (syntax.letters && strchr(syntax.letters, c)) {
            set.letters += c;
        } else if (!syntax.report_options || !report_letter(c, p)) {
            fprintf(stderr, "%s: illegal option %c\n", prog, c);
            fail();
        }
    }
    return true;
}

void print_zel_info_usage(const char *progname, FILE *out) {
    print_usage(progname, usage_lines, std::size(usage_lines), out);
    print_usage(progname, common_usage_lines, COMMON_USAGE_LINES, out);
    fputs(VERSION_USAGE_LINE, out);
    fputs(NO_SHM_USAGE_LINE, out);
}

// zel_info with the settings of its command line: the last object name
// counts.
void show_object(const CommandLine &set, const char *prog) {
    zel.flagmask = set.flagmask;
    zel.info = set.info;
    enter_object(set.objects.empty() ? std::string() : set.objects.back());
    if (zel.objname.empty()) usage(prog);
    if (zel.info == 0) zel.info = INFO_ALL;
    object_info();
}

} // namespace

const char *const common_usage_lines[COMMON_USAGE_LINES] = {
    "   -qo <out>: Redirect output to file out\n",
    "   -qe <err>: Redirect error output to file err\n",
    "   -set <env=val>:\n",
    "            set environment variable\n",
};
const char NO_SHM_USAGE_LINE[] = "   -m       : run without shared memory\n";

void print_usage(const char *progname, const char *const *lines, size_t count, FILE *out) {
    for (size_t i = 0; i < count; i++)
        fprintf(out, lines[i], progname);
}

void usage(const char *progname) {
    print_zel_info_usage(progname, stderr);
    throw StopRun{1};
}

void print_version(int full, const char *name, const char *purpose) {
    fputs(dashes48, stderr);
    fprintf(stderr, "Product ver.: %s %s\n", name, ZEL_VERSION);
    if (full) {
        for (const BannerLine &l : banner_lines)
            fprintf(stderr, "%-12s: %s\n", l.label, l.value);
    }
    fputs(dashes48, stderr);
    fprintf(stderr, "%s: %s\n", name, purpose);
    const char *config = getenv("CONFIGSPEC");
    if (config && strcmp(config, "PRINT") == 0) {
        fputs(dashes48, stderr);
        fputs("\nConfig spec: \n", stderr);
        for (const char *line : config_lines) {
            if (line[0] != '#') fprintf(stderr, "%s\n", line);
        }
        fputs(dashes48, stderr);
    }
}

int error_handler(int kind, const char *message) {
    if (kind != 1 && kind != 2) return kind;
    int rc = log_mesg("zel/zel_info", __LINE__, "signal handler", 0, "%s", message);
    if (kind == 1) stop(1);
    return rc;
}

void init_zel_struct() {
    bool indexed = zel.name_index != nullptr;
    uint32_t no_shm = zel.no_shm;
    zel = Zel{};
    if (indexed) zel.name_index = &zel.index;
    zel.no_shm = no_shm;
}

CommandLine scan_command_line(int argc, char **argv, const CommandSyntax &syntax,
                              const char *prog) {
    CommandLine set;
    Scanner scan{argc, argv, 1, prog, syntax, set};
    while (scan.next < argc) {
        const char *arg = argv[scan.next++];
        if (syntax.takes_help && strcmp(arg, "--help") == 0) {
            syntax.usage(prog, stdout);
            throw StopRun{0};
        }
        if (arg[0] != '-') {
            set.objects.emplace_back(arg, strnlen(arg, OBJNAME_MAX));
        } else if (!scan.cluster(arg + 1)) {
            break;
        }
    }
    return set;
}

void fresh_zel() {
    init_zel_struct();
    create_keytab();
    init_keytab();
}

void start_up(uint32_t no_shm) {
    zel.no_shm = no_shm;
    init_shm_dd();
    fresh_zel();
    TSSsetlocale(user_charset(), error_handler);
}

void enter_object(const std::string &name) {
    zel.objname = name;
    zel.cur_file = zel.objname.c_str();
    zel.cur_origin = zel.objname.c_str();
}

int run_command(int argc, char **argv, const CommandSyntax &syntax, CommandBody body) {
    // Before the log or any other file is opened: none of them may take the
    // place of a standard channel that the caller closed.
    HAL_reserve_standard_channels();
    al_set_stop(stop);
    int status = 1;
    // Shared memory is attached for the whole run and detached when it ends
    // (a fatal error of one object of zel_ldd does not end it), unless the
    // run goes without it or ends before its start-up reaches it.
    bool detach_at_end = false;
    try {
        log_set_progname(argc > 0 ? argv[0] : syntax.name, LOG_FILE | LOG_STDERR);
        const char *prog = log_get_progname();
        CommandLine set = scan_command_line(argc, argv, syntax, prog);
        // Log set-up read the installation home and the variables files
        // before the scan, and keeps the log directory it found then.
        // Everything read from now on sees the -set variables.
        if (set.env_set) al_env_reload();
        init_user();
        detach_at_end = !set.no_shm;
        start_up(set.no_shm);
        body(set, prog);
        stop(0);
    } catch (const StopRun &s) {
        status = s.status;
    }
    if (detach_at_end) unlink_shm();
    return finish_standard_output(log_get_progname(), status);
}

int zel_info_main(int argc, char **argv) {
    static const CommandSyntax syntax{"zel_info", "object information tool of the 4GL runtime",
                                      true,       nullptr,
                                      false,      print_zel_info_usage};
    return run_command(argc, argv, syntax, show_object);
}
