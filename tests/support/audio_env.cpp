#include "tests/support/audio_env.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

int64_t deadline_after(double seconds) {
    return now_ms() + static_cast<int64_t>(seconds * 1000);
}

// Starts argv with the given environment changes, its standard output and error on out_fd
// and err_fd and standard input on /dev/null. The child receives SIGKILL when this process
// ends, so nothing it starts outlives a crashed or killed test. Returns its pid or -1.
pid_t spawn_child(const std::vector<std::string>& argv, const env_list& set,
                  const std::vector<std::string>& unset, int out_fd, int err_fd) {
    if (argv.empty()) return -1;
    // Everything the child needs is prepared before fork: after it, only calls that are
    // safe in a forked copy of a possibly threaded process are made.
    std::vector<std::string> env_strings = child_environment(set, unset);
    std::vector<char*> envp = c_pointers(env_strings);
    std::vector<std::string> arg_strings = argv;
    std::vector<char*> args = c_pointers(arg_strings);

    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) return pid;

    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) _exit(127);
    const int null_fd = open("/dev/null", O_RDONLY);
    if (null_fd >= 0) dup2(null_fd, STDIN_FILENO);
    dup2(out_fd, STDOUT_FILENO);
    dup2(err_fd, STDERR_FILENO);
    execvpe(args[0], args.data(), envp.data());
    _exit(127);
}

void record_status(int status, watched_run* run) {
    if (WIFEXITED(status)) {
        run->exited = true;
        run->exit_code = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        run->term_signal = WTERMSIG(status);
    }
}

// Takes what is there on the non-blocking *fd into *text, without waiting; closes it and
// sets it to -1 at end of file (or on an error).
void take_available(int* fd, std::string* text) {
    while (*fd >= 0) {
        char buffer[4096];
        const ssize_t n = read(*fd, buffer, sizeof buffer);
        if (n > 0) {
            text->append(buffer, static_cast<size_t>(n));
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else if (n == 0 || errno != EINTR) {
            close(*fd);
            *fd = -1;
        }
    }
}

bool socket_accepts(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

std::string file_slave(const std::string& pulse_socket) {
    if (pulse_socket.empty()) return "{ type null }";
    return "{ type pulse server \"unix:" + pulse_socket + "\" }";
}

}  // namespace

bool write_raw_samples(const std::string& path, const std::vector<int16_t>& samples) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(samples.data()),
               static_cast<std::streamsize>(samples.size() * sizeof(int16_t)));
    return static_cast<bool>(file);
}

std::vector<int16_t> read_raw_samples(const std::string& path) {
    const std::string bytes = read_file(path);
    std::vector<int16_t> samples(bytes.size() / sizeof(int16_t));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(int16_t));
    return samples;
}

env_list write_alsa_config(const std::string& dir, const std::string& output_file,
                           const std::string& input_file, const std::string& pulse_socket) {
    const std::string slave = file_slave(pulse_socket);
    const std::string text =
        "# The default device: played samples to a raw file, captured ones from a raw file.\n"
        "pcm.!default {\n"
        "    type asym\n"
        "    playback.pcm {\n"
        "        type file\n"
        "        slave.pcm " +
        slave +
        "\n"
        "        file \"" +
        output_file +
        "\"\n"
        "        format \"raw\"\n"
        "    }\n"
        "    capture.pcm {\n"
        "        type file\n"
        "        slave.pcm " +
        slave +
        "\n"
        "        file \"/dev/null\"\n"
        "        infile \"" +
        input_file +
        "\"\n"
        "        format \"raw\"\n"
        "    }\n"
        "}\n";
    env_list env = write_alsa_config_text(dir, text);
    if (!pulse_socket.empty()) env.push_back(pulse_tsan_options());
    return env;
}

env_list write_alsa_config_text(const std::string& dir, const std::string& text) {
    const std::string path = dir + "/asound.conf";
    write_file(path, text);
    // JACK is one of PortAudio's back ends; it must not try to start a server of its own.
    return {"ALSA_CONFIG_PATH=" + path, "JACK_NO_START_SERVER=1"};
}

env_list system_without_sound_server(const std::string& dir) {
    const std::string home = dir + "/home";
    const std::string runtime = dir + "/run";
    mkdir(home.c_str(), 0700);
    mkdir(runtime.c_str(), 0700);
    const std::string client_conf = dir + "/client.conf";
    write_file(client_conf, "autospawn = no\n");
    return {"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime, "XDG_CONFIG_HOME=" + home + "/.config",
            "PULSE_CLIENTCONFIG=" + client_conf, "PULSE_SERVER=unix:" + dir + "/no-server",
            "ALSA_CONFIG_PATH=/usr/share/alsa/alsa.conf", "JACK_NO_START_SERVER=1",
            pulse_tsan_options(),
            // ALSA's plugin modules keep a few allocations that become unreachable when it
            // unloads them at exit; not this program's memory.
            appended_to("ASAN_OPTIONS", ":detect_leaks=0")};
}

std::string pulse_tsan_options() {
    return appended_to("TSAN_OPTIONS", ":suppressions=" DSPHOST_PULSE_TSAN_SUPPRESSIONS);
}

bool start_private_pulse(private_pulse* pulse, double timeout_seconds) {
    stop_private_pulse(pulse);
    pulse->dir = make_temp_dir("dsphost-pulse");
    if (pulse->dir.empty()) return false;
    const std::string home = pulse->dir + "/home";
    const std::string runtime = pulse->dir + "/run";
    mkdir(home.c_str(), 0700);
    mkdir(runtime.c_str(), 0700);
    pulse->socket = pulse->dir + "/native";
    pulse->log = pulse->dir + "/log";
    const std::string script = pulse->dir + "/default.pa";
    // An idle null sink renders in 2-second blocks, which stalls a new stream for up to 2 s;
    // a loopback keeps it busy with short blocks, and the suspend and resume make it start
    // over with them. The socket comes last, so a connection means everything is loaded.
    write_file(
        script,
        "load-module module-null-sink sink_name=dsphost_sink rate=8000 channels=1 format=s16le\n"
        "load-module module-null-source source_name=dsphost_source rate=8000 channels=1 "
        "format=s16le\n"
        "set-default-sink dsphost_sink\n"
        "set-default-source dsphost_source\n"
        "load-module module-loopback source=dsphost_source sink=dsphost_sink latency_msec=10 "
        "adjust_time=0\n"
        "suspend-sink dsphost_sink 1\n"
        "suspend-sink dsphost_sink 0\n"
        "load-module module-native-protocol-unix socket=" +
            pulse->socket + " auth-anonymous=1\n");

    const int log_fd = open(pulse->log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (log_fd < 0) {
        stop_private_pulse(pulse);
        return false;
    }
    pulse->pid = spawn_child(
        {"pulseaudio", "-n", "-F", script, "--daemonize=no", "--exit-idle-time=-1",
         "--use-pid-file=no", "--system=no", "--log-target=stderr"},
        {"HOME=" + home, "XDG_RUNTIME_DIR=" + runtime, "XDG_CONFIG_HOME=" + home + "/.config"},
        {"PULSE_SERVER", "DISPLAY", "DBUS_SESSION_BUS_ADDRESS"}, log_fd, log_fd);
    close(log_fd);
    if (pulse->pid < 0) {
        stop_private_pulse(pulse);
        return false;
    }

    const auto deadline = deadline_after(timeout_seconds);
    while (now_ms() < deadline) {
        int status = 0;
        if (waitpid(pulse->pid, &status, WNOHANG) == pulse->pid) {
            pulse->pid = -1;  // it died on its own; nothing left to stop
            break;
        }
        if (socket_accepts(pulse->socket)) return true;
        usleep(20 * 1000);
    }
    // Keep the log readable for the failure message: stop the daemon, leave the directory.
    if (pulse->pid > 0) {
        kill(pulse->pid, SIGKILL);
        waitpid(pulse->pid, nullptr, 0);
        pulse->pid = -1;
    }
    return false;
}

void stop_private_pulse(private_pulse* pulse) {
    if (pulse->pid > 0) {
        kill(pulse->pid, SIGTERM);
        const auto deadline = deadline_after(5.0);
        bool reaped = false;
        while (!reaped && now_ms() < deadline) {
            reaped = waitpid(pulse->pid, nullptr, WNOHANG) == pulse->pid;
            if (!reaped) usleep(10 * 1000);
        }
        if (!reaped) {
            kill(pulse->pid, SIGKILL);
            waitpid(pulse->pid, nullptr, 0);
        }
        pulse->pid = -1;
    }
    remove_temp_dir(pulse->dir);
    pulse->dir.clear();
}

std::string pulse_log(const private_pulse& pulse) {
    return read_file(pulse.log);
}

watched_run run_watched(const std::vector<std::string>& argv, const env_list& set,
                        const std::vector<std::string>& unset, double timeout_seconds) {
    watched_run run;
    int out_pipe[2];
    int err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) != 0) return run;
    if (pipe2(err_pipe, O_CLOEXEC) != 0) {
        close(out_pipe[0]);
        close(out_pipe[1]);
        return run;
    }
    const pid_t pid = spawn_child(argv, set, unset, out_pipe[1], err_pipe[1]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    int out_fd = out_pipe[0];
    int err_fd = err_pipe[0];
    // Not waiting on the pipes, nothing waits on processes that may have inherited them.
    fcntl(out_fd, F_SETFL, O_NONBLOCK);
    fcntl(err_fd, F_SETFL, O_NONBLOCK);
    if (pid < 0) {
        close(out_fd);
        close(err_fd);
        return run;
    }
    run.started = true;

    const auto deadline = deadline_after(timeout_seconds);
    bool reaped = false;
    int status = 0;
    while (!reaped) {
        if (now_ms() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            run.timed_out = true;
            break;
        }
        pollfd fds[2] = {{out_fd, POLLIN, 0}, {err_fd, POLLIN, 0}};
        if (poll(fds, 2, 20) > 0) {
            take_available(&out_fd, &run.out);
            take_available(&err_fd, &run.err);
        }
        reaped = waitpid(pid, &status, WNOHANG) == pid;
    }
    take_available(&out_fd, &run.out);
    take_available(&err_fd, &run.err);
    record_status(status, &run);
    return run;
}

std::string describe_run(const watched_run& run) {
    std::ostringstream text;
    if (!run.started) {
        text << "not started";
    } else if (run.timed_out) {
        text << "killed by the watchdog";
    } else if (run.exited) {
        text << "exit status " << run.exit_code;
    } else {
        text << "ended by signal " << run.term_signal;
    }
    text << "; stdout [" << run.out << "] stderr [" << run.err << "]";
    return text.str();
}

int64_t find_sample_offset(const std::vector<int16_t>& output, const std::vector<int16_t>& expected,
                           int64_t compare_count, int64_t max_offset) {
    if (compare_count < 0 || compare_count > static_cast<int64_t>(expected.size())) return -1;
    const int64_t available = static_cast<int64_t>(output.size());
    for (int64_t k = 0; k <= max_offset && k + compare_count <= available; ++k) {
        if (std::equal(expected.begin(), expected.begin() + compare_count, output.begin() + k)) {
            return k;
        }
    }
    return -1;
}

std::string probe_field(const std::string& line, const std::string& key) {
    std::istringstream words(line);
    std::string word;
    const std::string prefix = key + "=";
    while (words >> word) {
        if (word.compare(0, prefix.size(), prefix) == 0) return word.substr(prefix.size());
    }
    return "";
}
