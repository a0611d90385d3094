#include "support/test_support.h"

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <random>
#include <sstream>
#include <sys/wait.h>
#include <csignal>
#include <unistd.h>

namespace varnika::test {

std::optional<std::filesystem::path> fixturesDir()
{
    const char* v = std::getenv("VARNIKA_FIXTURES");
    if (!v || !*v) return std::nullopt;
    std::filesystem::path p(v);
    if (!std::filesystem::is_directory(p)) return std::nullopt;
    return std::filesystem::absolute(p);
}

std::vector<std::filesystem::path> mdbFilesIn(const std::filesystem::path& dir)
{
    std::vector<std::filesystem::path> out;
    if (!std::filesystem::is_directory(dir)) return out;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        if (e.is_regular_file() && e.path().extension() == ".mdb") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

TempDir::TempDir()
{
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto p = base / ("varnika-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(p)) {
            m_path = p;
            break;
        }
    }
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::filesystem::path copyWritable(const std::filesystem::path& from, const std::filesystem::path& to)
{
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
    std::filesystem::permissions(to, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    return to;
}

CommandResult runCommand(const std::vector<std::string>& argv, const std::string& input)
{
    CommandResult r;
    std::signal(SIGPIPE, SIG_IGN);
    int inPipe[2], outPipe[2], errPipe[2];
    if (pipe(inPipe) || pipe(outPipe) || pipe(errPipe)) return r;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(inPipe[0], 0);
        dup2(outPipe[1], 1);
        dup2(errPipe[1], 2);
        close(inPipe[1]); close(outPipe[0]); close(errPipe[0]);
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(inPipe[0]); close(outPipe[1]); close(errPipe[1]);
    size_t written = 0;
    if (input.empty()) { close(inPipe[1]); inPipe[1] = -1; }
    bool outOpen = true, errOpen = true;
    char buf[65536];
    while (outOpen || errOpen || inPipe[1] >= 0) {
        pollfd fds[3];
        int n = 0;
        int outIdx = -1, errIdx = -1, inIdx = -1;
        if (outOpen) { fds[n] = {outPipe[0], POLLIN, 0}; outIdx = n++; }
        if (errOpen) { fds[n] = {errPipe[0], POLLIN, 0}; errIdx = n++; }
        if (inPipe[1] >= 0) { fds[n] = {inPipe[1], POLLOUT, 0}; inIdx = n++; }
        if (poll(fds, n, -1) < 0) break;
        if (outIdx >= 0 && fds[outIdx].revents) {
            ssize_t k = read(outPipe[0], buf, sizeof buf);
            if (k <= 0) outOpen = false; else r.out.append(buf, size_t(k));
        }
        if (errIdx >= 0 && fds[errIdx].revents) {
            ssize_t k = read(errPipe[0], buf, sizeof buf);
            if (k <= 0) errOpen = false; else r.err.append(buf, size_t(k));
        }
        if (inIdx >= 0 && fds[inIdx].revents) {
            ssize_t k = write(inPipe[1], input.data() + written, input.size() - written);
            if (k > 0) written += size_t(k);
            if (k <= 0 || written == input.size()) { close(inPipe[1]); inPipe[1] = -1; }
        }
    }
    close(outPipe[0]); close(errPipe[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

bool haveProgram(const std::string& name)
{
    return runCommand({"sh", "-c", "command -v " + name + " >/dev/null 2>&1"}).exitCode == 0;
}

std::filesystem::path binaryDir()
{
    if (const char* v = std::getenv("VARNIKA_BINARY_DIR")) return v;
#ifdef VARNIKA_BINARY_DIR
    return VARNIKA_BINARY_DIR;
#else
    return std::filesystem::current_path();
#endif
}

std::string varnikaDb() { return (binaryDir() / "tools" / "varnika-db").string(); }

std::vector<std::string> splitLines(const std::string& text)
{
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
    return out;
}

}  // namespace varnika::test
