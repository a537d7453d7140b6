#pragma once
// A program run as a child process in tests, with its stdout and stderr piped back.
#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/WriteAll.h"

extern char** environ;

using TChildClock = std::chrono::steady_clock;

// `args` run as the unprivileged user nobody when we are root (root passes
// over the permissions and locks a user's program meets), else as they are.
inline std::vector<std::string> AsUserWhenRoot(std::vector<std::string> args)
{
    if (::geteuid() == 0)
        args.insert(args.begin(), {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
    return args;
}

class TChild {
public:
    // Starts `args[0]` with the other arguments; stdout and stderr are piped back,
    // and with `withInput` its stdin comes from Write.
    explicit TChild(std::vector<std::string> args, bool withInput = false)
    {
        // Close-on-exec, so that a child started meanwhile by another thread
        // does not hold this one's pipes open after it has ended.
        int out[2];
        int err[2];
        int in[2] = {-1, -1};
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0 || (withInput && ::pipe2(in, O_CLOEXEC) != 0))
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        if (withInput)
            posix_spawn_file_actions_adddup2(&actions, in[0], 0);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&Pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            Pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        ::close(err[1]);
        if (withInput)
            ::close(in[0]);
        Out = out[0];
        Err = err[0];
        In = in[1];
    }
    TChild(const TChild&) = delete;
    TChild& operator=(const TChild&) = delete;
    ~TChild()
    {
        if (Pid > 0 && !Exited) {
            ::kill(Pid, SIGKILL);
            ::waitpid(Pid, nullptr, 0);
        }
        if (Out >= 0)
            ::close(Out);
        if (Err >= 0)
            ::close(Err);
        CloseInput();
    }

    bool Started() const { return Pid > 0; }
    // Writes all of `text` to the child's stdin (started `withInput`); false
    // when the child is not there to read it.
    bool Write(const std::string& text)
    {
        // A child that has ended raises SIGPIPE, which would end the test
        // program: this thread holds it back and takes it.
        sigset_t pipeSignal;
        sigset_t before;
        sigemptyset(&pipeSignal);
        sigaddset(&pipeSignal, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
        const bool written = Pid > 0 && tcm::WriteAll(In, text.data(), text.size()) == 0;
        const timespec now{};
        while (sigtimedwait(&pipeSignal, nullptr, &now) > 0) {}
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        return written;
    }
    // Ends the child's stdin.
    void CloseInput()
    {
        if (In >= 0)
            ::close(In);
        In = -1;
    }
    pid_t Id() const { return Pid; }

    // Waits until the program has a handler for `sig` (its SigCgt mask in
    // /proc): a signal sent before that would end it the default way.
    bool WaitCatches(int sig, int timeoutMs) const
    {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const std::string path = "/proc/" + std::to_string(Pid) + "/status";
        do {
            std::ifstream status(path);
            for (std::string line; std::getline(status, line);)
                if (line.rfind("SigCgt:", 0) == 0 && (std::stoull(line.substr(7), nullptr, 16) >> (sig - 1) & 1) != 0)
                    return true;
            ::usleep(5000);
        } while (std::chrono::steady_clock::now() < end);
        return false;
    }

    // The next line of stdout without its newline; empty after the time-out or at the end.
    std::string ReadLine(int timeoutMs)
    {
        const auto end = TChildClock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            const size_t nl = OutText.find('\n');
            if (nl != std::string::npos) {
                std::string line = OutText.substr(0, nl);
                OutText.erase(0, nl + 1);
                return line;
            }
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TChildClock::now()).count();
            if (left <= 0 || !ReadInto(Out, OutText, static_cast<int>(left)))
                return {};
        }
    }
    // Reads stderr until it holds `text`; false after the time-out or at its end.
    bool WaitForErrText(const std::string& text, int timeoutMs)
    {
        const auto end = TChildClock::now() + std::chrono::milliseconds(timeoutMs);
        while (ErrText.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TChildClock::now()).count();
            if (left <= 0 || !ReadInto(Err, ErrText, static_cast<int>(left)))
                return false;
        }
        return true;
    }
    // Waits for the exit, collecting the rest of both outputs; the exit status, or
    // -1 when it did not end in time (it is then killed). Both pipes are watched
    // at once, so a child that writes much to one is never held up by the other.
    int WaitExit(int timeoutMs)
    {
        const auto end = TChildClock::now() + std::chrono::milliseconds(timeoutMs);
        pollfd p[2] = {{Out, POLLIN, 0}, {Err, POLLIN, 0}};
        std::string* text[2] = {&OutText, &ErrText};
        while (p[0].fd >= 0 || p[1].fd >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - TChildClock::now()).count();
            if (left <= 0)
                return -1;
            // A negative descriptor is left out by poll: the pipe already ended.
            if (::poll(p, 2, static_cast<int>(left)) < 0 && errno != EINTR)
                return -1;
            for (int i = 0; i < 2; ++i)
                if (p[i].fd >= 0 && p[i].revents != 0 && !ReadInto(p[i].fd, *text[i], 0))
                    p[i].fd = -1;
        }
        int status = 0;
        if (::waitpid(Pid, &status, 0) != Pid)
            return -1;
        Exited = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    std::string OutText; // stdout not yet taken by ReadLine
    std::string ErrText;

private:
    // Reads what is there; false at the end of the stream or on a time-out.
    static bool ReadInto(int fd, std::string& text, int timeoutMs)
    {
        pollfd p{fd, POLLIN, 0};
        const int r = ::poll(&p, 1, timeoutMs);
        if (r == 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            return false;
        text.append(buffer, static_cast<size_t>(n));
        return true;
    }

    pid_t Pid = -1;
    int Out = -1;
    int Err = -1;
    int In = -1;
    bool Exited = false;
};

// The lines of a text, without their newlines.
inline std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos)
            nl = text.size();
        lines.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return lines;
}
