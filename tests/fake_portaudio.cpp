// A stand-in for the seven PortAudio calls the program makes, linked into a test build
// of the program. It drives the stream callback from a thread of its own at a chosen
// rate with known samples, answers the CPU-load query from a script, and records every
// call, so that end-to-end tests can see what the real library cannot show.
//
// Environment:
//   DSPHOST_FAKE_PA_LOG        file that receives one line per call (appended)
//   DSPHOST_FAKE_PA_RATE       callbacks per second (default 8000)
//   DSPHOST_FAKE_PA_CPU        comma-separated CPU loads returned in turn, the last repeated
//   DSPHOST_FAKE_PA_OPEN_FAIL  "1": opening fails and leaves the stream null
#include <fcntl.h>
#include <portaudio.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

struct fake_stream {
    PaStreamCallback* callback = nullptr;
    void* user_data = nullptr;
    std::thread thread;
    std::atomic<bool> running{false};
    std::atomic<int64_t> delivered{0};
    std::atomic<int64_t> mismatches{0};
};

// Never destroyed: a process that ends without stopping the stream must not trip over a
// running thread in a static destructor.
fake_stream& the_stream = *new fake_stream;
std::vector<double> cpu_script;
size_t cpu_next = 0;

void log_call(const std::string& line) {
    const char* path = std::getenv("DSPHOST_FAKE_PA_LOG");
    if (path == nullptr) return;
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    const std::string text = line + "\n";
    if (write(fd, text.data(), text.size()) < 0) {
    }
    close(fd);
}

int16_t input_sample(int64_t n) {
    return static_cast<int16_t>((n * 7919) % 65536 - 32768);
}

// Delivers floor(rate * elapsed) samples in all, one callback each, on a 1 ms tick.
void run_stream(fake_stream* s, long rate) {
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    timespec next = start;
    while (s->running.load()) {
        next.tv_nsec += 1000000;
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        const double elapsed =
            static_cast<double>(now.tv_sec - start.tv_sec) + (now.tv_nsec - start.tv_nsec) / 1e9;
        const auto due = static_cast<int64_t>(elapsed * static_cast<double>(rate));
        for (int64_t n = s->delivered.load(); n < due && s->running.load(); ++n) {
            const int16_t in = input_sample(n);
            int16_t out = 0;
            s->callback(&in, &out, 1, nullptr, 0, s->user_data);
            if (out != in) s->mismatches.fetch_add(1);
            s->delivered.store(n + 1);
        }
    }
}

}  // namespace

extern "C" {

PaError Pa_Initialize(void) {
    log_call("Pa_Initialize");
    if (const char* script = std::getenv("DSPHOST_FAKE_PA_CPU")) {
        for (const char* p = script; *p != '\0';) {
            char* end = nullptr;
            cpu_script.push_back(std::strtod(p, &end));
            if (end == p) break;
            p = *end == ',' ? end + 1 : end;
        }
    }
    return paNoError;
}

PaError Pa_OpenDefaultStream(PaStream** stream, int, int, PaSampleFormat, double, unsigned long,
                             PaStreamCallback* callback, void* user_data) {
    log_call("Pa_OpenDefaultStream");
    const char* fail = std::getenv("DSPHOST_FAKE_PA_OPEN_FAIL");
    if (fail != nullptr && std::strcmp(fail, "1") == 0) return paInvalidDevice;
    the_stream.callback = callback;
    the_stream.user_data = user_data;
    *stream = &the_stream;
    return paNoError;
}

PaError Pa_StartStream(PaStream* stream) {
    log_call("Pa_StartStream");
    if (stream != &the_stream) return paBadStreamPtr;
    const char* rate_text = std::getenv("DSPHOST_FAKE_PA_RATE");
    const long rate = rate_text != nullptr ? std::atol(rate_text) : 8000;
    the_stream.running.store(true);
    the_stream.thread = std::thread(run_stream, &the_stream, rate);
    return paNoError;
}

double Pa_GetStreamCpuLoad(PaStream*) {
    log_call("Pa_GetStreamCpuLoad");
    if (cpu_script.empty()) return 0.0;
    const double load = cpu_script[cpu_next];
    if (cpu_next + 1 < cpu_script.size()) ++cpu_next;
    return load;
}

PaError Pa_StopStream(PaStream* stream) {
    log_call("Pa_StopStream");
    if (stream != &the_stream) return paBadStreamPtr;
    the_stream.running.store(false);
    the_stream.thread.join();
    log_call("delivered " + std::to_string(the_stream.delivered.load()) + " mismatches " +
             std::to_string(the_stream.mismatches.load()));
    return paNoError;
}

PaError Pa_CloseStream(PaStream* stream) {
    log_call("Pa_CloseStream");
    return stream == &the_stream ? paNoError : paBadStreamPtr;
}

PaError Pa_Terminate(void) {
    log_call("Pa_Terminate");
    return paNoError;
}

}  // extern "C"
