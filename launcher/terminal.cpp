#include "launcher/terminal.h"

#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

// glog's severities as the library reports them.
constexpr int kWarning = 1;
constexpr int kError = 2;
// The library's render stages.
constexpr int kLoading = 0, kBuilding = 1, kRendering = 2, kFinished = 3;

// At most 10 redraws a second.
constexpr auto kRedrawInterval = std::chrono::milliseconds(100);
constexpr size_t kMaxBar = 40, kMinBar = 10;
// Room kept for the numbers after the bar: " 45%  1:02 elapsed, 1:15 left".
constexpr size_t kTailRoom = 32;
// Erases from the cursor to the end of the line.
constexpr const char *kEraseLine = "\x1b[K";

// A line cut to `room` characters, keeping its end (where the numbers are).
std::string fitted(const std::string &line, size_t room) {
    return line.size() <= room || room == 0 ? line : line.substr(line.size() - room);
}

} // namespace

std::string formatDuration(double seconds) {
    const long s = seconds > 0.0 ? static_cast<long>(seconds) : 0;
    char text[48];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

std::string progressLine(const std::string &label, uint32_t done, uint32_t total,
                         double elapsed, size_t columns) {
    const double fraction = total > 0 && done < total ? static_cast<double>(done) / total : 1.0;
    char percent[8];
    std::snprintf(percent, sizeof percent, "%3d%%", static_cast<int>(fraction * 100.0));
    std::string tail = std::string(" ") + percent + "  " + formatDuration(elapsed) + " elapsed";
    if (done > 0 && done < total)
        tail += ", " + formatDuration(elapsed * (total - done) / done) + " left";
    // The last column stays free: writing into it wraps some terminals.
    const size_t room = columns > 1 ? columns - 1 : 0;
    // The bar keeps its width while the times come and go.
    const size_t fixed = label.size() + 3 + std::max(tail.size(), kTailRoom); // " [" and "]"
    const size_t bar = room > fixed ? std::min(room - fixed, kMaxBar) : 0;
    std::string line = label;
    if (bar >= kMinBar) {
        const size_t filled = static_cast<size_t>(fraction * static_cast<double>(bar));
        line += " [" + std::string(filled, '#') + std::string(bar - filled, '.') + "]";
    }
    return fitted(line + tail, room);
}

size_t TerminalView::columns() const {
    winsize size{};
    if (ioctl(fileno(m_out), TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
    const char *env = std::getenv("COLUMNS");
    const long n = env != nullptr ? std::strtol(env, nullptr, 10) : 0;
    return n > 0 ? static_cast<size_t>(n) : 80;
}

void TerminalView::draw(const std::string &status) {
    m_hiddenStatus.clear();
    std::fputs("\r", m_out);
    std::fputs(status.c_str(), m_out);
    std::fputs(kEraseLine, m_out);
    std::fflush(m_out);
    m_status = status;
    m_lastDraw = std::chrono::steady_clock::now();
}

void TerminalView::clear() {
    m_hiddenStatus.clear();
    if (m_status.empty()) return;
    std::fputs("\r", m_out);
    std::fputs(kEraseLine, m_out);
    std::fflush(m_out);
    m_status.clear();
}

void TerminalView::beginScene(const std::string &label) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_label = label;
    m_barDone = false;
}

void TerminalView::endScene() {
    std::lock_guard<std::mutex> lock(m_mutex);
    clear();
}

void TerminalView::printAbove(const std::string &line) {
    const std::string status = m_status.empty() ? m_hiddenStatus : m_status;
    clear();
    std::fputs((line + "\n").c_str(), m_out);
    // The status line comes back below, at most 10 times a second however
    // many lines go by (or with the next news of the render).
    m_hiddenStatus = status;
    if (!status.empty() && std::chrono::steady_clock::now() - m_lastDraw >= kRedrawInterval)
        draw(status);
    std::fflush(m_out);
}

void TerminalView::say(const std::string &line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    printAbove(line);
}

void TerminalView::onStage(void *host, int stage) {
    auto *view = static_cast<TerminalView *>(host);
    std::lock_guard<std::mutex> lock(view->m_mutex);
    const size_t room = view->columns() - 1;
    switch (stage) {
    case kLoading:
        view->draw(fitted(view->m_label + ": loading", room));
        break;
    case kBuilding:
        view->draw(fitted(view->m_label + ": building", room));
        break;
    case kRendering:
        view->m_renderStart = std::chrono::steady_clock::now();
        view->draw(progressLine(view->m_label, 0, 1, 0.0, view->columns()));
        break;
    case kFinished:
        view->clear();
        break;
    default:
        break;
    }
}

void TerminalView::onProgress(void *host, uint32_t done, uint32_t total) {
    auto *view = static_cast<TerminalView *>(host);
    std::lock_guard<std::mutex> lock(view->m_mutex);
    if (view->m_barDone) return;
    const auto now = std::chrono::steady_clock::now();
    const bool last = done >= total;
    if (!last && now - view->m_lastDraw < kRedrawInterval) return;
    const double elapsed = std::chrono::duration<double>(now - view->m_renderStart).count();
    view->draw(progressLine(view->m_label, done, total, elapsed, view->columns()));
    if (last) {
        // The finished bar stays on its own line.
        std::fputs("\n", view->m_out);
        std::fflush(view->m_out);
        view->m_status.clear();
        view->m_barDone = true;
    }
}

void TerminalView::onRecord(void *host, int severity, const char *text, const char *line) {
    auto *view = static_cast<TerminalView *>(host);
    std::lock_guard<std::mutex> lock(view->m_mutex);
    if (severity < kWarning && !view->m_verbose) {
        ++view->m_hidden;
        return;
    }
    if (view->m_verbose)
        view->printAbove(line);
    else
        view->printAbove(std::string(severity >= kError ? "error: " : "warning: ") + text);
}
