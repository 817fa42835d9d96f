#include "tools/kestrunectl/progress_line.h"

#include <unistd.h>

#include <cstdio>

#include "tools/kestrunectl/line_text.h"

namespace kestrune::ctl {

namespace {

// Carriage return, then erase to the end of the line.
constexpr const char* kRestartLine = "\r\x1b[K";
constexpr double kMillisecondsPerSecond = 1000.0;

}  // namespace

ProgressLine::ProgressLine(bool enabled)
    : enabled_(enabled && ::isatty(STDERR_FILENO) != 0), start_(std::chrono::steady_clock::now()) {}

void ProgressLine::probe(SearchPass pass, const ProbeProgress& progress) {
    draw("find: " + std::string(passName(pass)) + " pass, probe " + std::to_string(progress.probe) +
         "/" + std::to_string(kProbeCount) + " at " + lineText(progress.line));
}

void ProgressLine::step(std::string_view text) {
    draw(std::string(text));
}

void ProgressLine::clear() {
    if (drawn_) {
        std::fputs(kRestartLine, stderr);
        std::fflush(stderr);
        drawn_ = false;
    }
}

void ProgressLine::draw(const std::string& text) {
    if (!enabled_) {
        return;
    }
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start_);
    std::fprintf(stderr, "%s%s, %.1f s", kRestartLine, text.c_str(),
                 static_cast<double>(elapsed.count()) / kMillisecondsPerSecond);
    std::fflush(stderr);
    drawn_ = true;
}

}  // namespace kestrune::ctl
