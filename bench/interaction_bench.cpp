// The work behind each paced pointer move, a layout pass and a toggle, for
// three window sizes, normal and full-width, and pictures of 2, 24 and 100
// megapixels; with KORVANE_BENCH_HUGE, a picture too large to hold too, its
// far jumps and a paced drag onward over it. The window is the real one, driven through its handlers,
// without a screen.
#include "app/form1.h"
#include "bench_image.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <thread>

namespace korvane {
namespace {

struct PictureSize {
    int width, height;
};

// 2, 24 and 100 megapixels at 3:2.
PictureSize pictureOfMegapixels(int megapixels)
{
    switch (megapixels) {
    case 2: return {1732, 1155};
    case 24: return {6000, 4000};
    default: return {12248, 8165};
    }
}

std::string scratchDirectory()
{
    static const std::string directory = [] {
        char name[] = "/tmp/korvane-bench-XXXXXX";
        return std::string(mkdtemp(name));
    }();
    return directory;
}

// KORVANE_BENCH_HUGE=PATH: a picture too large to hold, "0 MP" below.
const char* hugePicture()
{
    return std::getenv("KORVANE_BENCH_HUGE");
}

// One loaded window per picture size, kept for every benchmark.
Form1& windowWith(int megapixels)
{
    static std::map<int, std::unique_ptr<Form1>> windows;
    auto& form = windows[megapixels];
    if (!form && megapixels == 0) {
        form = std::make_unique<Form1>(hugePicture());
        form->Form_Load();
        // Its window shows while the overview's pass still reads it: far
        // presses are timed once the pass has gone by.
        std::promise<void> passed;
        form->Picture2.picture().whenComplete([&passed] { passed.set_value(); });
        passed.get_future().wait();
    }
    if (!form) {
        const PictureSize size = pictureOfMegapixels(megapixels);
        const std::string path = scratchDirectory() + "/" + std::to_string(megapixels) + "mp.jpg";
        bench::writeBenchImage(path, size.width, size.height);
        form = std::make_unique<Form1>(path);
        form->Form_Load();
        std::filesystem::remove(path);
    }
    return *form;
}

// Arguments: window width, height, full-width (0 or 1), megapixels.
Form1& prepare(const benchmark::State& state)
{
    Form1& form = windowWith(static_cast<int>(state.range(3)));
    form.window.windowSystemChanged(PixelSize{static_cast<int>(state.range(0)), static_cast<int>(state.range(1))},
        PixelSize{}, FormWindow::kNormal);
    const bool fullWidth = state.range(2) != 0;
    if ((form.state().FullWidthMode != 0) != fullWidth)
        form.Command4_Click();
    return form;
}

void OverviewMove(benchmark::State& state)
{
    Form1& form = prepare(state);
    Single x = 3000, y = 2000;
    form.Picture1_MouseDown(1, 0, x, y);
    for (auto _ : state) {
        form.Timer1.tick();
        x = x == 3000 ? 3300 : 3000; // 20 pixels to and fro
        form.Picture1_MouseMove(1, 0, x, y);
    }
    form.Picture1_MouseUp(1, 0, x, y);
}

// A detail drag to and fro by 50 pixels; with a screen, each step is also
// drawn to it as the window's paint would draw it.
void dragDetailView(benchmark::State& state, QImage* screen)
{
    Form1& form = prepare(state);
    std::optional<QPainter> painter;
    if (screen)
        painter.emplace(screen);
    const QRect area(QPoint(0, 0), form.Picture3.pixelGeometry().size());
    Single x = 4500, y = 4500;
    form.Picture3_MouseDown(1, 0, x, y);
    for (auto _ : state) {
        form.Timer1.tick();
        x = x == 4500 ? 3750 : 4500;
        form.Picture3_MouseMove(1, 0, x, y);
        if (painter)
            form.Picture3.drawTo(*painter, area, 1.0);
    }
    form.Picture3_MouseUp(1, 0, x, y);
}

void DetailDrag(benchmark::State& state)
{
    dragDetailView(state, nullptr);
}

// What a drag step costs on the screen.
void DetailDragAndPaint(benchmark::State& state)
{
    QImage screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), QImage::Format_RGB32);
    dragDetailView(state, &screen);
}

void LayoutPass(benchmark::State& state)
{
    Form1& form = prepare(state);
    const PixelSize size{static_cast<int>(state.range(0)), static_cast<int>(state.range(1))};
    bool smaller = false;
    for (auto _ : state) {
        smaller = !smaller;
        form.window.windowSystemChanged(PixelSize{size.width - (smaller ? 8 : 0), size.height}, PixelSize{},
            FormWindow::kNormal);
    }
}

void Toggle(benchmark::State& state)
{
    Form1& form = prepare(state);
    for (auto _ : state)
        form.Command4_Click();
}

void windowsModesAndPictures(benchmark::internal::Benchmark* benchmark)
{
    for (int megapixels : {2, 24, 100})
        for (auto [width, height] : {std::pair{1000, 640}, {1920, 1080}, {3840, 2160}})
            for (int fullWidth : {0, 1})
                benchmark->Args({width, height, fullWidth, megapixels});
    if (hugePicture())
        for (int fullWidth : {0, 1})
            benchmark->Args({3840, 2160, fullWidth, 0});
    benchmark->ArgNames({"w", "h", "full", "MP"})->Unit(benchmark::kMicrosecond);
}

// A point of the overview, as fractions of its sides, in twips.
std::pair<Single, Single> overviewPoint(Form1& form, double across, double down)
{
    const QSize size = form.Picture1.pixelGeometry().size();
    return {Single(across * size.width() * 15), Single(down * size.height() * 15)};
}

// A press on the overview far from the last one, until the detail view
// shows final pixels there: 49 points of a 7 x 7 grid, each 3 columns and
// 3 rows on from the one before.
void FarJump(benchmark::State& state)
{
    Form1& form = prepare(state);
    int step = 0;
    for (auto _ : state) {
        const int cell = (step++ * 24) % 49;
        auto [x, y] = overviewPoint(form, 0.07 + 0.86 * (cell % 7) / 6, 0.07 + 0.86 * (cell / 7) / 6);
        form.Picture1_MouseDown(1, 0, x, y);
        form.Picture1_MouseUp(1, 0, x, y);
    }
}

// A detail drag onward, 50 pixels a tick over picture not shown yet, with
// the 60 ms between ticks in which the tiles around are fetched ahead: what
// one tick's move and paint cost.
void PacedOnwardDrag(benchmark::State& state)
{
    Form1& form = prepare(state);
    QImage screen(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), QImage::Format_RGB32);
    QPainter painter(&screen);
    const QRect area(QPoint(0, 0), form.Picture3.pixelGeometry().size());
    auto [startX, startY] = overviewPoint(form, 0.1, 0.1);
    form.Picture1_MouseDown(1, 0, startX, startY);
    form.Picture1_MouseUp(1, 0, startX, startY);
    Single x = 40000, y = 20000;
    form.Picture3_MouseDown(1, 0, x, y);
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        form.Timer1.tick();
        x -= 750;
        if (x < 2000) { // the panel's edge: take hold again
            form.Picture3_MouseUp(1, 0, x, y);
            x = 40000;
            form.Picture3_MouseDown(1, 0, x, y);
        }
        form.Picture3_MouseMove(1, 0, x, y);
        form.Picture3.drawTo(painter, area, 1.0);
        const auto spent = std::chrono::steady_clock::now() - start;
        state.SetIterationTime(std::chrono::duration<double>(spent).count());
        std::this_thread::sleep_until(start + std::chrono::milliseconds(60));
    }
    form.Picture3_MouseUp(1, 0, x, y);
}

void hugePictureOnly(benchmark::internal::Benchmark* benchmark)
{
    if (hugePicture())
        for (auto [width, height] : {std::pair{1920, 1080}, {3840, 2160}})
            for (int fullWidth : {0, 1})
                benchmark->Args({width, height, fullWidth, 0});
    benchmark->ArgNames({"w", "h", "full", "MP"})->Unit(benchmark::kMillisecond);
}

BENCHMARK(OverviewMove)->Apply(windowsModesAndPictures);
BENCHMARK(DetailDrag)->Apply(windowsModesAndPictures);
BENCHMARK(DetailDragAndPaint)->Apply(windowsModesAndPictures);
BENCHMARK(LayoutPass)->Apply(windowsModesAndPictures);
BENCHMARK(Toggle)->Apply(windowsModesAndPictures);
BENCHMARK(FarJump)->Apply(hugePictureOnly)->Iterations(49);
BENCHMARK(PacedOnwardDrag)->Apply(hugePictureOnly)->UseManualTime()->Iterations(300);

} // namespace
} // namespace korvane

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    int qtArgc = 1;
    QGuiApplication app(qtArgc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
