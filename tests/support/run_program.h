// Runs a program as a subprocess in a directory of the test's, with its
// standard output and error captured: into files, or standard error on a
// pseudo-terminal (as a person at a terminal would see it).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/temp_dir.h"

struct RunResult {
    int status = -1000; // exit status, or -1000 when the program did not exit normally
    bool killed = false; // still running after the time allowed
    std::string out;
    std::string err;
};

inline std::string readText(const std::string &path) {
    const std::vector<unsigned char> bytes = readFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

// Waits for pid to end, for at most limitSeconds when that is above 0; a
// child still running then is killed.
inline bool waitForChild(pid_t pid, int *status, int limitSeconds, bool *killed) {
    if (limitSeconds <= 0) return waitpid(pid, status, 0) == pid;
    for (int i = 0; i < limitSeconds * 100; ++i) {
        const pid_t done = waitpid(pid, status, WNOHANG);
        if (done != 0) return done == pid;
        usleep(10000);
    }
    *killed = true;
    kill(pid, SIGKILL);
    return waitpid(pid, status, 0) == pid;
}

// Runs program with the given arguments (argv[0] is the program path) in dir,
// with standard input from input (/dev/null when it is -1). With `terminal`
// set, standard error is a pseudo-terminal 80 columns wide and r.err what
// appeared on it (the terminal turns each "\n" into "\r\n").
inline RunResult run(const std::string &program, const std::vector<std::string> &args,
                     const std::string &dir, int input = -1, int limitSeconds = 0,
                     bool terminal = false) {
    RunResult result;
    TempDir io;
    if (!io.ok()) return result;
    const std::string outPath = io.file("out"), errPath = io.file("err");
    std::vector<std::string> argvText{program};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &a : argvText) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    // The terminal's two sides; the test keeps the program's side open too
    // until the program has ended, so that the terminal does not hang up
    // before the program has opened it.
    int master = -1, slave = -1;
    if (terminal) {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return result;
        slave = open(ptsname(master), O_RDWR | O_NOCTTY);
        if (slave < 0) return result;
        winsize size{};
        size.ws_row = 24;
        size.ws_col = 80;
        ioctl(master, TIOCSWINSZ, &size);
    }
    const pid_t pid = fork();
    if (pid == 0) {
        const int in = input >= 0 ? input : open("/dev/null", O_RDONLY);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        const int err =
            terminal ? slave : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0 || err < 0 || dup2(in, 0) < 0 || dup2(out, 1) < 0 ||
            dup2(err, 2) < 0 || chdir(dir.c_str()) != 0)
            _exit(126);
        if (terminal) {
            close(master);
            close(slave);
        }
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    bool waited = false;
    if (terminal) {
        // Read while the program runs, so that it never waits on a full
        // terminal; once it has ended, what is left is read until the
        // terminal reports that its other side is closed.
        char buffer[4096];
        for (;;) {
            pollfd p{master, POLLIN, 0};
            if (poll(&p, 1, 100) > 0) {
                const ssize_t n = read(master, buffer, sizeof buffer);
                if (n <= 0) break;
                result.err.append(buffer, static_cast<size_t>(n));
            } else if (!waited && pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
                waited = true;
                close(slave);
            } else if (waited || pid < 0) {
                break;
            }
        }
        if (!waited) close(slave);
        close(master);
    }
    if (pid < 0 || (!waited && !waitForChild(pid, &status, limitSeconds, &result.killed)))
        return result;
    if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
    result.out = readText(outPath);
    if (!terminal) result.err = readText(errPath);
    return result;
}
