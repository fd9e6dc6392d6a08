// zel_ldd through the built command, on installations of writer-made
// objects: the trees, every kind of faulty DLL and import, the argument
// counts of calls, the checks of -r, -l, -u and -j, and the command line.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <utility>
#include <vector>

#include "assembler.h"
#include "objrun.h"
#include "zel.h"

using namespace objrun;

namespace {

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

// The error of `object` for an import that no used DLL supplies, with the
// hint of the DLL it was recorded in, if any.
std::string unresolved(const std::string &fn, const std::string &dll = "",
                       const std::string &object = "oxxprog") {
    return object + ": Error: Unresolved reference to function '" + fn + "'." +
           (dll.empty() ? "" : " (Hint: Located in DLL: " + dll + ")") + "\n";
}

// Missing, malformed and damaged DLLs supply nothing (a DLL whose checksum
// holds but whose prototypes run past their section is damaged too); every
// import that no used DLL exports is an error naming the DLL it was recorded
// in (none for a function without code); one taken from another DLL is a
// warning. The objects after it in the run, one that cannot be opened and a
// damaged one, are reported, and the run goes on. Every object that reaches
// the corrupt DLL is told why it would not load.
TEST(Ldd, BrokenDllsAndUnresolvedFunctionsOfSeveralObjects) {
    objrun::Installation kte;
    const Imports imports = {{"fa", 1}, {"fx", 1}, {"fg", 2},     {"fb", 3},
                             {"fd", 4}, {"fc", 6}, {"fmoved", 1}, {"fzero", 0}};
    objw::ObjSpec prog = program(
        {"oxxalpha", "oxxgone", "oxxbad", "oxxdmg", "oxxother", "oxxcorrupt"}, imports, {"fnone"});
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
    objw::ObjSpec corrupt = dll({}, {"fc"});
    corrupt.sections[SEC_PROTOTYPES].raw = std::vector<uint8_t>{0x00, 0xFF, 'f'};
    kte.add("oxxcorrupt", corrupt);
    objw::ObjSpec damaged_prog = program({"oxxcorrupt"}, {});
    damaged_prog.header.checksum_delta = -1;
    const std::vector<uint8_t> prog_image = kte.add("oxxdamaged", damaged_prog);
    kte.add("oxxalone", program({}, {}));

    const std::string reason = "Error: DLL 'oxxcorrupt' is damaged: Object is corrupt: "
                               "prototypes section runs past the end of its data\n";
    EXPECT_RUN(ldd(kte, {"oxxprog", "oxxnosuch", "oxxdamaged", "oxxalone"}), 1,
               text(R"(oxxprog => $DIR/obj/oxxpro/oprog
    oxxalpha => $DIR/obj/oxxalp/oalpha
    oxxgone => not found
    oxxbad => $DIR/obj/oxxbad/obad (not in proper format)
    oxxdmg => $DIR/obj/oxxdmg/odmg (damaged)
    oxxother => $DIR/obj/oxxoth/oother
    oxxcorrupt => $DIR/obj/oxxcor/ocorrupt (damaged)
oxxdamaged => $DIR/obj/oxxdam/odamaged (damaged)
    oxxcorrupt => $DIR/obj/oxxcor/ocorrupt (damaged)
oxxalone => $DIR/obj/oxxalo/oalone
)",
                    kte.dir()),
               "oxxprog: Error: Can't open DLL 'oxxgone' for reading\n"
               "oxxprog: Error: DLL 'oxxbad' not in proper format.\n"
               "oxxprog: Error: " +
                   checksums(image) + " in DLL 'oxxdmg'\noxxprog: " + reason +
                   unresolved("fx", "oxxalpha") + unresolved("fg", "oxxgone") +
                   unresolved("fb", "oxxbad") + unresolved("fd", "oxxdmg") +
                   unresolved("fc", "oxxcorrupt") +
                   "oxxprog: Warning: Function 'fmoved' taken from DLL 'oxxother'. (Hint: "
                   "Located in DLL: oxxalpha)\n" +
                   unresolved("fnone") + unresolved("finside") +
                   "oxxnosuch: No such file or directory\n"
                   "oxxnosuch: Fatal Error: Can't open object 'oxxnosuch' for reading\n"
                   "oxxdamaged: Error: " +
                   checksums(prog_image) + "\noxxdamaged: " + reason);
}

// A DLL reached again, also under another path text (the same file), is
// shown once and read once; a reference back to a DLL on the way down, or to
// the object itself, ends the descent. A second export of a name by another
// DLL is ignored with the duplicate warning. None of this keeps the program
// from linking, through DLLs of both releases (oxxgam61 is of release 61). The
// DLLs export more functions than the program has entries, which must not
// touch the program's function-number table; a function without code (fb) is
// linked like the bound ones.
TEST(Ldd, SharedDllsCyclesAndDuplicateExports) {
    objrun::Installation kte;
    const std::string alpha_path = kte.path("oxxalpha");
    const std::string alpha_again = kte.dir() + "/obj/oxxalp/../oxxalp/oalpha";
    kte.add("oxxprog", program({"oxxalpha", "oxxbeta", alpha_path, alpha_again, "oxxgam61"},
                               {{"f1", 1}, {"f2", 2}, {"fg", 5}}, {"fb"}));
    kte.add("oxxalpha", dll({"oxxcommon", "oxxbeta"}, {"a0", "a1", "a2", "a3", "fb", "f1"}));
    kte.add("oxxbeta", dll({"oxxcommon", "oxxalpha"}, {"f2", "f1"}));
    kte.add("oxxcommon", dll({"oxxprog"}));
    kte.add("oxxgam61", dll({"oxxbeta"}, {"g0", "fg"}, 61));
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
    $DIR/obj/oxxalp/../oxxalp/oalpha => $DIR/obj/oxxalp/oalpha (already shown)
    oxxgam61 => $DIR/obj/oxxgam/ogam61
        oxxbeta => $DIR/obj/oxxbet/obeta (already shown)
)",
                    kte.dir()),
               "oxxprog: Warning: Function 'f1' in DLL 'oxxbeta' ignored. Taken from DLL "
               "'oxxalpha'\n");
}

// A DLL is sound only when zel_info would load it. Each of these keeps its
// checksum, yet the loader rejects it: a function-table entry naming a used
// DLL that it lacks, a prototype whose function number lies outside its
// function table, an EXT_SYM prototype, used-DLL names that run past their
// section; a used-DLL name that reaches /dev/zero is not in proper format.
// Each is reported with the loader's reason by every object that reaches it,
// and supplies nothing: the output of an object does not depend on what was
// checked before it. A DLL that loads but whose loading reports an error
// (a domain that the dictionary lacks) supplies its functions.
TEST(Ldd, ADllIsSoundOnlyWhenItLoads) {
    objrun::Installation kte;
    objw::ObjSpec lacking = dll({}, {"f1"});
    lacking.functions.emplace_back("fx", FUNCTION | EXTERN, 3);
    kte.add("oxxlack", lacking);
    objw::ObjSpec outside = dll({}, {"f2"});
    outside.prototypes[0].funnr = 5;
    kte.add("oxxout", outside);
    objw::ObjSpec ext = dll({}, {"f3"});
    ext.prototypes[0].flags = LONG | EXT_SYM;
    kte.add("oxxext", ext);
    objw::ObjSpec names = dll({"oxxlack"}, {"f4"});
    names.sections[SEC_USED_DLLS].count = 2;
    kte.add("oxxnames", names);
    objw::ObjSpec domain = dll({}, {"f5"}); // sound, but its loading reports an error
    domain.symbols.emplace_back("amount", LONG, std::vector<uint32_t>{}, 0, "xxnone");
    kte.add("oxxdom", domain);
    kte.add("oxxprog", program({"oxxlack", "oxxout", "oxxext", "oxxnames", "/dev/zero", "oxxdom"},
                               {{"f1", 1}, {"f2", 2}, {"f3", 3}, {"f4", 4}, {"f5", 6}}));
    const std::string tree = text(R"(oxxprog => $DIR/obj/oxxpro/oprog
    oxxlack => $DIR/obj/oxxlac/olack (damaged)
    oxxout => $DIR/obj/oxxout/oout (damaged)
    oxxext => $DIR/obj/oxxext/oext (damaged)
    oxxnames => $DIR/obj/oxxnam/onames (damaged)
    /dev/zero => /dev/zero (not in proper format)
    oxxdom => $DIR/obj/oxxdom/odom
)",
                                  kte.dir());
    const std::string reasons =
        "oxxprog: Error: DLL 'oxxlack' is damaged: DLL with number '3' not found.\n"
        "oxxprog: Error: DLL 'oxxout' is damaged: Object is corrupt\n"
        "oxxprog: Error: DLL 'oxxext' is damaged: EXT_SYM symbol type is not supported\n"
        "oxxprog: Error: DLL 'oxxnames' is damaged: Object is corrupt: used DLL's section "
        "runs past the end of its data\n"
        "oxxprog: Error: DLL '/dev/zero' not in proper format.\n"
        "oxxprog: Error: DLL 'oxxdom': Domain 'xxnone' not found in data dictionary.\n";
    const std::string unsupplied = unresolved("f1", "oxxlack") + unresolved("f2", "oxxout") +
                                   unresolved("f3", "oxxext") + unresolved("f4", "oxxnames");
    EXPECT_RUN(ldd(kte, {"oxxprog", "oxxprog"}), 1, tree + tree,
               reasons + unsupplied + reasons + unsupplied);
}

// A deployment check never gives up, and what a DLL costs is what linking
// needs of it: of 90 used DLLs, 70 are missing, and the 70 functions taken
// from them are 140 errors, each reported; the other twenty, of 4 MB of code
// each, are read one after the other, and none of them stays.
TEST(Ldd, EveryProblemIsReportedAndNoDllStays) {
    objrun::Installation kte;
    std::vector<std::string> uses;
    Imports imports;
    for (int i = 0; i < 90; i++) {
        uses.push_back("oxxm" + std::to_string(100 + i));
        imports.emplace_back("f" + std::to_string(i), uint32_t(i + 1));
        if (i < 70) continue;
        objw::ObjSpec large = dll({}, {imports.back().first});
        large.code.assign(size_t(4) << 20, 0);
        kte.add(uses.back(), large);
    }
    kte.add("oxxprog", program(uses, imports));
    RunResult r = ldd(kte, {"oxxprog"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 91);
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 140) << r.err;
    EXPECT_NE(r.err.find(unresolved("f69", "oxxm169")), std::string::npos);
    EXPECT_TRUE(MEMORY_SANITIZED || r.peak_kb < 24 * 1024) << r.peak_kb << " kB";
}

// Every call of a DLL's function by number is checked against the
// prototype: at least its required arguments, at most its argument count
// unless the list is variable; the forms without a count pass none.
// The walk through the code ends where an instruction cannot be decoded.
TEST(Ldd, ArgumentCountsOfCalls) {
    objrun::Installation kte;
    objw::ObjSpec args = dll({}, {"f0", "f2", "f13", "fv"});
    args.prototypes[1].args = {objw::ProtoArg("a"), objw::ProtoArg("b")};
    args.prototypes[2].args = {objw::ProtoArg("a"), objw::ProtoArg("b"), objw::ProtoArg("c")};
    args.prototypes[2].required = 1;
    args.prototypes[3].args = {objw::ProtoArg("a"), objw::ProtoArg("b")};
    args.prototypes[3].argcount = 255;
    kte.add("oxxargs", args);
    objw::ObjSpec prog = program({"oxxargs"}, {{"f0", 1}, {"f2", 1}, {"f13", 1}, {"fv", 1}});
    prog.code = assemble(R"(
        .function 0
        S_JSR 0 1       ;  7
        S_JSR 1 1       ; 11 f0 with one
        S_JSR 2 2       ; 15
        S_JSR_P 1 2     ; 19 f2 with one
        I_JSR 3 2       ; 23 f2 with three
        S_JSR 1 3       ; 27
        I_JSR_P 3 3     ; 31
        S_JSR 0 3       ; 35 f13 with none
        S_JSR 4 3       ; 39 f13 with four
        S_JSR 2 4       ; 43
        S_JSR 200 4     ; 47
        S_JSR 1 4       ; 51 fv with one
        S_JSR_0 1       ; 55
        S_JSR_0P 2      ; 58 f2 with none
        RET
        .link
        .byte 250
        S_JSR 0 2       ; not checked: the walk ends at a byte it cannot decode)");
    kte.add("oxxprog", prog);
    auto call = [](const char *fn, int n, int at, const char *takes) {
        return "oxxprog: Error: Function '" + std::string(fn) + "' called with " +
               std::to_string(n) + " arguments at " + std::to_string(at) +
               ", but DLL 'oxxargs' takes " + takes + ".\n";
    };
    RunResult r = ldd(kte, {"oxxprog"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, call("f0", 1, 11, "0") + call("f2", 1, 19, "2") + call("f2", 3, 23, "2") +
                         call("f13", 0, 35, "1 to 3") + call("f13", 4, 39, "1 to 3") +
                         call("fv", 1, 51, "at least 2") + call("f2", 0, 58, "2"));
}

// -r links every DLL's own imports against its own used DLLs and checks its
// calls, its messages prefixed by its name; -u warns of used DLLs that
// supply nothing; -l lists each DLL file once over all objects; -j writes
// the same verdicts as one JSON document.
TEST(Ldd, RecursiveUnusedListAndJson) {
    objrun::Installation kte;
    kte.add("oxxbase", dll({}, {"b1"}));
    objw::ObjSpec mid = dll({"oxxbase", "oxxidle"}, {"m1"});
    mid.functions.emplace_back("b1", FUNCTION | EXTERN, 1);
    mid.functions.emplace_back("b2", FUNCTION | EXTERN, 1);
    mid.code = assemble(".function 0\nS_JSR 1 1\nRET\n.link");
    kte.add("oxxmid", mid);
    kte.add("oxxidle", dll({}, {"i1"}));
    kte.add("oxxprog", program({"oxxmid", "oxxbase"}, {{"m1", 1}}));
    kte.add("oxxother", program({"oxxbase"}, {{"b1", 1}}));

    RunResult r = ldd(kte, {"-r", "-u", "oxxprog"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, "oxxprog: Warning: DLL 'oxxbase' is used but supplies no function.\n" +
                         unresolved("b2", "oxxbase", "oxxmid") +
                         "oxxmid: Error: Function 'b1' called with 1 arguments at 7, but DLL "
                         "'oxxbase' takes 0.\n"
                         "oxxmid: Warning: DLL 'oxxidle' is used but supplies no function.\n");
    EXPECT_EQ(ldd(kte, {"oxxprog"}).status, 0); // the DLLs' own faults need -r

    EXPECT_RUN(ldd(kte, {"-l", "oxxprog", "oxxother"}), 0,
               text(R"(oxxmid => $DIR/obj/oxxmid/omid
oxxbase => $DIR/obj/oxxbas/obase
oxxidle => $DIR/obj/oxxidl/oidle
)",
                    kte.dir()),
               "");

    r = ldd(kte, {"-j", "-r", "oxxprog", "oxxnosuch"});
    EXPECT_EQ(r.status, 1);
    const nlohmann::json doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["status"], 1);
    const nlohmann::json &prog = doc["objects"][0];
    EXPECT_EQ(prog["name"], "oxxprog");
    EXPECT_EQ(prog["checksum"], "ok");
    EXPECT_EQ(prog["dlls"][0]["name"], "oxxmid");
    EXPECT_EQ(prog["dlls"][0]["dlls"][1]["name"], "oxxidle");
    EXPECT_EQ(prog["dlls"][1]["mark"], "already shown");
    EXPECT_EQ(prog["dll_checks"][0]["name"], "oxxmid");
    EXPECT_EQ(prog["dll_checks"][0]["unresolved"][0]["function"], "b2");
    EXPECT_EQ(prog["dll_checks"][0]["argument_errors"][0]["takes"], "0");
    EXPECT_EQ(doc["objects"][1]["loaded"], false);
    EXPECT_EQ(doc["objects"][1]["path"], nullptr);
    EXPECT_EQ(doc["objects"][1]["errors"][0], "Can't open object 'oxxnosuch' for reading");
    EXPECT_EQ(doc["dlls"].size(), 3u);
    auto keys = [](const nlohmann::json &j) {
        std::string all;
        for (const auto &[key, value] : j.items())
            all += key + " ";
        return all;
    };
    EXPECT_EQ(keys(doc), "dlls objects status ");
    EXPECT_EQ(keys(prog), "argument_errors checksum dll_checks dlls errors loaded name path "
                          "unresolved warnings ");
    EXPECT_EQ(keys(prog["dll_checks"][0]), "argument_errors errors name unresolved warnings ");
    EXPECT_EQ(keys(prog["dll_checks"][0]["argument_errors"][0]),
              "arguments dll function position takes ");
    EXPECT_EQ(keys(prog["dll_checks"][0]["unresolved"][0]), "dll function ");
    EXPECT_EQ(keys(doc["dlls"][0]), "mark name path ");
}

TEST(Ldd, Usage) {
    const std::string usage = "Show the DLLs of objects and check their linkage\n"
                              "\nUsage: zel_ldd [-rlujVm] object ...\n\n"
                              "   -r       : Check the imports and calls of every DLL too\n"
                              "   -l       : List each DLL file once instead of the trees\n"
                              "   -u       : Warn of used DLLs that supply no function\n"
                              "   -j       : Write the result as one JSON document\n"
                              "   -qo <out>: Redirect output to file out\n"
                              "   -qe <err>: Redirect error output to file err\n"
                              "   -set <env=val>:\n"
                              "            set environment variable\n"
                              "   -V       : Show version\n"
                              "   --help   : Show this text\n"
                              "   -m       : run without shared memory\n";
    objrun::Installation kte;
    EXPECT_RUN(ldd(kte, {}), 1, "", usage);
    EXPECT_RUN(ldd(kte, {"-s", "oxxprog"}), 1, "", "zel_ldd: illegal option s\n" + usage);
    EXPECT_RUN(ldd(kte, {"oxxprog", ""}), 1, "", usage);
    EXPECT_RUN(ldd(kte, {"--help"}), 0, usage, "");
    RunResult r = ldd(kte, {"-V"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("zel_ldd: deployment check"), std::string::npos) << r.err;
}

} // namespace
