// Encoding cost of a mail attachment at the default size limit (512 KB) and of a mail's text.
#include "actions/Smtp.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

static void BM_Base64Attachment(benchmark::State& state) {
    std::vector<uint8_t> data(static_cast<size_t>(state.range(0)));
    for (size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    }
    for (auto _ : state) {
        std::string encoded = mylib::MySMTPAttachment::Encode(data.data(), data.size());
        benchmark::DoNotOptimize(encoded.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Base64Attachment)->Arg(512 * 1024)->Arg(8 * 1024 * 1024);

static void BM_MailBody(benchmark::State& state) {
    std::string body;
    for (int i = 0; i < 200; ++i) {
        body += "Event      : Record Finish\nFilename   : /home/me/Videos/Door_07122026_030509.avi\n.\n";
    }
    mylib::MySMTPMessage message;
    for (auto _ : state) {
        message.SetBody(body);
        std::string mime = message.GetMimeBody();
        benchmark::DoNotOptimize(mime.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * body.size()));
}
BENCHMARK(BM_MailBody);
BENCHMARK_MAIN();
