// Writes the objects of the zel_ldd benchmark.
//
// The chain: a program object oxxchain that uses the DLL oxxc0000, which
// uses oxxc0001, and so on down to the last DLL of the chain, which uses
// none. Every DLL exports two functions; the program takes the two of the
// first DLL, so that the linking reads the prototypes of the chain's head,
// and the tree descends through every DLL.
//
// The deployment: DLLS DLLs oxxd0000 ... that export 20 functions each
// (taking none to three arguments, one a variable list) and call four
// functions of another DLL (every tenth DLL is the base of the nine behind
// it, and the bases use each other in a ring), and PROGRAMS programs
// oxxp0000 ... that use four DLLs each and call ten functions of them, each
// a few times, with argument counts that the prototypes take.
//
// Usage: gen_chain OBJROOT [LENGTH]
//          writes OBJROOT/oxxcha/ochain and OBJROOT/oxxc<4 digits>/oc<4 digits>
//          for each DLL (LENGTH DLLs, default 1000, at most 10000).
//        gen_chain OBJROOT deploy [PROGRAMS [DLLS]]
//          writes the deployment (default 1000 programs over 50 DLLs).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "objwriter.h"
#include "zel.h"
#include "zel_asm.h"

namespace {

constexpr int DEFAULT_LENGTH = 1000;
constexpr int MAX_LENGTH = 10000;

std::string dll_name(int k) {
    char name[16];
    snprintf(name, sizeof name, "oxxc%04d", k);
    return name;
}

objw::ObjSpec chain_dll(int k, int length) {
    objw::ObjSpec s;
    s.kind = objw::Kind::Dll;
    if (k + 1 < length) s.used_dlls = {dll_name(k + 1)};
    const std::string base = "c" + std::to_string(k);
    for (const std::string &name : {base + "_open", base + "_close"}) {
        s.prototypes.emplace_back(name, uint16_t(s.functions.size()), LONG,
                                  std::vector<objw::ProtoArg>{objw::ProtoArg("handle")});
        s.functions.emplace_back(name);
    }
    return s;
}

objw::ObjSpec chain_program() {
    objw::ObjSpec s;
    s.used_dlls = {dll_name(0)};
    s.code = objw::function_frame(0);
    s.functions = {{"main"}, {"c0_open", FUNCTION | EXTERN, 1}, {"c0_close", FUNCTION | EXTERN, 1}};
    return s;
}

// ---------------------------------------------------------------------------
// The deployment

constexpr int EXPORTS = 20;
constexpr int USES = 4;     // DLLs per program
constexpr int IMPORTS = 10; // functions per program
constexpr int CALLS = 6;    // calls of each imported function

std::string numbered(const char *prefix, int k) {
    char name[16];
    snprintf(name, sizeof name, "%s%04d", prefix, k);
    return name;
}

// Export e of every DLL: its name, and the argument counts it takes.
std::string export_name(int dll, int e) {
    return "d" + std::to_string(dll) + "_f" + std::to_string(e);
}
int export_args(int e) {
    return e % 4; // 0 to 3; export 3 takes a variable list of at least 3
}

// A function frame that calls each of `calls` (argument count, function
// number) `times` times.
std::vector<uint8_t> calling_frame(const std::vector<std::pair<int, int>> &calls, int times) {
    std::vector<uint8_t> body;
    for (int t = 0; t < times; t++) {
        for (auto [args, funnr] : calls) {
            body.push_back(args == 0 ? op::S_JSR_0P : op::S_JSR_P);
            if (args != 0) body.push_back(uint8_t(args));
            objw::put_be(body, uint32_t(funnr), 2);
        }
    }
    return objw::function_frame(0, body);
}

objw::ObjSpec deploy_dll(int k, int dlls) {
    objw::ObjSpec s;
    s.kind = objw::Kind::Dll;
    s.functions = {{"init"}};
    // Every tenth DLL is a base of the nine behind it, which use it.
    const int base_dll = k % 10 == 0 ? (k + 10) % dlls : k - k % 10;
    s.used_dlls = {numbered("oxxd", base_dll)};
    std::vector<std::pair<int, int>> calls;
    for (int e = 0; e < 4; e++) {
        calls.emplace_back(export_args(e), int(s.functions.size()));
        s.functions.emplace_back(export_name(base_dll, e), FUNCTION | EXTERN, 1);
    }
    for (int e = 0; e < EXPORTS; e++) {
        std::vector<objw::ProtoArg> args;
        for (int a = 0; a < export_args(e); a++)
            args.emplace_back("a" + std::to_string(a));
        objw::Prototype &p =
            s.prototypes.emplace_back(export_name(k, e), uint16_t(s.functions.size()), LONG, args);
        if (e % 4 == 3) p.argcount = 255;
        s.functions.emplace_back(export_name(k, e), FUNCTION, 0);
    }
    s.code = calling_frame(calls, CALLS);
    return s;
}

objw::ObjSpec deploy_program(int k, int dlls) {
    objw::ObjSpec s;
    s.functions = {{"main"}};
    std::vector<std::pair<int, int>> calls;
    for (int u = 0; u < USES; u++) {
        const int dll = (k + u * 7) % dlls;
        s.used_dlls.push_back(numbered("oxxd", dll));
        for (int i = 0; i < IMPORTS / USES + (u < IMPORTS % USES); i++) {
            const int e = (k + 3 * i + u) % EXPORTS;
            calls.emplace_back(export_args(e) + (e % 4 == 3 ? k % 3 : 0), int(s.functions.size()));
            s.functions.emplace_back(export_name(dll, e), FUNCTION | EXTERN, uint32_t(u + 1));
        }
    }
    s.code = calling_frame(calls, CALLS);
    return s;
}

int write_deployment(const std::string &root, int programs, int dlls) {
    if (programs < 1 || programs > MAX_LENGTH || dlls < 1 || dlls > MAX_LENGTH) {
        fprintf(stderr, "gen_chain: PROGRAMS and DLLS must be 1 to %d\n", MAX_LENGTH);
        return 2;
    }
    for (int k = 0; k < dlls; k++)
        objw::write_object_file(deploy_dll(k, dlls), objw::object_path(root, numbered("oxxd", k)));
    for (int k = 0; k < programs; k++)
        objw::write_object_file(deploy_program(k, dlls),
                                objw::object_path(root, numbered("oxxp", k)));
    printf("%d programs over %d DLLs written to %s\n", programs, dlls, root.c_str());
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    if (argc >= 3 && std::string(argv[2]) == "deploy") {
        try {
            return write_deployment(argv[1], argc > 3 ? atoi(argv[3]) : 1000,
                                    argc > 4 ? atoi(argv[4]) : 50);
        } catch (const std::exception &e) {
            fprintf(stderr, "gen_chain: %s\n", e.what());
            return 1;
        }
    }
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: gen_chain OBJROOT [LENGTH]\n"
                        "       gen_chain OBJROOT deploy [PROGRAMS [DLLS]]\n");
        return 2;
    }
    const std::string root = argv[1];
    int length = argc == 3 ? atoi(argv[2]) : DEFAULT_LENGTH;
    if (length < 1 || length > MAX_LENGTH) {
        fprintf(stderr, "gen_chain: LENGTH must be 1 to %d\n", MAX_LENGTH);
        return 2;
    }
    try {
        objw::write_object_file(chain_program(), objw::object_path(root, "oxxchain"));
        for (int k = 0; k < length; k++)
            objw::write_object_file(chain_dll(k, length), objw::object_path(root, dll_name(k)));
    } catch (const std::exception &e) {
        fprintf(stderr, "gen_chain: %s\n", e.what());
        return 1;
    }
    printf("oxxchain and %d DLLs written to %s\n", length, root.c_str());
    return 0;
}
