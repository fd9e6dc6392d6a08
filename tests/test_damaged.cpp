// Damaged objects through the built tool: each ends with one fatal message
// and status 1, never a crash; checksum mismatches are reported after the
// report, or silently in checksum mode. Objects that the fuzzer found to
// upset the tool are kept too: none may give a sanitizer report in the
// sanitized build (make test-sanitize).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "assembler.h"
#include "objdesc.h"
#include "objrun.h"
#include "zel.h"

using namespace objrun;

namespace {

// A DLL object with an entry in every section and both trailing blocks.
const std::string DLL_OBJECT = R"(kind dll
flags DEBUG
proto fmt fun=fmt flags=LONG
arg code flags=LONG dims=1,2,3,4
uses oxxutil
symbol counter flags=LONG
symbol matrix flags=LONG|ARRAY dims=3,4
symbol code flags=STRING len=10 domain=xxcode
function fmt
function ext dll=oxxutil
code frame fmt
global chr$
string abc
string x
double 0.5
ident @(#)otest
usage usage
describe fmt Formats.
addinfo build=test
)";

objw::ObjSpec dll_object(const std::string &more = "") {
    return objw::parse_description(DLL_OBJECT + more);
}

std::string past_end(const std::string &section) {
    return "Object is corrupt: " + section + " runs past the end of its data";
}

// Damage given as more lines of the object's description.
TEST(Damaged, EachEndsWithOneFatalMessage) {
    const std::string proto_last = "order 1 2 3 4 5 6 7 8 9 10 11 12 0\n",
                      symtab_last = "order 0 1 2 3 5 6 7 8 9 10 11 12 4\n";
    const objw::Layout l = layout_of(dll_object()), p = layout_of(dll_object(proto_last)),
                       y = layout_of(dll_object(symtab_last));
    const std::string bad_format = "object '{obj}' not in proper format.";
    const struct {
        const char *what;
        std::string damage;
        std::string message;        // "{obj}" stands for the object's path
        std::string label = "";     // the system error line for this step comes first
        std::string stored_as = ""; // where the file lies instead of oxxtes/otest
    } cases[] = {
        {"short header", "truncate 150", bad_format},
        {"wrong magic", "header magic [_zel_xyz_]", bad_format},
        {"magic without NUL", "header magic [_zel_dll_]!", bad_format},
        {"relno 70", "header relno 70", bad_format},
        {"bytesheader 183", "header bytesheader 183", bad_format},
        {"TIV type 3", "tiv raw 3 4 0", bad_format},
        {"moved", "", "object '{obj}' has incorrect path or name.", "", "lib/otest"},
        {"renamed", "", "object '{obj}' has incorrect path or name.", "", "oxxtes/otesx"},
        {"relno 70 and moved: the format first", "header relno 70", bad_format, "", "lib/otest"},
        {"short prototypes section", proto_last + "truncate " + std::to_string(p.end - 3),
         "Corrupt header in '{obj}'\n", "read_prototypes"},
        // The symbol table's last entries decode from zeros: names of no
        // characters, which the name index once shifted by 64 bits.
        {"symbols cut short",
         symtab_last + "nodescriptions\nnoaddinfo\ntruncate " +
             std::to_string(y.start[SEC_SYMTAB] + 9),
         past_end("descriptions block")},
        {"prototypes count", "section prototypes count=2", past_end("prototypes section")},
        {"used DLLs count", "section dlls count=2", past_end("used DLL's section")},
        {"symtab count", "section symtab count=4", past_end("symtab section")},
        {"funtab count", "section funtab count=3", past_end("funtab section")},
        {"glob fun count", "section globfun count=2", past_end("glob fun section")},
        {"strings count", "section strings count=3", past_end("strings section")},
        {"doubles count", "section doubles count=2", past_end("doubles section")},
        {"domains count", "section domains count=2", past_end("domains section")},
        {"idents count", "section idents count=2", past_end("idents section")},
        {"string length past the end", "section strings raw 00 FF 61 00 00 01 62 00",
         past_end("strings section")},
        {"string without NUL", "section strings raw 00 03 61 62 63\nsection strings count=1",
         past_end("strings section")},
        {"dimensions past the end",
         "section symtab raw 00 00 00 11 03 01 02\nsection symtab count=1",
         past_end("symtab section")},
        {"domain offsets past the end",
         "section domains raw 78 78 63 6F 64 65 00 00 02 00 00 00 00", past_end("domains section")},
        {"description text past the block",
         "patch " + std::to_string(l.descriptions + 4 + 2 + 4 + 6) + " 00 01 00 00",
         past_end("descriptions block")},
        {"usage text without its NUL", "patch " + std::to_string(l.descriptions + 15) + " 21",
         "Object is corrupt: a text of the descriptions block has no end"},
        {"description without its NUL at the block's end",
         "patch " + std::to_string(l.descriptions + 30) + " 21",
         "Object is corrupt: a text of the descriptions block has no end"},
        {"additional information records past the block",
         "patch " + std::to_string(l.addinfo + 12) + " 00 09",
         past_end("additional information block")},
        {"function number outside the table", "proto bad fun=2", "Object is corrupt",
         "read_prototypes"},
        {"five dimensions", "section symtab raw 00 00 00 11 05 01 02 03 04 05 61 00",
         "Object is corrupt", "read_symtab"},
        {"ten dimensions in release 61", "relno 61\nsection symtab raw 04 0A", "Object is corrupt",
         "read_symtab"},
        {"five dimensions of an argument", "proto bad fun=0\narg x dims=1,2,3,4,5",
         "Object is corrupt", "read_prototypes"},
        {"EXT_SYM symbol", "symbol x flags=LONG|EXT_SYM", "EXT_SYM symbol type is not supported",
         "read_symtab"},
        {"EXT_SYM prototype", "proto bad fun=0 flags=LONG|EXT_SYM",
         "EXT_SYM symbol type is not supported", "read_prototypes"},
        {"EXT_SYM argument", "proto bad fun=0\narg x flags=LONG|EXT_SYM",
         "EXT_SYM symbol type is not supported", "read_prototypes"},
        {"unknown DLL number", "function bad dll=7", "DLL with number '7' not found."},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        TestObject obj(dll_object(c.damage + "\n"), c.stored_as);
        std::string message = c.message;
        if (size_t at = message.find("{obj}"); at != std::string::npos)
            message.replace(at, 5, obj.path());
        std::string expected = fatal(message, obj.path().substr(obj.path().rfind('/') + 1));

        // The same with symbols made (-s) and with the records only checked
        // (-c, which shows no symbols).
        for (const char *option : {"-s", "-c"}) {
            RunResult r = obj.run({option});
            EXPECT_EQ(r.status, 1) << option;
            EXPECT_EQ(r.out, "") << option;
            ASSERT_GE(r.err.size(), expected.size()) << r.err;
            EXPECT_EQ(r.err.substr(r.err.size() - expected.size()), expected) << option;
            std::string before = r.err.substr(0, r.err.size() - expected.size());
            if (c.label.empty())
                EXPECT_EQ(before, "") << option;
            else
                EXPECT_TRUE(before.rfind(c.label + ": ", 0) == 0 &&
                            before.find('\n') + 1 == before.size())
                    << before;
        }
    }
}

TEST(Damaged, SymbolListHolds32768Symbols) {
    objw::ObjSpec desc;
    desc.symbols.assign(32768, objw::SymbolEntry("v", LONG));
    RunResult r = TestObject(desc).run({"-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\n32767 long <32767>\n\n"), std::string::npos);

    desc.symbols.emplace_back("v", LONG);
    TestObject over(desc);
    for (const char *option : {"-s", "-c"})
        EXPECT_RUN(over.run({option}), 1, "", fatal("<32768>: Too many symbols (maximum = 32767)"));
}

// A changed byte ("counter" becomes "dounter": the entry still decodes), or
// a file cut short anywhere in its sections: the blocks asked for, then the
// checksum verdict, also when standard output and standard error go to one
// file. Checksum mode (in the default set too) ends without a message; the
// flag test ends the run before the checksum is compared.
TEST(Checksum, ChangedByteOrFileCutShort) {
    const objw::ObjSpec desc = dll_object();
    const objw::Layout l = layout_of(desc);
    std::vector<objw::ObjSpec> damaged(1, desc);
    damaged[0].patches = {{l.start[SEC_SYMTAB] + 4, {'d'}}};
    for (int section = SEC_USED_DLLS; section <= SEC_IDENTS; ++section) {
        damaged.push_back(desc);
        damaged.back().truncate = l.start[size_t(section)] + 1;
    }
    for (const objw::ObjSpec &d : damaged) {
        SCOPED_TRACE(d.truncate.value_or(0));
        TestObject obj(d);
        RunResult r = obj.run({"-hs"});
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out.rfind(banner("GENERAL INFO"), 0), 0u);
        EXPECT_EQ(r.out.find("\n0   long dounter\n") != std::string::npos, !d.truncate);
        // Domain records in the part that reads as zeros have no name.
        size_t verdict = r.err.find(BASE + ": Fatal Error: " + illegal_checksum(obj.image()));
        ASSERT_NE(verdict, std::string::npos) << r.err;
        EXPECT_TRUE(d.truncate || r.err == fatal(illegal_checksum(obj.image()))) << r.err;
        RunResult both = run_program(
            "/bin/sh", {"-c", "\"$0\" -m -hs \"$1\" 2>&1", ZEL_INFO_BIN, obj.path()}, sample_env());
        EXPECT_EQ(both.out, r.err.substr(0, verdict) + r.out + r.err.substr(verdict));

        for (const char *options : {"-c", "-cs", "-a"}) {
            RunResult c = obj.run({options});
            EXPECT_EQ(c.status, 1) << options;
            EXPECT_EQ(c.out.empty(), std::string(options) == "-c") << options;
            EXPECT_EQ(c.err, r.err.substr(0, verdict)) << options;
        }
        EXPECT_EQ(obj.run().out, obj.run({"-a"}).out);
        EXPECT_EQ(obj.run({"-f8"}).status, 0);
        EXPECT_EQ(obj.run({"-f16"}).status, 1);
    }
}

// A string entry's length only steps to the next entry; its text runs on
// to its NUL, here over the next entry, which begins inside it ("ab" is its
// length). Each entry keeps its own text, without a copy of its own. A text
// shorter than its length puts the next entry further on than the strings'
// offsets (counted by their texts) say: the listing names it by its offset.
TEST(Damaged, StringEntriesThatOverlap) {
    objw::ObjSpec desc;
    desc.strings = {"xyabc", "c"};
    desc.sections[SEC_STRINGS].raw = std::vector<uint8_t>{0, 1, 'x', 'y', 'a', 'b', 'c', 0};
    RunResult r = TestObject(desc).run({"-s"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(block(r.out, "STRING CONSTANTS"),
              banner("STRING CONSTANTS") + "\n\"xyabc\"\n\"c\"\n");

    desc.strings = {"ab", "cd"}; // offsets 0 and 5; "cd" lies at 10
    desc.sections[SEC_STRINGS].raw =
        std::vector<uint8_t>{0, 5, 'a', 'b', 0, 'z', 'z', 0, 0, 2, 'c', 'd', 0};
    desc.functions = {{"main"}};
    desc.code = assemble("main: .function 0\nPUSHS_B 5\nPUSHS_B 0\nRET\n.link\n");
    r = TestObject(desc).run({"-i"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("\tPUSHS_B    \"cd\"\n    9\tPUSHS_B    \"ab\"\n"), std::string::npos)
        << r.out;
}

// Cut inside the last section (the doubles), the rest reads as zeros and
// the checksum fails. A section that runs on, or starts, far past the end of
// the file reads as zeros there, an empty one lies anywhere, and compnr
// checks past the end read as 0xFF bytes: the bytes that are there count as
// before (and the 0xFF bytes, as the writer counts them), so the checksum
// holds.
TEST(Checksum, SectionsCutShortOrPastTheEndOfTheFile) {
    objw::ObjSpec desc = dll_object();
    desc.order = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 11, 12}; // doubles last
    const objw::Layout l = layout_of(desc);
    ASSERT_EQ(l.start[SEC_DOUBLES] + l.size[SEC_DOUBLES], l.end);
    objw::ObjSpec cut = desc;
    cut.truncate = l.end - 2;
    TestObject obj(cut);
    RunResult r = obj.run({"-s"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(block(r.out, "DOUBLE CONSTANTS"), banner("DOUBLE CONSTANTS") + "\n0.\n");
    EXPECT_EQ(r.err, fatal(illegal_checksum(obj.image())));

    desc.sections[SEC_DOUBLES].size = l.size[SEC_DOUBLES] + 100000000;
    desc.sections[SEC_SYMTAB].start = 0x7FFFFFF0;
    desc.global_functions = {};
    desc.sections[SEC_GLOBFUN].start = 0xFFFFFFF0;
    desc.sections[SEC_COMPNR2].start = 0x7FFFFFF0;
    r = TestObject(desc).run();
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(block(r.out, "DOUBLE CONSTANTS"), banner("DOUBLE CONSTANTS") + "\n0.5\n");
    EXPECT_EQ(block(r.out, "SYMBOL TABLE"), banner("SYMBOL TABLE") + "\n0   \n1   \n2   \n");
    EXPECT_NE(block(r.out, "COMPNR CHECKS").find("Compnr check 2\t= -1\n"), std::string::npos);
}

// Neither the TIV block nor the descriptions block ("Formats." becomes
// "formats.") count for the checksum; only the directory and the file name
// count for the file-name checksum.
TEST(Checksum, CoversNeitherTivNorDescriptionsNorTheWayToTheFile) {
    objw::ObjSpec desc = dll_object();
    desc.tiv = objw::Tiv{2, 4, 1020};
    const size_t description = layout_of(desc).descriptions + 4 + 2 + 4 + 6 + 4 + 2;
    ASSERT_EQ(objw::build_object(desc, "/x/oxxtes/otest")[description], 'F');
    // The low byte of the TIV value, and the first letter of the description.
    desc.patches = {{HEADER_SIZE + 11, {0xFF}}, {description, {'f'}}};
    TestObject obj(desc, "elsewhere/oxxtes/otest");
    EXPECT_RUN(obj.run({"-c"}), 0, "", "");
    EXPECT_NE(obj.run({"-h"}).out.find("\nTIV\t\t= 1023\n"), std::string::npos);
    EXPECT_NE(obj.run({"-eu"}).out.find("\nformats.\n"), std::string::npos);

    // A relative path names the same file.
    std::string root =
        obj.path().substr(0, obj.path().size() - std::string("/oxxtes/otest").size());
    EXPECT_RUN(run_zel_info({"-c", "-m", "oxxtes/otest"}, sample_env(), root), 0, "", "");
}

void put_be32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; k++)
        b[at + size_t(k)] = uint8_t(v >> (24 - 8 * k));
}

// Writes `bytes` at `offset` of the file at `path`, which grows sparsely.
void write_at(const std::string &path, const std::vector<uint8_t> &bytes, off_t offset) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), offset), ssize_t(bytes.size()));
    close(fd);
}

constexpr long SMALL_RUN_KB = 16 * 1024;

} // namespace

// A device and a pipe are judged by the header's 182 bytes, and never read to
// their end: /dev/zero is endless, the pipe stays open behind its 4096 bytes.
// A file far larger than its object costs the memory of what the sections
// declare, not of the file: neither a 600 MB file that is no object nor an
// object whose idents lie behind a gap of 1 GiB.
TEST(Reading, DevicesPipesAndLargeFiles) {
    RunResult r = run_object("/dev/zero", {"-h"});
    EXPECT_RUN(r, 1, "", fatal("object '/dev/zero' not in proper format.", "zero"));

    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    const std::string zeros(4096, '\0');
    ASSERT_EQ(write(fds[1], zeros.data(), zeros.size()), ssize_t(zeros.size()));
    Started s(ZEL_INFO_BIN, {"-m", "-h", "/dev/stdin"}, sample_env(), fds[0], -1);
    r = s.finish();
    close(fds[0]);
    close(fds[1]);
    EXPECT_RUN(r, 1, "", fatal("object '/dev/stdin' not in proper format.", "stdin"));

    TempDir dir;
    const std::string large = dir.path() + "/oxxtes/" + BASE;
    write_file(large, "not an object");
    ASSERT_EQ(truncate(large.c_str(), off_t(600) << 20), 0);
    r = run_object(large, {"-h"});
    EXPECT_RUN(r, 1, "", fatal("object '" + large + "' not in proper format."));
    EXPECT_TRUE(MEMORY_SANITIZED || r.peak_kb < SMALL_RUN_KB) << r.peak_kb << " kB";

    // The idents section, and the trailing blocks behind it, moved 1 GiB on:
    // the section table and the stored checksum follow.
    std::vector<uint8_t> image = objw::build_object(dll_object(), large);
    const size_t idents_start_field = 48 + 10 * SEC_IDENTS;
    const uint32_t moved = uint32_t(1) << 30;
    const uint32_t old_start = be32(image, idents_start_field);
    std::vector<uint8_t> tail(image.begin() + old_start, image.end());
    image.resize(old_start);
    put_be32(image, idents_start_field, moved);
    uint32_t header_change = 0;
    for (int k = 0; k < 4; k++)
        header_change += uint8_t(moved >> (24 - 8 * k)) - uint8_t(old_start >> (24 - 8 * k));
    put_be32(image, 178, be32(image, 178) + header_change);
    ASSERT_EQ(unlink(large.c_str()), 0);
    write_at(large, image, 0);
    write_at(large, tail, moved);
    r = run_object(large, {"-c"});
    EXPECT_RUN(r, 0, "", "");
    EXPECT_TRUE(MEMORY_SANITIZED || r.peak_kb < SMALL_RUN_KB) << r.peak_kb << " kB";
    EXPECT_RUN(run_object(large, {"-w", "-u"}), 0,
               "\n" + banner("DLL USAGE DESCRIPTION") + "\nusage\n\n" + banner("OBJECT IDENTS") +
                   "\n@(#)otest\n",
               "");
}

// The sections are read into memory of the tool's own before the report
// begins: an object cut short by another process while it is listed (a
// compiler rewriting it) is listed whole, and its checksum holds. The run is
// stopped by a pipe that nobody reads until the report has begun.
TEST(Reading, ObjectCutWhileItIsListed) {
    objw::ObjSpec desc;
    desc.code.assign(100000, 0); // NOPs: a listing far larger than a pipe holds
    TestObject obj(desc);
    const RunResult whole = obj.run({"-i"});
    ASSERT_EQ(whole.status, 0);
    ASSERT_GT(whole.out.size(), size_t(1) << 20);

    int fds[2];
    ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
    Started s(ZEL_INFO_BIN, {"-m", "-i", obj.path()}, sample_env(), -1, fds[1]);
    close(fds[1]);
    std::string out;
    char buf[65536];
    ssize_t n = read(fds[0], buf, sizeof buf); // the report has begun: the object is read
    ASSERT_GT(n, 0);
    out.append(buf, size_t(n));
    ASSERT_EQ(truncate(obj.path().c_str(), 1000), 0);
    while ((n = read(fds[0], buf, sizeof buf)) > 0)
        out.append(buf, size_t(n));
    close(fds[0]);
    RunResult r = s.finish();
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(out == whole.out) << out.size() << " bytes listed of " << whole.out.size();
}
