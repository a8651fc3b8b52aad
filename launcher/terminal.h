// What a person at a terminal sees of a render: warnings and errors as they
// come (every log line when verbose), and one status line on standard error
// redrawn in place: the stage, then a progress bar with the percentage, the
// time spent and the time left, redrawn at most 10 times a second and ended
// with a newline. Its callbacks may be called from any thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

class TerminalView {
public:
    TerminalView(FILE *out, bool verbose) : m_out(out), m_verbose(verbose) {}
    TerminalView(const TerminalView &) = delete;
    TerminalView &operator=(const TerminalView &) = delete;

    // A scene starts: its status lines begin with `label`.
    void beginScene(const std::string &label);
    // The render is over: the status line is cleared (a finished bar stays).
    void endScene();
    // A line of the program's own, shown above the status line.
    void say(const std::string &line);
    // INFO records seen and not shown since the view was made.
    uint64_t hiddenRecords() const { return m_hidden; }

    // The callbacks of the library's RenderJob; `host` is the view.
    static void onStage(void *host, int stage);
    static void onProgress(void *host, uint32_t done, uint32_t total);
    static void onRecord(void *host, int severity, const char *text, const char *line);

private:
    // With m_mutex held: draws the status line, clears it, prints a line
    // above it.
    void draw(const std::string &status);
    void clear();
    void printAbove(const std::string &line);
    size_t columns() const;

    FILE *m_out;
    bool m_verbose;
    std::mutex m_mutex;
    std::string m_label;
    std::string m_status;       // the status line drawn now; empty: none
    std::string m_hiddenStatus; // taken away for lines printed above, not yet back
    std::chrono::steady_clock::time_point m_renderStart, m_lastDraw;
    bool m_barDone = false;
    uint64_t m_hidden = 0;
};

// "m:ss", or "h:mm:ss" from an hour on.
std::string formatDuration(double seconds);
// The status line of a render `done` rows of `total` in, `elapsed` seconds
// after it started, fitted into `columns` characters: the label, a bar, the
// percentage, the time spent and, before the end, the time left.
std::string progressLine(const std::string &label, uint32_t done, uint32_t total,
                         double elapsed, size_t columns);
