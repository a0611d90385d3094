#include "tools/varnika-db/progress_meter.h"

#include <chrono>

namespace varnika::tool {

namespace {

constexpr int kBarWidth = 30;
constexpr double kRedrawSeconds = 0.1;

double steadySeconds()
{
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

}  // namespace

ProgressMeter::ProgressMeter(std::FILE* out, Clock clock, double quietSeconds)
    : m_out(out), m_clock(clock ? std::move(clock) : Clock(steadySeconds)), m_start(m_clock()),
      m_quietSeconds(quietSeconds)
{
}

std::string ProgressMeter::line(int64_t done, int64_t total, double seconds)
{
    std::string out;
    char buffer[96];
    if (total > 0) {
        const int64_t shown = done < total ? done : total;
        const int filled = int(shown * kBarWidth / total);
        out += '[';
        out.append(size_t(filled), '#');
        out.append(size_t(kBarWidth - filled), '-');
        out += ']';
        std::snprintf(buffer, sizeof buffer, " %3d%% %lld/%lld records", int(shown * 100 / total),
                      static_cast<long long>(done), static_cast<long long>(total));
    } else {
        std::snprintf(buffer, sizeof buffer, "%lld records", static_cast<long long>(done));
    }
    out += buffer;
    const double rate = seconds > 0 ? double(done) / seconds : 0;
    std::snprintf(buffer, sizeof buffer, "  %.0f records/s", rate);
    out += buffer;
    return out;
}

void ProgressMeter::update(int64_t done, int64_t total)
{
    m_done = done;
    m_total = total;
    const double now = m_clock();
    if (now - m_start < m_quietSeconds) return;
    if (m_drawn && now - m_lastDraw < kRedrawSeconds) return;
    draw(now);
}

void ProgressMeter::draw(double now)
{
    // Trailing blanks wipe what a longer earlier line left behind.
    std::fprintf(m_out, "\r%s   ", line(m_done, m_total, now - m_start).c_str());
    std::fflush(m_out);
    m_drawn = true;
    m_lastDraw = now;
}

void ProgressMeter::finish()
{
    if (m_finished) return;
    m_finished = true;
    if (!m_drawn) return;
    draw(m_clock());
    std::fputc('\n', m_out);
    std::fflush(m_out);
}

}  // namespace varnika::tool
