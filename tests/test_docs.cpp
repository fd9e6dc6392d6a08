// The examples of the user documentation run as written and print what the
// documents show.
//
// An example is a line that begins with "$ " inside a fenced block (```) of
// README.md or of a page doc/*.md, or inside a .nf/.fi block of a manual page
// doc/*.1 (with the escapes \- \e \& and \fX resolved). The lines after it, up
// to the next "$ " line or the end of the block, are what the command prints
// on standard output and standard error together; "..." in such a line stands
// for any text. The command ends with status 0 unless its line ends in the
// comment "# exit status N".
//
// The commands of one block run in turn, each by /bin/sh, in a fresh tree that
// stands for the project directory after make run: build/kte is a copy of the
// sample installation and build/ holds the commands; the environment holds
// only PATH (build/ first), KTE=build/kte and USER.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <regex>
#include <string>
#include <string_view>
#include <vector>

#include "run.h"

namespace {

namespace fs = std::filesystem;

struct Example {
    int line; // where the command stands in the document
    std::string command;
    int status = 0;
    std::string output;
};
using Block = std::vector<Example>;

std::string unescape_roff(const std::string &line) {
    std::string s = std::regex_replace(line, std::regex(R"(\\f.|\\&)"), "");
    s = std::regex_replace(s, std::regex(R"(\\-)"), "-");
    return std::regex_replace(s, std::regex(R"(\\e)"), "\\");
}

std::vector<Block> examples(const fs::path &doc) {
    const bool man = doc.extension() == ".1";
    static const std::regex status_note(R"(#\s*exit status (\d+)\s*$)");
    std::ifstream in(doc);
    std::vector<Block> blocks;
    bool inside = false;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        const bool fence = man ? line == ".nf" || line == ".fi" : line.starts_with("```");
        if (fence) {
            inside = man ? line == ".nf" : !inside;
            if (inside) blocks.emplace_back();
            continue;
        }
        if (!inside || (man && line.starts_with("."))) continue;
        if (man) line = unescape_roff(line);
        Block &block = blocks.back();
        std::smatch note;
        if (line.starts_with("$ ")) {
            block.push_back({n, line.substr(2), 0, ""});
            if (std::regex_search(block.back().command, note, status_note))
                block.back().status = std::stoi(note[1]);
        } else if (!block.empty()) {
            block.back().output += line + "\n";
        }
    }
    std::erase_if(blocks, [](const Block &b) { return b.empty(); });
    return blocks;
}

// `got` is `want`, where each "..." of `want` stands for any text of a line.
bool matches(std::string_view want, std::string_view got) {
    const size_t dots = want.find("...");
    if (dots == std::string_view::npos) return want == got;
    if (got.substr(0, dots) != want.substr(0, dots)) return false;
    for (size_t at = dots;; ++at) {
        if (matches(want.substr(dots + 3), got.substr(at))) return true;
        if (at == got.size() || got[at] == '\n') return false;
    }
}

void run_block(const std::string &doc, const Block &block) {
    TempDir tree;
    const std::string build = tree.path() + "/build";
    fs::create_directories(build + "/kte/log");
    for (const char *sub : {"lib", "dd", "obj"})
        fs::copy(SAMPLE_KTE "/" + std::string(sub), build + "/kte/" + sub,
                 fs::copy_options::recursive);
    for (const char *command : {ZEL_INFO_BIN, ZEL_LDD_BIN, ZEL_SHMLOAD_BIN})
        fs::create_symlink(command, build + "/" + fs::path(command).filename().string());
    auto sh = [&](const std::string &command) {
        return run_program("/usr/bin/env",
                           {"-i", "PATH=" + build + ":/usr/bin:/bin", "KTE=build/kte",
                            "USER=tester", "/bin/sh", "-c", "exec 2>&1\n" + command},
                           {}, tree.path());
    };
    for (const Example &e : block) {
        SCOPED_TRACE(doc + ":" + std::to_string(e.line) + ": " + e.command);
        RunResult r = sh(e.command);
        EXPECT_EQ(r.status, e.status);
        if (!matches(e.output, r.out)) {
            EXPECT_EQ(r.out, e.output);
        }
    }
    sh("zel_shmload -r >/dev/null"); // a segment that the block left
}

TEST(Documentation, ExamplesRunAsWritten) {
    std::vector<fs::path> docs{SOURCE_DIR "/README.md"};
    for (const fs::directory_entry &f : fs::directory_iterator(SOURCE_DIR "/doc"))
        if (f.path().extension() == ".1" || f.path().extension() == ".md") docs.push_back(f.path());
    std::sort(docs.begin(), docs.end());
    for (const fs::path &doc : docs) {
        size_t count = 0;
        for (const Block &block : examples(doc)) {
            run_block(doc.filename().string(), block);
            count += block.size();
        }
        // The README and every manual page show examples.
        if (doc.extension() == ".1" || doc.filename() == "README.md") {
            EXPECT_GT(count, 0u) << doc;
        }
        std::cout << doc.filename().string() << ": " << count << " examples\n";
    }
}

} // namespace
