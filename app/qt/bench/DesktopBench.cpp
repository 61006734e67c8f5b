// What the desktop's live pictures cost: the streaming thread's part of handing a frame to its
// camera window (conversion into a picture and the queued call), the GUI thread's part (taking
// the picture and painting it scaled), and the mask editor's repaint after "Clear All".

#include "app/qt/BitmapPaintCtrl.h"
#include "app/qt/VideoWidget.h"

#include <QApplication>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <vector>

namespace {

std::vector<uint8_t> MakeFrame(int width, int height) {
    std::vector<uint8_t> frame(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = static_cast<uint8_t>(i * 7);
    }
    return frame;
}

// Streaming thread: one frame converted into a picture and left in the camera window's mailbox.
void BM_FrameHandover(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::vector<uint8_t> frame = MakeFrame(width, height);
    auto mailbox = std::make_shared<CVideoWidget::CMailbox>();
    CVideoWidget widget;
    mailbox->receiver = &widget;
    for (auto _ : state) {
        CVideoWidget::Deliver(mailbox, frame.data(), width, height, width * 3);
    }
    {
        std::lock_guard<std::mutex> lock(mailbox->lock);
        mailbox->receiver = nullptr;
    }
    QApplication::removePostedEvents(&widget);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(frame.size()));
}

// GUI thread: taking the newest picture and painting it scaled into an 800 x 600 window.
void BM_FrameShownOnGuiThread(benchmark::State& state) {
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    const std::vector<uint8_t> frame = MakeFrame(width, height);
    CVideoWidget widget;
    widget.resize(800, 600);
    widget.show();
    auto mailbox = std::make_shared<CVideoWidget::CMailbox>();
    mailbox->receiver = &widget;
    for (auto _ : state) {
        state.PauseTiming();
        CVideoWidget::Deliver(mailbox, frame.data(), width, height, width * 3);
        state.ResumeTiming();
        QApplication::processEvents(); // the queued call, then the paint
        widget.repaint();
    }
    std::lock_guard<std::mutex> lock(mailbox->lock);
    mailbox->receiver = nullptr;
}

// GUI thread: the mask editor repainting a 640 x 480 mask after "Clear All".
void BM_MaskEditorClearAll(benchmark::State& state) {
    CBitmapPaintCtrl ctrl;
    ctrl.resize(660, 500);
    ctrl.show();
    QImage picture(640, 480, QImage::Format_BGR888);
    picture.fill(Qt::darkGray);
    ctrl.SetBackgroundImage(picture);
    for (auto _ : state) {
        ctrl.ClearAll();
        ctrl.viewport()->repaint();
    }
}

} // namespace

BENCHMARK(BM_FrameHandover)->Args({320, 240})->Args({640, 480})->Args({1280, 720});
BENCHMARK(BM_FrameShownOnGuiThread)->Args({320, 240})->Args({640, 480})->Args({1280, 720});
BENCHMARK(BM_MaskEditorClearAll);

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
