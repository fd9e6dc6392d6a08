// zel_ldd end to end: installations of writer-made objects in a temporary
// directory, found through the sample's file-definition table (o names under
// $KTE/obj). Every run's whole standard output and standard error are
// compared, and its exit status.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "objrun.h"
#include "zel.h"

namespace {

using objrun::text;
using Imports = std::vector<std::pair<std::string, uint32_t>>;

// Runs zel_ldd (with -m) in `kte`.
RunResult ldd(const objrun::Installation &kte, std::vector<std::string> args) {
    args.insert(args.begin(), "-m");
    return run_program(ZEL_LDD_BIN, args, kte.env());
}

// A DLL object that uses `uses` and exports `exports`, numbered in order.
objw::ObjSpec dll(std::vector<std::string> uses, std::vector<std::string> exports = {},
                  int relno = 72) {
    objw::ObjSpec s;
    s.kind = objw::Kind::Dll;
    s.relno = relno;
    s.used_dlls = std::move(uses);
    for (size_t k = 0; k < exports.size(); k++) {
        s.prototypes.emplace_back(exports[k], uint16_t(k));
        s.functions.emplace_back(exports[k]);
    }
    return s;
}

// A program object with main and the functions it takes from DLLs (the
// used-DLL number each is recorded with); `own` are functions without code.
objw::ObjSpec program(std::vector<std::string> uses, const Imports &imports,
                      std::vector<std::string> own = {}) {
    objw::ObjSpec s;
    s.used_dlls = std::move(uses);
    s.code = objw::function_frame(0);
    s.functions = {{"main"}};
    for (const auto &[name, number] : imports)
        s.functions.emplace_back(name, FUNCTION | EXTERN, number);
    for (const std::string &name : own)
        s.functions.emplace_back(name, FUNCTION, 9999); // past the end of the code
    return s;
}

// The stored and the computed checksum of a damaged image, as the message
// names them.
std::string checksums(const std::vector<uint8_t> &image) {
    std::string message = objrun::illegal_checksum(image);
    return message.substr(0, message.size() - 1);
}

// A chain through DLLs of both releases: each one found, every import
// exported. The DLLs export more functions than the program has entries,
// which must not touch the program's function-number table; a function
// without code is linked like the bound ones.
TEST(Ldd, CleanChainOfBothReleases) {
    objrun::Installation kte;
    kte.add("oxxprog", program({"oxxalpha", "oxxgam61"}, {{"fa", 1}, {"fg", 2}}, {"fb"}));
    kte.add("oxxalpha", dll({"oxxbeta"}, {"a0", "a1", "a2", "a3", "fb", "fa"}));
    kte.add("oxxbeta", dll({}, {"fb"}));
    kte.add("oxxgam61", dll({"oxxbeta"}, {"g0", "fg"}, 61));
    EXPECT_RUN(ldd(kte, {"oxxprog"}), 0,
               text(R"(oxxprog => $DIR/obj/oxxpro/oprog
    oxxalpha => $DIR/obj/oxxalp/oalpha
        oxxbeta => $DIR/obj/oxxbet/obeta
    oxxgam61 => $DIR/obj/oxxgam/ogam61
        oxxbeta => $DIR/obj/oxxbet/obeta (already shown)
)",
                    kte.dir()),
               "");
}

// Missing, malformed and damaged DLLs supply nothing; every import that no
// used DLL exports is an error naming the DLL it was recorded in (none for
// a function without code); one taken from another DLL is a warning.
TEST(Ldd, BrokenDllsAndUnresolvedFunctions) {
    objrun::Installation kte;
    objw::ObjSpec prog = program(
        {"oxxalpha", "oxxgone", "oxxbad", "oxxdmg", "oxxother"},
        {{"fa", 1}, {"fx", 1}, {"fg", 2}, {"fb", 3}, {"fd", 4}, {"fmoved", 1}, {"fzero", 0}},
        {"fnone"});
    prog.functions.emplace_back("finside", FUNCTION, 1); // inside main's code: no code of its own
    kte.add("oxxprog", prog);
    kte.add("oxxalpha", dll({}, {"fa"}));
    objw::ObjSpec bad = dll({}, {"fb"});
    bad.header.magic = "[_zel_xxx_]";
    kte.add("oxxbad", bad);
    objw::ObjSpec damaged = dll({"oxxalpha"}, {"fd"});
    damaged.header.checksum_delta = 1;
    const std::vector<uint8_t> image = kte.add("oxxdmg", damaged);
    kte.add("oxxother", dll({}, {"fmoved", "fzero"}));

    EXPECT_RUN(ldd(kte, {"oxxprog"}), 1,
               text(R"(oxxprog => $DIR/obj/oxxpro/oprog
    oxxalpha => $DIR/obj/oxxalp/oalpha
    oxxgone => not found
    oxxbad => $DIR/obj/oxxbad/obad (not in proper format)
    oxxdmg => $DIR/obj/oxxdmg/odmg (damaged)
    oxxother => $DIR/obj/oxxoth/oother
)",
                    kte.dir()),
               "oxxprog: Error: Can't open DLL 'oxxgone' for reading\n"
               "oxxprog: Error: DLL 'oxxbad' not in proper format.\n"
               "oxxprog: Error: " +
                   checksums(image) +
                   " in DLL 'oxxdmg'\n"
                   "oxxprog: Error: Unresolved reference to function 'fx'. (Hint: Located in "
                   "DLL: oxxalpha)\n"
                   "oxxprog: Error: Unresolved reference to function 'fg'. (Hint: Located in "
                   "DLL: oxxgone)\n"
                   "oxxprog: Error: Unresolved reference to function 'fb'. (Hint: Located in "
                   "DLL: oxxbad)\n"
                   "oxxprog: Error: Unresolved reference to function 'fd'. (Hint: Located in "
                   "DLL: oxxdmg)\n"
                   "oxxprog: Warning: Function 'fmoved' taken from DLL 'oxxother'. (Hint: "
                   "Located in DLL: oxxalpha)\n"
                   "oxxprog: Error: Unresolved reference to function 'fnone'.\n"
                   "oxxprog: Error: Unresolved reference to function 'finside'.\n");
}

// A DLL reached again, also under its path, is shown once; a reference back
// to a DLL on the way down, or to the object itself, ends the descent. A
// second export of a name is ignored with the duplicate warning, also when
// the same DLL is used under two names. None of this keeps the program from
// linking.
TEST(Ldd, SharedDllsCyclesAndDuplicateExports) {
    objrun::Installation kte;
    const std::string alpha_path = kte.path("oxxalpha");
    kte.add("oxxprog", program({"oxxalpha", "oxxbeta", alpha_path}, {{"f1", 1}, {"f2", 2}}));
    kte.add("oxxalpha", dll({"oxxcommon", "oxxbeta"}, {"f1"}));
    kte.add("oxxbeta", dll({"oxxcommon", "oxxalpha"}, {"f2", "f1"}));
    kte.add("oxxcommon", dll({"oxxprog"}));
    EXPECT_RUN(ldd(kte, {"oxxprog"}), 0,
               text(R"(oxxprog => $DIR/obj/oxxpro/oprog
    oxxalpha => $DIR/obj/oxxalp/oalpha
        oxxcommon => $DIR/obj/oxxcom/ocommon
            oxxprog => $DIR/obj/oxxpro/oprog (cycle)
        oxxbeta => $DIR/obj/oxxbet/obeta
            oxxcommon => $DIR/obj/oxxcom/ocommon (already shown)
            oxxalpha => $DIR/obj/oxxalp/oalpha (cycle)
    oxxbeta => $DIR/obj/oxxbet/obeta (already shown)
    $DIR/obj/oxxalp/oalpha => $DIR/obj/oxxalp/oalpha (already shown)
)",
                    kte.dir()),
               text("oxxprog: Warning: Function 'f1' in DLL 'oxxbeta' ignored. Taken from DLL "
                    "'oxxalpha'\n"
                    "oxxprog: Warning: Function 'f1' in DLL '$DIR/obj/oxxalp/oalpha' ignored. "
                    "Taken from DLL 'oxxalpha'\n",
                    kte.dir()));
}

// Several objects in one run: one that cannot be opened, a damaged one and
// a DLL whose checksum holds but whose prototypes run past their section are
// reported, and the run goes on. The corrupt DLL ends the check of the first
// object that reaches it and is shown as damaged to the later ones.
TEST(Ldd, SeveralObjectsInOneRun) {
    objrun::Installation kte;
    kte.add("oxxprog", program({"oxxcorrupt"}, {{"fc", 1}}));
    objw::ObjSpec corrupt = dll({}, {"fc"});
    corrupt.sections[SEC_PROTOTYPES].raw = std::vector<uint8_t>{0x00, 0xFF, 'f'};
    kte.add("oxxcorrupt", corrupt);
    objw::ObjSpec damaged = program({"oxxcorrupt"}, {});
    damaged.header.checksum_delta = -1;
    const std::vector<uint8_t> image = kte.add("oxxdamaged", damaged);
    kte.add("oxxalone", program({}, {}));

    RunResult r = ldd(kte, {"oxxprog", "oxxnosuch", "oxxdamaged", "oxxalone"});
    EXPECT_RUN(r, 1,
               text(R"(oxxprog => $DIR/obj/oxxpro/oprog
oxxdamaged => $DIR/obj/oxxdam/odamaged (damaged)
    oxxcorrupt => $DIR/obj/oxxcor/ocorrupt (damaged)
oxxalone => $DIR/obj/oxxalo/oalone
)",
                    kte.dir()),
               objrun::fatal("Object is corrupt: prototypes section runs past the end of its data",
                             "ocorrupt") +
                   "oxxnosuch: No such file or directory\n" +
                   objrun::fatal("Can't open object 'oxxnosuch' for reading", "oxxnosuch") +
                   "oxxdamaged: Error: " + checksums(image) +
                   "\n"
                   "oxxdamaged: Error: DLL 'oxxcorrupt' is damaged.\n");
}

TEST(Ldd, Usage) {
    const std::string usage = "Show the DLLs of objects and check their linkage\n"
                              "\nUsage: zel_ldd [-m] object ...\n\n"
                              "   -qo <out>: Redirect output to file out\n"
                              "   -qe <err>: Redirect error output to file err\n"
                              "   -set <env=val>:\n"
                              "            set environment variable\n"
                              "   -m       : run without shared memory\n";
    objrun::Installation kte;
    EXPECT_RUN(ldd(kte, {}), 1, "", usage);
    EXPECT_RUN(ldd(kte, {"-s", "oxxprog"}), 1, "", "zel_ldd: illegal option s\n" + usage);
    EXPECT_RUN(ldd(kte, {"oxxprog", ""}), 1, "", usage);
}

} // namespace
