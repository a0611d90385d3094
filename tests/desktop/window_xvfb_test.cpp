// The real program in a real X server (Xvfb, with openbox where installed),
// driven with xdotool as a user drives it: the boxes are filled by typing,
// "Değiştir" is pressed on a table of 100,000 records, the screen is read
// during the run, and the disabled buttons are clicked while it runs.
// Skipped, with a notice, where Xvfb, xdotool or xwininfo are missing.
//
// The screen is read from Xvfb's frame buffer file (-fbdir, XWD format), so
// no screenshot tool is needed. Every wait is generous: CI machines are slow
// and shared.

#include "db/jet/database.h"
#include "db/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;

namespace varnika {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Enough records for the run to last a while on a fast machine: the counter
// is drawn once a frame and must be seen several times.
constexpr int kRecords = 400000;

// A program started in the background, its output going to `log`; stopped
// (TERM, then KILL) when the object goes away.
class Child {
public:
    Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, const fs::path& log,
          int keepFd = -1)
    {
        std::vector<std::string> environment;
        for (char** e = environ; *e; ++e) {
            const std::string entry = *e;
            if (!env.count(entry.substr(0, entry.find('=')))) environment.push_back(entry);
        }
        for (const auto& [name, value] : env)
            if (!value.empty()) environment.push_back(name + "=" + value);
        m_pid = fork();
        if (m_pid == 0) {
            const int out = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (out >= 0) {
                dup2(out, 1);
                dup2(out, 2);
            }
            for (int fd = 3; fd < 256; ++fd)
                if (fd != keepFd) close(fd);
            std::vector<char*> args, envp;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            for (const auto& e : environment) envp.push_back(const_cast<char*>(e.c_str()));
            envp.push_back(nullptr);
            execvpe(args[0], args.data(), envp.data());
            _exit(127);
        }
    }
    ~Child() { stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running()
    {
        if (m_pid <= 0 || m_exited) return false;
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_exited = true;
            m_status = status;
        }
        return !m_exited;
    }
    // The exit code once the program has ended within `timeout`, else -1.
    int wait(std::chrono::milliseconds timeout)
    {
        const auto end = Clock::now() + timeout;
        while (running() && Clock::now() < end) std::this_thread::sleep_for(50ms);
        if (running()) return -1;
        return WIFEXITED(m_status) ? WEXITSTATUS(m_status) : 128 + WTERMSIG(m_status);
    }
    void stop()
    {
        if (!running()) return;
        kill(m_pid, SIGTERM);
        if (wait(5s) < 0) {
            kill(m_pid, SIGKILL);
            wait(5s);
        }
    }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_status = 0;
};

std::string readFile(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs an X client with a time limit; its standard output.
std::string x(std::vector<std::string> argv, int* exitCode = nullptr)
{
    argv.insert(argv.begin(), {"timeout", "30"});
    test::CommandResult r = test::runCommand(argv);
    if (exitCode) *exitCode = r.exitCode;
    return r.out;
}

// Clicks at a point of the screen, then takes the pointer off the window:
// Xvfb draws the pointer into the screen that the test reads.
void click(int px, int py)
{
    x({"xdotool", "mousemove", std::to_string(px), std::to_string(py)});
    std::this_thread::sleep_for(100ms);
    x({"xdotool", "click", "1"});
    x({"xdotool", "mousemove", "1020", "760"});
}

void type(const std::string& text) { x({"xdotool", "type", "--delay", "40", text}); }
void key(const std::string& name) { x({"xdotool", "key", "--delay", "60", name}); }

// A rectangle of the screen, as read from Xvfb's frame buffer file.
struct Region {
    int width = 0, height = 0;
    std::vector<uint32_t> pixels;  // 0xRRGGBB
    bool operator==(const Region&) const = default;
    int darkPixels() const
    {
        int n = 0;
        for (uint32_t p : pixels) n += ((p >> 16 & 255) + (p >> 8 & 255) + (p & 255)) < 3 * 90;
        return n;
    }
    // The rightmost column holding a dark pixel, -1 when none: how far the
    // counter's text reaches.
    int textExtent() const
    {
        int right = -1;
        for (int y = 0; y < height; ++y)
            for (int xx = 0; xx < width; ++xx) {
                const uint32_t p = pixels[size_t(y * width + xx)];
                if (((p >> 16 & 255) + (p >> 8 & 255) + (p & 255)) < 3 * 90) right = std::max(right, xx);
            }
        return right;
    }
};

class FrameBuffer {
public:
    explicit FrameBuffer(fs::path file) : m_file(std::move(file)) {}

    // The region at (left, top) of the screen; empty when the file cannot be read.
    Region read(int left, int top, int width, int height) const
    {
        Region r;
        const int fd = ::open(m_file.c_str(), O_RDONLY);
        if (fd < 0) return r;
        uint8_t header[100];
        if (pread(fd, header, sizeof header, 0) != ssize_t(sizeof header)) {
            close(fd);
            return r;
        }
        auto field = [&header](int i) {
            const uint8_t* p = header + 4 * i;
            return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        };
        const uint32_t headerSize = field(0), byteOrder = field(7), bitsPerPixel = field(11),
                       bytesPerLine = field(12), colours = field(19);
        if (bitsPerPixel != 32) {
            close(fd);
            return r;
        }
        const uint64_t start = uint64_t(headerSize) + uint64_t(colours) * 12;
        r.width = width;
        r.height = height;
        std::vector<uint8_t> row(size_t(width) * 4);
        for (int y = 0; y < height; ++y) {
            const uint64_t at = start + uint64_t(top + y) * bytesPerLine + uint64_t(left) * 4;
            if (pread(fd, row.data(), row.size(), off_t(at)) != ssize_t(row.size())) break;
            for (int xx = 0; xx < width; ++xx) {
                const uint8_t* p = row.data() + 4 * xx;
                const uint32_t v = byteOrder == 0 ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16
                                                  : uint32_t(p[3]) | uint32_t(p[2]) << 8 | uint32_t(p[1]) << 16;
                r.pixels.push_back(v & 0xFFFFFF);
            }
        }
        close(fd);
        if (r.pixels.size() != size_t(width) * size_t(height)) r = Region{};
        return r;
    }

private:
    fs::path m_file;
};

// Waits up to `timeout` for `done`, looking every `step`.
bool waitFor(std::chrono::milliseconds timeout, const std::function<bool()>& done, std::chrono::milliseconds step = 100ms)
{
    const auto end = Clock::now() + timeout;
    for (;;) {
        if (done()) return true;
        if (Clock::now() >= end) return false;
        std::this_thread::sleep_for(step);
    }
}

fs::file_time_type modified(const fs::path& p)
{
    std::error_code ec;
    return fs::last_write_time(p, ec);
}

TEST(WindowUnderX, ReplaceOnFourHundredThousandRecords)
{
#ifdef VARNIKA_SANITIZED
    GTEST_SKIP() << "the X server test runs in the plain build only (the sanitized program is too slow for it)";
#endif
    for (const char* program : {"Xvfb", "xdotool", "xwininfo"})
        if (!test::haveProgram(program))
            GTEST_SKIP() << program << " is not installed; the X server test is skipped "
                         << "(apt-get install xvfb xdotool x11-utils openbox)";
    const fs::path varnika = test::binaryDir() / "app" / "varnika";
    const fs::path makeTable = test::binaryDir() / "bench" / "bench_make_table";
    ASSERT_TRUE(fs::exists(varnika)) << varnika;
    ASSERT_TRUE(fs::exists(makeTable)) << makeTable;

    test::TempDir dir;
    const fs::path file = dir.file("hareket.mdb");
    test::CommandResult made = test::runCommand({makeTable.string(), file.string(), std::to_string(kRecords)});
    ASSERT_EQ(made.exitCode, 0) << made.err;

    // The X server, on a display it picks itself.
    const fs::path fbdir = dir.file("fb");
    fs::create_directories(fbdir);
    int displayPipe[2];
    ASSERT_EQ(pipe(displayPipe), 0);
    Child xvfb({"Xvfb", "-displayfd", std::to_string(displayPipe[1]), "-screen", "0", "1024x768x24", "-dpi", "96",
                "-nolisten", "tcp", "-fbdir", fbdir.string()},
               {}, dir.file("xvfb.log"), displayPipe[1]);
    close(displayPipe[1]);
    std::string display;
    {
        pollfd p{displayPipe[0], POLLIN, 0};
        char buf[32];
        while (display.find('\n') == std::string::npos && poll(&p, 1, 30000) > 0) {
            const ssize_t n = read(displayPipe[0], buf, sizeof buf);
            if (n <= 0) break;
            display.append(buf, size_t(n));
        }
        close(displayPipe[0]);
    }
    ASSERT_NE(display.find('\n'), std::string::npos) << "Xvfb did not start: " << readFile(dir.file("xvfb.log"));
    display = ":" + display.substr(0, display.find('\n'));
    setenv("DISPLAY", display.c_str(), 1);
    const FrameBuffer screen(fbdir / "Xvfb_screen0");

    std::unique_ptr<Child> windowManager;
    if (test::haveProgram("openbox")) {
        windowManager = std::make_unique<Child>(std::vector<std::string>{"openbox"}, std::map<std::string, std::string>{},
                                                dir.file("openbox.log"));
        waitFor(20s, [] { return x({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).find("window id") != std::string::npos; });
    }

    // A home of its own: a copy the user runs is no second instance of this one.
    const fs::path home = dir.file("home");
    fs::create_directories(home);
    Child program({varnika.string()}, {{"HOME", home.string()}, {"QT_QPA_PLATFORM", "xcb"}, {"DISPLAY", display}},
                  dir.file("varnika.log"));
    std::string window;
    ASSERT_TRUE(waitFor(60s, [&] {
        std::istringstream ids(x({"xdotool", "search", "--onlyvisible", "--name", "^Varnika$"}));
        return bool(ids >> window);
    }, 250ms)) << "the window did not appear: " << readFile(dir.file("varnika.log"));

    // The client area's place on the screen; the layout is in pixels from there.
    int left = -1, top = -1;
    ASSERT_TRUE(waitFor(20s, [&] {
        std::istringstream info(x({"xwininfo", "-id", window}));
        std::string line;
        while (std::getline(info, line)) {
            if (line.find("Absolute upper-left X:") != std::string::npos) left = std::stoi(line.substr(line.find(':') + 1));
            if (line.find("Absolute upper-left Y:") != std::string::npos) top = std::stoi(line.substr(line.find(':') + 1));
        }
        return left >= 0 && top >= 0;
    }));
    auto at = [&](int px, int py) { return std::pair(left + px, top + py); };
    auto region = [&](int px, int py, int w, int h) { return screen.read(left + px, top + py, w, h); };
    // "Değiştir" (136, 334, 77 × 23) and the counter (from 7, 14; it grows to the right).
    auto degistir = [&] { return region(138, 336, 73, 19); };
    auto counter = [&] { return region(7, 13, 150, 15); };
    auto enabledLook = [&] { return degistir().darkPixels() > 20; };
    ASSERT_TRUE(waitFor(30s, enabledLook)) << "the window was not drawn";

    // Fill the boxes as a user does: the path typed into "Dosya", then Tab
    // from box to box. Tab selects the whole of "Eski Veri" and "Yeni Veri".
    auto [t1x, t1y] = at(190, 145);
    click(t1x, t1y);
    type(file.string());
    key("Tab");
    type("Hareket");
    key("Tab");
    type("Sube");
    key("Tab");
    key("BackSpace");  // "Eski Veri" empty: every record of the table
    key("Tab");
    type("Atasehir");
    std::this_thread::sleep_for(300ms);
    const fs::file_time_type before = modified(file);

    auto [bx, by] = at(174, 345);
    auto [kx, ky] = at(251, 345);  // "Kapat"
    click(bx, by);

    // The buttons are drawn disabled at once, before the walk.
    ASSERT_TRUE(waitFor(30s, [&] { return degistir().darkPixels() == 0; }, 20ms))
        << "\"Değiştir\" was not drawn disabled";

    // The counter moves while the run lasts (a second and a half here, less on a
    // faster machine); it is looked at more often than it is drawn, so every
    // frame of it is seen. Once it has moved, the disabled "Değiştir" and
    // "Kapat" are clicked: neither may act after the run.
    std::vector<Region> shots;
    std::vector<int> extents;
    bool clicked = false;
    const bool ended = waitFor(300s, [&] {
        const Region c = counter();
        if (shots.empty() || !(shots.back() == c)) {
            shots.push_back(c);
            extents.push_back(c.textExtent());
        }
        if (!clicked && shots.size() >= 3 && !enabledLook()) {
            click(bx, by);
            click(kx, ky);
            clicked = true;
        }
        return enabledLook();
    }, 10ms);
    ASSERT_TRUE(ended) << "the run did not end";
    EXPECT_TRUE(clicked) << "the run ended before the disabled buttons could be clicked";
    EXPECT_GE(shots.size(), 4u) << "the counter did not move during the run";
    // The text reaches further with each digit it gains (about 6 pixels); a
    // number of as many digits ends a pixel or two short of another one, by
    // the ink of its last digit. A second run would start again from 1.
    constexpr int kLastDigitInk = 2;
    for (size_t i = 1; i < extents.size(); ++i)
        EXPECT_GE(extents[i] + kLastDigitInk, extents[i - 1]) << "the counter started again: a second run";
    EXPECT_NE(modified(file), before);

    // No second run follows, and the window stays: the buttons stay enabled
    // (a run draws them disabled at once) and the file is not written again.
    const fs::file_time_type afterRun = modified(file);
    const bool quiet = waitFor(3s, [&] { return !enabledLook() || !program.running() || modified(file) != afterRun; });
    EXPECT_FALSE(quiet) << "something acted after the run: enabled " << enabledLook() << ", running "
                        << program.running();
    EXPECT_TRUE(program.running());

    // "Kapat", now enabled, closes the window and ends the program.
    click(kx, ky);
    EXPECT_EQ(program.wait(30s), 0) << readFile(dir.file("varnika.log"));
    program.stop();

    // Every record holds the new value.
    auto db = jet::Database::open(file.string(), jet::OpenMode::ReadOnly);
    ASSERT_TRUE(db.isOk()) << db.status().toString();
    auto table = (*db)->table(u"Hareket");
    ASSERT_TRUE(table.isOk());
    auto scanner = (*table)->scan();
    ASSERT_TRUE(scanner.isOk());
    int records = 0, changed = 0;
    while (*scanner->next()) {
        ++records;
        auto values = scanner->values();
        ASSERT_TRUE(values.isOk());
        if ((*values)[2].asText() == u"Atasehir") ++changed;
    }
    EXPECT_EQ(records, kRecords);
    EXPECT_EQ(changed, kRecords);
}

}  // namespace
}  // namespace varnika
