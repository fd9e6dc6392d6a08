#include "run.h"

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char **environ;

namespace {

std::vector<std::string> merged_environment(const std::vector<std::string> &changes) {
    std::vector<std::string> env;
    for (char **e = environ; *e; e++)
        env.emplace_back(*e);
    for (const std::string &change : changes) {
        std::string name = change.substr(0, change.find('='));
        std::erase_if(env, [&](const std::string &e) {
            return e.compare(0, name.size() + 1, name + "=") == 0;
        });
        if (change.find('=') != std::string::npos) env.push_back(change);
    }
    return env;
}

std::vector<char *> pointers(std::vector<std::string> &texts) {
    std::vector<char *> p;
    for (std::string &t : texts)
        p.push_back(t.data());
    p.push_back(nullptr);
    return p;
}

} // namespace

Started::Started(const std::string &program, const std::vector<std::string> &args,
                 const std::vector<std::string> &env, int in, int out, const std::string &cwd,
                 const std::string &argv0) {
    err_path_ = tmp_.path() + "/err";
    std::vector<std::string> argv{argv0.empty() ? std::filesystem::path(program).filename().string()
                                                : argv0};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envv = merged_environment(env);
    std::vector<char *> argp = pointers(argv), envp = pointers(envv);

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        int null_in = open("/dev/null", O_RDONLY);
        int null_out = open("/dev/null", O_WRONLY);
        int err = open(err_path_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(in >= 0 ? in : null_in, 0);
        if (out == OUT_CLOSED)
            close(1);
        else
            dup2(out >= 0 ? out : null_out, 1);
        dup2(err, 2);
        signal(SIGPIPE, SIG_DFL);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
        execve(program.c_str(), argp.data(), envp.data());
        _exit(127);
    }
}

Started::~Started() {
    if (pid_ > 0) finish();
}

RunResult Started::finish() {
    RunResult r;
    if (pid_ <= 0) return r;
    int wstatus = 0;
    struct rusage usage = {};
    wait4(pid_, &wstatus, 0, &usage);
    pid_ = -1;
    r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    r.peak_kb = usage.ru_maxrss;
    r.err = read_file(err_path_);
    return r;
}

RunResult run_program(const std::string &program, const std::vector<std::string> &args,
                      const std::vector<std::string> &env, const std::string &cwd,
                      const std::string &argv0) {
    TempDir tmp;
    std::string out_path = tmp.path() + "/out";
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    RunResult r = Started(program, args, env, -1, out, cwd, argv0).finish();
    close(out);
    r.out = read_file(out_path);
    return r;
}

RunResult run_zel_info(const std::vector<std::string> &args, const std::vector<std::string> &env,
                       const std::string &cwd) {
    return run_program(ZEL_INFO_BIN, args, env, cwd);
}

TempDir::TempDir() {
    std::string templ = (std::filesystem::temp_directory_path() / "zeltest.XXXXXX").string();
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    path_ = templ;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &content) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string log_digest(const std::string &path) {
    std::istringstream in(read_file(path));
    std::string digest, line;
    bool text = false;
    while (std::getline(in, line)) {
        // Behind the time stamp: "]:", the level letter, ":", the user, ": ".
        size_t at = line.find("]:"), user_end = line.find(": ", at + 4);
        if (at == std::string::npos || user_end == std::string::npos) continue;
        std::string rest = line.substr(user_end + 2);
        if (rest.rfind("Log message called from ", 0) == 0) {
            size_t colon = rest.find(": #"), kw = rest.find(" keyword: ");
            digest += line.substr(at + 2, 1) + " " + rest.substr(24, colon - 24) +
                      rest.substr(kw + 9) + ":";
        } else if (rest.rfind("Log_mesg: ", 0) == 0) {
            digest += " " + rest.substr(10);
            text = true;
        } else if (rest.rfind("******* E N D", 0) == 0) {
            digest += "\n";
            text = false;
        } else if (text) {
            digest += "|" + rest;
        }
    }
    return digest;
}
