#pragma once
// A program run as a real child process for tests: its standard output and error are read
// through pipes (with poll and a time-out), its end is awaited through a pidfd and its resource
// use kept. Killed and reaped by its PID when the object goes out of scope.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace kelvra::testing {

class ChildProcess final {
  public:
    struct Options {
        std::vector<std::string> env;  // "NAME=value", added to (or replacing in) ours
        std::string directory;         // working directory; empty: ours
        bool discard_stderr = false;
    };

    ChildProcess(const std::vector<std::string>& argv, const Options& options) {
        int out[2];
        int err[2];
        if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        if (options.discard_stderr) {
            posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        } else {
            posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        }
        if (!options.directory.empty()) {
            posix_spawn_file_actions_addchdir_np(&actions, options.directory.c_str());
        }
        std::vector<std::string> environment = Environment(options.env);
        std::vector<char*> env_pointers = Pointers(environment);
        std::vector<std::string> args = argv;
        std::vector<char*> arg_pointers = Pointers(args);
        if (posix_spawnp(&pid_, args[0].c_str(), &actions, nullptr, arg_pointers.data(),
                         env_pointers.data()) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        close(err[1]);
        out_fd_ = out[0];
        err_fd_ = err[0];
        if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
    }

    ~ChildProcess() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
        }
        for (int fd : {out_fd_, err_fd_, pidfd_}) {
            if (fd >= 0) close(fd);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0 && pidfd_ >= 0; }
    void Signal(int signal) const {
        if (pid_ > 0 && !exited_) kill(pid_, signal);
    }

    // Reads until stdout holds needle; false after timeout_ms or when the output ends first.
    bool WaitForOutput(std::string_view needle, int timeout_ms) {
        const auto deadline = Now() + std::chrono::milliseconds(timeout_ms);
        while (out_.find(needle) == std::string::npos) {
            if (!ReadSome(Remaining(deadline), false)) return false;
        }
        return true;
    }

    // The exit status (128 + signal number for a signal), or -1 after timeout_ms.
    int Wait(int timeout_ms) {
        const auto deadline = Now() + std::chrono::milliseconds(timeout_ms);
        while (!exited_) {
            if (!ReadSome(Remaining(deadline), true)) return -1;
        }
        while (ReadSome(0, false)) {
        }
        return status_;
    }

    const std::string& Out() const { return out_; }
    const std::string& Err() const { return err_; }
    // The peak resident set of the ended process in kB (0 before it ended). The kernel starts
    // it from ours at the exec (the spawn shares our memory until then).
    long PeakRssKb() const { return usage_.ru_maxrss; }

  private:
    using Clock = std::chrono::steady_clock;
    static Clock::time_point Now() { return Clock::now(); }
    static int Remaining(Clock::time_point deadline) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Now()).count();
        return left > 0 ? static_cast<int>(left) : 0;
    }

    static std::vector<std::string> Environment(const std::vector<std::string>& overrides) {
        std::vector<std::string> result;
        for (char** entry = environ; *entry; ++entry) {
            const std::string_view text(*entry);
            bool replaced = false;
            for (const std::string& override_entry : overrides) {
                const std::size_t eq = override_entry.find('=');
                if (text.substr(0, eq + 1) == std::string_view(override_entry).substr(0, eq + 1)) {
                    replaced = true;
                }
            }
            if (!replaced) result.emplace_back(text);
        }
        result.insert(result.end(), overrides.begin(), overrides.end());
        return result;
    }
    static std::vector<char*> Pointers(std::vector<std::string>& texts) {
        std::vector<char*> pointers;
        for (std::string& text : texts) pointers.push_back(text.data());
        pointers.push_back(nullptr);
        return pointers;
    }

    // One round of poll; false on time-out, or when nothing more can come (output closed and,
    // with watch_exit, the process reaped).
    bool ReadSome(int timeout_ms, bool watch_exit) {
        pollfd fds[3] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}, {pidfd_, POLLIN, 0}};
        const nfds_t count = watch_exit && !exited_ ? 3 : 2;
        if (out_fd_ < 0 && err_fd_ < 0 && (count == 2)) return false;
        const int ready = poll(fds, count, timeout_ms);
        if (ready <= 0) return false;
        bool progress = false;
        progress |= Drain(fds[0], out_fd_, out_);
        progress |= Drain(fds[1], err_fd_, err_);
        if (count == 3 && (fds[2].revents & POLLIN)) {
            int status = 0;
            if (wait4(pid_, &status, 0, &usage_) == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                progress = true;
            }
        }
        return progress;
    }
    static bool Drain(const pollfd& polled, int& fd, std::string& into) {
        if (fd < 0 || !(polled.revents & (POLLIN | POLLHUP))) return false;
        char buffer[4096];
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n > 0) {
            into.append(buffer, static_cast<std::size_t>(n));
            return true;
        }
        close(fd);
        fd = -1;
        return true;
    }

    pid_t pid_ = -1;
    int pidfd_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    bool exited_ = false;
    int status_ = -1;
    rusage usage_{};
    std::string out_;
    std::string err_;
};

}  // namespace kelvra::testing
