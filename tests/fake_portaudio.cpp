// A stand-in for the seven PortAudio calls the program makes, linked into a test build of the
// program: it calls the stream callback 8000 times a second from a thread of its own, answers
// the CPU-load query with 0.0312, and appends the name of every call (the stream's arguments
// with it) to the file named by DSPHOST_FAKE_PA_LOG, so that tests can see the calls in order.
// With DSPHOST_FAKE_PA_STOP=never, Pa_StopStream never returns, as on a sound server that
// went away.
#include <portaudio.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace {

PaStreamCallback* stream_callback = nullptr;
void* stream_user_data = nullptr;
std::atomic<bool> running{false};
std::thread* stream_thread = nullptr;  // never destroyed: the process may end without a stop

PaError logged(const char* call, const char* arguments = "") {
    if (FILE* log = std::fopen(std::getenv("DSPHOST_FAKE_PA_LOG"), "a")) {
        std::fprintf(log, "%s%s\n", call, arguments);
        std::fclose(log);
    }
    return paNoError;
}

void run_stream() {
    const auto start = std::chrono::steady_clock::now();
    for (int64_t done = 0; running.load();) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const auto due =
            (std::chrono::steady_clock::now() - start) / std::chrono::microseconds(125);
        for (int16_t in = 0, out = 0; done < due; ++done) {
            stream_callback(&in, &out, 1, nullptr, 0, stream_user_data);
        }
    }
}

}  // namespace

extern "C" {

PaError Pa_Initialize(void) {
    return logged("Pa_Initialize");
}

PaError Pa_OpenDefaultStream(PaStream** stream, int inputs, int outputs, PaSampleFormat format,
                             double rate, unsigned long frames, PaStreamCallback* callback,
                             void* user_data) {
    stream_callback = callback;
    stream_user_data = user_data;
    *stream = &stream_callback;
    char arguments[96];
    std::snprintf(arguments, sizeof arguments, "(%d,%d,%lu,%g,%lu)", inputs, outputs,
                  static_cast<unsigned long>(format), rate, frames);
    return logged("Pa_OpenDefaultStream", arguments);
}

PaError Pa_StartStream(PaStream*) {
    running.store(true);
    stream_thread = new std::thread(run_stream);
    return logged("Pa_StartStream");
}

double Pa_GetStreamCpuLoad(PaStream*) {
    logged("Pa_GetStreamCpuLoad");  // once a status line
    return 0.0312;
}

PaError Pa_StopStream(PaStream*) {
    if (const char* stop = std::getenv("DSPHOST_FAKE_PA_STOP"); stop && *stop == 'n') {
        logged("Pa_StopStream");
        for (;;) {
            std::this_thread::sleep_for(std::chrono::hours(1));
        }
    }
    running.store(false);
    stream_thread->join();
    return logged("Pa_StopStream");
}

PaError Pa_CloseStream(PaStream*) {
    return logged("Pa_CloseStream");
}

PaError Pa_Terminate(void) {
    return logged("Pa_Terminate");
}

}  // extern "C"
