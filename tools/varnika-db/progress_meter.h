#pragma once
// A progress bar on a terminal stream for the long bulk commands: records
// done, the total and the rate. It stays silent for runs that end within the
// first second, so short commands print nothing extra.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace varnika::tool {

class ProgressMeter {
public:
    // Seconds on a steady clock; tests give their own.
    using Clock = std::function<double()>;

    explicit ProgressMeter(std::FILE* out, Clock clock = {}, double quietSeconds = 1.0);

    // One more record is done out of `total` (negative when unknown). Draws
    // at most a few times a second, and only once the quiet time is over.
    void update(int64_t done, int64_t total);
    // Draws the last state and ends the line, if anything was drawn.
    void finish();

    bool hasDrawn() const { return m_drawn; }

    // The text of one state of the bar, without the carriage return.
    static std::string line(int64_t done, int64_t total, double seconds);

private:
    void draw(double now);

    std::FILE* m_out;
    Clock m_clock;
    double m_start;
    double m_quietSeconds;
    double m_lastDraw = -1;
    int64_t m_done = 0;
    int64_t m_total = -1;
    bool m_drawn = false;
    bool m_finished = false;
};

}  // namespace varnika::tool
