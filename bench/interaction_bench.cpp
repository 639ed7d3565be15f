// The work behind each paced pointer move, a layout pass and a toggle, for
// three window sizes, normal and full-width, and pictures of 2, 24 and 100
// megapixels. The window is the real one, driven through its handlers,
// without a screen.
#include "app/form1.h"
#include "bench_image.h"

#include <QGuiApplication>
#include <QPainter>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>

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

// One loaded window per picture size, kept for every benchmark.
Form1& windowWith(int megapixels)
{
    static std::map<int, std::unique_ptr<Form1>> windows;
    auto& form = windows[megapixels];
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
    benchmark->ArgNames({"w", "h", "full", "MP"})->Unit(benchmark::kMicrosecond);
}

BENCHMARK(OverviewMove)->Apply(windowsModesAndPictures);
BENCHMARK(DetailDrag)->Apply(windowsModesAndPictures);
BENCHMARK(DetailDragAndPaint)->Apply(windowsModesAndPictures);
BENCHMARK(LayoutPass)->Apply(windowsModesAndPictures);
BENCHMARK(Toggle)->Apply(windowsModesAndPictures);

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
