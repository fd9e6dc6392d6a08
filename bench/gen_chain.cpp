// Writes the DLL chain of the zel_ldd benchmark: a program object oxxchain
// that uses the DLL oxxc0000, which uses oxxc0001, and so on down to the
// last DLL of the chain, which uses none. Every DLL exports two functions;
// the program takes the two of the first DLL, so that the linking reads the
// prototypes of the chain's head, and the tree descends through every DLL.
//
// Usage: gen_chain OBJROOT [LENGTH]
//   writes OBJROOT/oxxcha/ochain and OBJROOT/oxxc<4 digits>/oc<4 digits>
//   for each DLL (LENGTH DLLs, default 1000, at most 10000).
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

#include "objwriter.h"
#include "zel.h"

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

} // namespace

int main(int argc, char **argv) {
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: gen_chain OBJROOT [LENGTH]\n");
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
