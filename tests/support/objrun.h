// Runs the built tool on objects made by the object writer: the object is
// written into a temporary directory and named by its path, so no
// installation is needed to find it; the sample installation still supplies
// the environment and the data dictionary (run with -m).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "objwriter.h"
#include "run.h"

namespace objrun {

// The object's file name; messages are prefixed with it.
inline const std::string BASE = "otest";

// A log directory of this test process, so that no test writes into the
// sample installation.
inline const std::string &test_log() {
    static const TempDir dir;
    return dir.path();
}

// The sample installation (with the log of this test process) and a 4GL user
// name, without which the tool ends at log set-up.
inline std::vector<std::string> sample_env() {
    return {"KTE=" SAMPLE_KTE, "KTE_LOG=" + test_log(), "T=tty1", "USER=tester"};
}

// Runs the tool with `options` (plus -m) on the object at `path`.
inline RunResult run_object(const std::string &path, std::vector<std::string> options = {}) {
    options.push_back("-m");
    options.push_back(path);
    return run_zel_info(options, sample_env());
}

// A built object stored at `<tmp>/oxxtes/otest` (or at `stored_as` below the
// temporary directory, while the file-name checksum still names the usual
// place).
class TestObject {
  public:
    explicit TestObject(const objw::ObjSpec &desc, const std::string &stored_as = "")
        : path_(dir_.path() + "/oxxtes/" + BASE) {
        image_ = objw::build_object(desc, path_, &layout_);
        if (!stored_as.empty()) path_ = dir_.path() + "/" + stored_as;
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
        write_file(path_, std::string(image_.begin(), image_.end()));
    }
    const std::string &path() const { return path_; }
    const std::vector<uint8_t> &image() const { return image_; }
    const objw::Layout &layout() const { return layout_; }

    // Runs the tool with `options` (plus -m) on this object.
    RunResult run(std::vector<std::string> options = {}) const {
        return run_object(path_, std::move(options));
    }

  private:
    TempDir dir_;
    std::string path_;
    std::vector<uint8_t> image_;
    objw::Layout layout_;
};

// A temporary installation with the sample's settings, file definitions and
// data dictionary; objects are written where its definitions find them
// (o names under $KTE/obj).
class Installation {
  public:
    Installation() {
        for (const char *sub : {"lib", "dd"})
            std::filesystem::copy(SAMPLE_KTE "/" + std::string(sub), dir() + "/" + sub,
                                  std::filesystem::copy_options::recursive);
    }
    const std::string &dir() const { return dir_.path(); }
    std::string path(const std::string &name) const {
        return objw::object_path(dir() + "/obj", name);
    }
    std::vector<std::string> env() const {
        return {"KTE=" + dir(), "KTE_LOG", "T=tty1", "USER=tester"};
    }
    // Writes object `name` where the definitions find it; returns its bytes.
    std::vector<uint8_t> add(const std::string &name, const objw::ObjSpec &desc) const {
        std::vector<uint8_t> image = objw::build_object(desc, path(name));
        write_file(path(name), std::string(image.begin(), image.end()));
        return image;
    }

  private:
    TempDir dir_;
};

// Where the sections and trailing blocks of `desc` lie (to aim patches).
inline objw::Layout layout_of(const objw::ObjSpec &desc) {
    objw::Layout l;
    objw::build_object(desc, "/x/oxxtes/" + BASE, &l);
    return l;
}

inline std::string banner(const std::string &title) {
    std::string b = std::string(27, '-') + title;
    return b + std::string(72 - b.size(), '-');
}

// The block that starts with the banner of `title`: the banner line and its
// lines, up to the empty line in front of the next banner. Empty when the
// report has no such block.
inline std::string block(const std::string &out, const std::string &title) {
    size_t at = out.find(banner(title) + "\n");
    if (at == std::string::npos) return "";
    size_t end = out.find("\n\n" + std::string(27, '-'), at);
    return out.substr(at, end == std::string::npos ? std::string::npos : end + 1 - at);
}

// The part of a report from the banner of `first` up to the empty line in
// front of the banner of `end`.
inline std::string blocks(const std::string &out, const std::string &first,
                          const std::string &end) {
    const std::string lead = "\n" + std::string(27, '-');
    size_t from = out.find(lead + first);
    size_t to = out.find(lead + end);
    if (from == std::string::npos || to == std::string::npos || to < from)
        return "<no " + first + " ... " + end + " in the report>";
    return out.substr(from, to - from);
}

// Expected texts are raw strings in which the two characters \t stand for a
// tab and $DIR for `dir`. Some lines end in blanks (the flags line, short
// mnemonics padded to eight columns): they are part of the text.
inline std::string text(std::string_view raw, const std::string &dir = "") {
    std::string out;
    for (size_t i = 0; i < raw.size(); ++i) {
        if (raw.compare(i, 2, "\\t") == 0) {
            out += '\t';
            ++i;
        } else if (raw.compare(i, 4, "$DIR") == 0) {
            out += dir;
            i += 3;
        } else {
            out += raw[i];
        }
    }
    return out;
}

// Listing tests are written side by side: assembler source on the left of a
// '|', the listing lines that it gives on the right (in the notation of
// text()). A line without '|' is source only; a line with nothing in front of
// the '|' is listing only.
struct SideBySide {
    std::string source, listing;
};
inline SideBySide side_by_side(std::string_view raw) {
    SideBySide r;
    while (!raw.empty()) {
        size_t end = raw.find('\n');
        std::string_view line = raw.substr(0, end);
        raw = end == std::string_view::npos ? std::string_view() : raw.substr(end + 1);
        size_t bar = line.find('|');
        r.source += std::string(line.substr(0, bar)) + "\n";
        if (bar == std::string_view::npos) continue;
        std::string_view right = line.substr(bar + 1);
        if (!right.empty() && right[0] == ' ') right.remove_prefix(1);
        r.listing += text(right) + "\n";
    }
    return r;
}

// Standard error of a run that ends with the fatal error `message`.
inline std::string fatal(const std::string &message, const std::string &base = BASE) {
    return base + ": Fatal Error: " + message + "\n\n  1 ERROR     REPORTED.\n\n";
}

inline std::string error_line(const std::string &message) {
    return BASE + ": Error: " + message + "\n";
}

inline uint32_t be32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

// The "Illegal checksum" message for an image whose stored checksum does
// not match its contents: the expected value first, then what the loader
// sums. Both include the four bytes of the stored checksum.
inline std::string illegal_checksum(const std::vector<uint8_t> &image) {
    constexpr size_t at = 178;
    uint32_t own = uint32_t(image[at]) + image[at + 1] + image[at + 2] + image[at + 3];
    uint32_t expected = be32(image, at) + own;
    uint32_t computed = objw::object_checksum(image) + own;
    return "Illegal checksum " + std::to_string(int32_t(expected)) + " expected " +
           std::to_string(int32_t(computed)) + "\n";
}

} // namespace objrun
