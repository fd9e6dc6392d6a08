// zel_ldd: will these objects link and run? For each object named on the
// command line it shows the tree of the DLLs that the object uses,
// transitively, each found as the runtime finds it, and reports on standard
// error every DLL that is missing or would not load, every function that the
// object takes from a DLL that none of its used DLLs exports, and every call
// of a DLL's function with an argument count that the DLL does not take.
// The checks themselves are in zel_ldd_check.cpp; this file is the command
// line and what is written on standard output.
#include "zel_ldd.h"

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <unordered_set>

#include "zel_error.h"
#include "zel_info.h"
#include "zel_ldd_out.h"

namespace {

constexpr size_t INDENT = 4; // columns per level of the tree

const char *const usage_lines[] = {
    "Show the DLLs of objects and check their linkage\n",
    "\nUsage: %s [-rlujVm] object ...\n\n",
    "   -r       : Check the imports and calls of every DLL too\n",
    "   -l       : List each DLL file once instead of the trees\n",
    "   -u       : Warn of used DLLs that supply no function\n",
    "   -j       : Write the result as one JSON document\n",
};
const char *const last_usage_lines[] = {
    "   -V       : Show version\n",
    "   --help   : Show this text\n",
};

void ldd_usage(const char *progname, FILE *out) {
    print_usage(progname, usage_lines, std::size(usage_lines), out);
    print_usage(progname, common_usage_lines, COMMON_USAGE_LINES, out);
    print_usage(progname, last_usage_lines, std::size(last_usage_lines), out);
    fputs(NO_SHM_USAGE_LINE, out);
}

// ---------------------------------------------------------------------------
// JSON

// Names are ISO-8859-1 bytes; the document is UTF-8 text.
std::string utf8(const std::string &latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += char(c);
        } else {
            out += char(0xC0 | c >> 6);
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

nlohmann::ordered_json texts(const std::vector<std::string> &list) {
    nlohmann::ordered_json a = nlohmann::ordered_json::array();
    for (const std::string &t : list)
        a.push_back(utf8(t));
    return a;
}

nlohmann::ordered_json or_null(const std::string &text) {
    return text.empty() ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(utf8(text));
}

// A DLL of a tree or of the flat list: its name, where it was found (null:
// not found) and its mark.
nlohmann::ordered_json dll_node(const TreeLine &l) {
    const bool missing = l.dll && l.dll->state == DllState::not_found;
    return {{"name", utf8(l.name)},
            {"path", or_null(l.path)},
            {"mark", missing ? "not found" : l.mark}};
}

// The lines of a tree below depth `depth`, from `at` on, as nested nodes.
nlohmann::ordered_json subtree(const std::vector<TreeLine> &tree, size_t &at, size_t depth) {
    nlohmann::ordered_json nodes = nlohmann::ordered_json::array();
    while (at < tree.size() && tree[at].depth == depth) {
        nlohmann::ordered_json node = dll_node(tree[at++]);
        node["dlls"] = subtree(tree, at, depth + 1);
        nodes.push_back(std::move(node));
    }
    return nodes;
}

void add_link(nlohmann::ordered_json &j, const LinkReport &r) {
    nlohmann::ordered_json unresolved = nlohmann::ordered_json::array(),
                           calls = nlohmann::ordered_json::array();
    for (const Unresolved &u : r.unresolved)
        unresolved.push_back({{"function", utf8(u.function)}, {"dll", or_null(u.recorded)}});
    for (const ArgumentError &e : r.argument_errors)
        calls.push_back({{"function", utf8(e.function)},
                         {"position", e.position},
                         {"arguments", e.arguments},
                         {"dll", utf8(e.dll)},
                         {"takes", e.takes}});
    j["unresolved"] = std::move(unresolved);
    j["argument_errors"] = std::move(calls);
    j["errors"] = texts(r.errors);
    j["warnings"] = texts(r.warnings);
}

nlohmann::ordered_json object_json(const ObjectReport &rep) {
    nlohmann::ordered_json j = {
        {"name", utf8(rep.name)},
        {"path", or_null(rep.path)},
        {"loaded", rep.loaded},
        {"checksum", rep.loaded ? nlohmann::ordered_json(rep.sound ? "ok" : "mismatch")
                                : nlohmann::ordered_json(nullptr)}};
    size_t at = 1;
    j["dlls"] = rep.tree.empty() ? nlohmann::ordered_json::array() : subtree(rep.tree, at, 1);
    add_link(j, rep.link);
    nlohmann::ordered_json checks = nlohmann::ordered_json::array();
    for (const DllImage *d : rep.linked_dlls) {
        nlohmann::ordered_json c = {{"name", utf8(d->name)}};
        add_link(c, d->linkage);
        checks.push_back(std::move(c));
    }
    j["dll_checks"] = std::move(checks);
    return j;
}

// ---------------------------------------------------------------------------
// The command

void check_named_objects(const CommandLine &set, const char *prog) {
    if (set.objects.empty() ||
        std::any_of(set.objects.begin(), set.objects.end(), [](auto &o) { return o.empty(); }))
        ldd_usage(prog, stderr), throw StopRun{1};
    auto given = [&set](char c) { return set.letters.find(c) != std::string::npos; };
    LddOptions options;
    options.recursive = given('r');
    options.unused = given('u');
    const LddOutput output = given('j')   ? LddOutput::json
                             : given('l') ? LddOutput::list
                                          : LddOutput::tree;
    stop(check_linkage(set.objects, options, output));
}

} // namespace

void LddSink::line(const TreeLine &l) {
    if (output_ == LddOutput::json) return;
    if (output_ == LddOutput::list) {
        // Each DLL file once, where it is first reached.
        if (l.depth == 0 || !l.first_reach() || !listed_.insert(l.dll).second) return;
        text_.clear();
    } else {
        text_.assign(l.depth * INDENT, ' ');
    }
    text_ += l.name;
    text_ += " => ";
    if (l.dll && l.dll->state == DllState::not_found)
        text_ += "not found";
    else
        text_ += l.path;
    if (!l.mark.empty()) text_.append(" (").append(l.mark).append(")");
    text_ += '\n';
    fwrite(text_.data(), 1, text_.size(), stdout);
}

struct LddSink::Document {
    nlohmann::ordered_json objects = nlohmann::ordered_json::array();
    nlohmann::ordered_json dlls = nlohmann::ordered_json::array();
};

LddSink::LddSink(LddOutput output) : output_(output) {
    if (output == LddOutput::json) json_ = std::make_unique<Document>();
}

LddSink::~LddSink() = default;

void LddSink::object(const ObjectReport &rep) {
    if (!json_) return;
    json_->objects.push_back(object_json(rep));
    for (const TreeLine &l : rep.tree)
        if (l.dll && l.first_reach() && listed_.insert(l.dll).second)
            json_->dlls.push_back(dll_node(l));
}

void LddSink::finish(int status) {
    if (!json_) return;
    nlohmann::ordered_json doc = {{"objects", std::move(json_->objects)},
                                  {"dlls", std::move(json_->dlls)},
                                  {"status", status}};
    std::string text = doc.dump(2) + "\n";
    fwrite(text.data(), 1, text.size(), stdout);
}

int zel_ldd_main(int argc, char **argv) {
    static const CommandSyntax syntax{
        "zel_ldd", "deployment check of the 4GL runtime: DLLs, imports and calls",
        false,     "rluj",
        true,      ldd_usage};
    return run_command(argc, argv, syntax, check_named_objects);
}
