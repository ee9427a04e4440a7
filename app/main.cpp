#include <chrono>
#include <thread>

#include "app/startup.h"
#include "audio/stream_control.h"

int main() {
    system_startup();
    PaStream* stream = nullptr;
    std::atomic<int64_t> stream_count{0};
    int32_t pa_result = 0;
    stream_start(&stream, &stream_count, &pa_result);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    stream_stop(stream, &pa_result);
    end_program(0);
}
