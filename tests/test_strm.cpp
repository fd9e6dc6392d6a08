// The buffered stream layer and output redirection.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

#include "al_env.h"
#include "al_strm.h"
#include "hal.h"
#include "run.h"

namespace {

std::string pattern(size_t n) {
    std::string s(n, 0);
    for (size_t i = 0; i < n; ++i)
        s[i] = char(i * 7 % 251);
    return s;
}

class Streams : public ::testing::Test {
  protected:
    TempDir dir;
    STREAM *open(const std::string &content, const char *mode = "r") {
        write_file(dir.path() + "/f", content);
        return sopen((dir.path() + "/f").c_str(), mode);
    }
};

// Reads larger than the buffer, seeks inside and outside the buffered bytes,
// relative to the logical position and to the end; the end-of-file and error
// flags stay until a seek.
TEST_F(Streams, ReadsSeeksAndFlags) {
    const std::string data = pattern(12000);
    STREAM *s = open(data);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(sgetc(s), (unsigned char)data[0]);
    EXPECT_EQ(sseek(s, 0, 2), 12000); // the end of the file, not of the bytes buffered
    EXPECT_EQ(sseek(s, 0, 0), 0);
    std::vector<char> buf(10000);
    ASSERT_EQ(sread_blok(buf.data(), buf.size(), s), 10000);
    EXPECT_EQ(std::string(buf.data(), buf.size()), data.substr(0, 10000));
    EXPECT_EQ(stream_stell(s, 0), 10000);
    for (long target : {8192L, 9000L, 11999L, 8191L, 100L}) {
        EXPECT_EQ(sseek(s, target, 0), target);
        EXPECT_EQ(sgetc(s), (unsigned char)data[size_t(target)]) << target;
        EXPECT_EQ(sseek(s, -1, 1), target); // relative to the logical position
        EXPECT_EQ(sgetc(s), (unsigned char)data[size_t(target)]) << target;
    }
    EXPECT_EQ(sseek(s, -2, 2), 11998);
    EXPECT_EQ(sread_blok(buf.data(), 100, s), 2);
    EXPECT_TRUE(seof(s) && !serror(s));
    EXPECT_EQ(sgetc(s), -1);
    EXPECT_EQ(sgets(buf.data(), 100, s), nullptr);
    EXPECT_TRUE(seof(s)); // reading does not clear it
    EXPECT_EQ(sseek(s, 0, 2), 12000);
    EXPECT_FALSE(seof(s));
    EXPECT_EQ(sseek(s, 3, 0), 3);
    EXPECT_EQ(sgetc(s), (unsigned char)data[3]);

    EXPECT_EQ(sseek(s, 0, 7), -1);
    EXPECT_TRUE(serror(s));
    EXPECT_EQ(sgets(buf.data(), 100, s), nullptr);
    errno = 0;
    EXPECT_EQ(swrite_blok("x", 1, s), -1); // not open for writing
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(sseek(s, 0, 0), 0);
    EXPECT_FALSE(serror(s));
    EXPECT_EQ(sgetc(s), (unsigned char)data[0]);
    EXPECT_EQ(sseek(s, -5, 0), -1); // a bad target fails and sets the error flag
    EXPECT_TRUE(serror(s));
    EXPECT_EQ(sclose(s), 0);
}

// A CR directly before the LF belongs to the line end, any other CR to the
// text. A short buffer ends a line early; a CR that fills it leaves the
// next byte for the next call, and a CR LF at that place still ends the
// line. sgetline drops what goes beyond its maximum.
TEST_F(Streams, LineEnds) {
    const struct {
        std::string text;
        int size; // of the sgets buffer
        std::vector<std::string> lines;
    } cases[] = {
        {"a\r\nb\rc\n\rx\n\nab\r\nab\rcd\nlast\r",
         64,
         {"a", "b\rc", "\rx", "", "ab", "ab\rcd", "last\r"}},
        {"ab\r\nab\rcd\nabcdefg\nz", 4, {"ab", "ab\r", "cd", "abc", "def", "g", "z"}},
        {std::string("a\0b\n\0x\nc", 8), 64, {"a", "", "c"}}, // a NUL byte is no end
    };
    for (const auto &c : cases) {
        STREAM *s = open(c.text);
        char buf[64];
        std::vector<std::string> lines;
        while (sgets(buf, c.size, s))
            lines.push_back(buf);
        EXPECT_EQ(lines, c.lines);
        EXPECT_EQ(sseek(s, 0, 0), 0); // back to the start of a file shorter than the buffer
        EXPECT_EQ(sgets(buf, c.size, s), c.lines[0]);
        sclose(s);
    }
    STREAM *s = open("a\r\nb\rc\n\rx\n\nlonger line\nlast\r");
    std::vector<std::string> lines;
    for (std::string line; sgetline(s, line, 6);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"a", "b\rc", "\rx", "", "longer", "last\r"}));
    sclose(s);
}

// Writes larger than the buffer, read back through the same stream; a write
// after reading lands at the logical position. Data still buffered at close
// reaches the file; appends go to its end.
TEST_F(Streams, WritesAreBufferedAndReadBack) {
    STREAM *s = open("", "w+");
    ASSERT_NE(s, nullptr);
    const std::string data = pattern(10000);
    EXPECT_EQ(swrite_blok(data.data(), data.size(), s), 10000);
    EXPECT_EQ(stream_stell(s, 0), 10000);
    EXPECT_EQ(sputs("tail", s), 4);
    EXPECT_EQ(sputc('!', s), '!');
    EXPECT_EQ(sseek(s, 0, 0), 0); // flushes
    std::string back(10005, 0);
    EXPECT_EQ(sread_blok(back.data(), back.size(), s), 10005);
    EXPECT_EQ(back, data + "tail!");
    EXPECT_EQ(sseek(s, 2, 0), 2);
    EXPECT_EQ(swrite_blok("XY", 2, s), 2);
    EXPECT_EQ(read_file(dir.path() + "/f").size(), 10005u);
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(read_file(dir.path() + "/f").substr(0, 6),
              data.substr(0, 2) + "XY" + data.substr(4, 2));

    s = sopen((dir.path() + "/f").c_str(), "ab");
    sputs("more", s);
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(read_file(dir.path() + "/f").substr(10005), "more");
}

TEST_F(Streams, OpenModesAndClosing) {
    int saved = dup(0);
    close(0); // the next descriptor is 0, as good as any
    STREAM *s = open("data", "rt");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(sfileno(s), 0);
    for (const char *bad : {"", "q", "rw", "r+b", "wbt", "a++", "x"}) // x: the file exists
        EXPECT_EQ(sopen((dir.path() + "/f").c_str(), bad), nullptr) << bad;
    EXPECT_TRUE(sflags(s) & STRM_TEXT);
    EXPECT_EQ(sflush(s), -1); // not open for writing
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(sclose(s), -1);
    EXPECT_EQ(sclose(nullptr), -1);
    dup2(saved, 0);
    close(saved);

    s = sopen((dir.path() + "/f").c_str(), "w");
    sputs("new", s);
    EXPECT_EQ(read_file(dir.path() + "/f"), "");
    EXPECT_EQ(sclose(s), 0);
    EXPECT_EQ(read_file(dir.path() + "/f"), "new");
}

// Alternatives are tried in turn (a remote one is not served here); the
// last name tried is kept.
TEST_F(Streams, AlternativesAndTheLastExplodedName) {
    write_file(dir.path() + "/second", "2");
    std::string name = "{nolog}" + dir.path() + "/missing;remote!/x;" + dir.path() + "/second";
    STREAM *s = sopen(name.c_str(), "r");
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(get_last_exploded_fname_ptr(), dir.path() + "/second");
    EXPECT_EQ(sgetc(s), '2');
    sclose(s);

    std::string none = "{nolog}" + dir.path() + "/missing";
    EXPECT_EQ(sopen(none.c_str(), "r"), nullptr);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(get_last_exploded_fname_ptr(), none);
}

// Memory streams: writes collect, reads serve a copy of their own, appends
// start with the bytes given. Pipes cannot seek but write. Closing all but
// the oldest streams.
TEST(OtherStreams, MemoryPipesAndClosingTheNewest) {
    size_t before = sopen_count();
    STREAM *w = smemopen(nullptr, 0, "wb");
    for (int i = 0; i < 5000; ++i)
        sputc(i & 0xFF, w);
    sputs("end", w);
    EXPECT_TRUE(smem_data(nullptr).empty());
    const std::vector<uint8_t> &bytes = smem_data(w);
    ASSERT_EQ(bytes.size(), 5003u);
    EXPECT_EQ(bytes[4999], 4999 & 0xFF);
    EXPECT_EQ(bytes[5002], 'd');
    std::vector<uint8_t> copy = bytes;
    STREAM *r = smemopen(copy.data(), copy.size(), "r");
    copy[0] = 0xEE;
    EXPECT_EQ(sgetc(r), 0);
    EXPECT_EQ(sseek(r, -3, 2), 5000);
    char tail[8] = {};
    EXPECT_EQ(sread_blok(tail, sizeof tail, r), 3);
    EXPECT_STREQ(tail, "end");
    EXPECT_TRUE(seof(r));
    EXPECT_EQ(swrite_blok("x", 1, r), -1);
    STREAM *a = smemopen("abc", 3, "a+");
    sputs("def", a);
    EXPECT_EQ(std::string(smem_data(a).begin(), smem_data(a).end()), "abcdef");

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    STREAM *p = sdopen(fds[1], "w");
    EXPECT_EQ(sseek(p, 0, 0), -1);
    EXPECT_EQ(stream_stell(p, 0), -1);
    sputs("through", p);
    EXPECT_EQ(sopen_count(), before + 4);
    sclose_newest(before + 1);
    EXPECT_EQ(sopen_count(), before + 1);
    char buf[16] = {};
    EXPECT_EQ(read(fds[0], buf, sizeof buf), 7);
    EXPECT_STREQ(buf, "through");
    close(fds[0]);
    EXPECT_EQ(sclose(w), 0);
    EXPECT_EQ(sclose(r), -1); // closed as one of the newest
}

TEST(Redirect, StandardOutputGoesToTheFile) {
    TempDir dir;
    std::string path = dir.path() + "/out.txt";
    fflush(stdout);
    int saved = dup(1);
    ASSERT_EQ(HAL_redirect('o', path.c_str()), 0);
    printf("redirected\n");
    fflush(stdout);
    dup2(saved, 1);
    close(saved);
    EXPECT_EQ(read_file(path), "redirected\n");
    EXPECT_TRUE(HAL_redirected('o'));

    errno = 0;
    EXPECT_EQ(HAL_redirect('e', (dir.path() + "/no/such/dir").c_str()), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(HAL_redirect('z', path.c_str()), -1);
}

} // namespace
