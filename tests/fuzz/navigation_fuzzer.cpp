// Arbitrary picture sizes, window sizes and pointer events through the
// layout, the toggle, centring, clamping and dragging. Every error must be
// an overflow or floating-point error the program reports, and after every move that
// is acted on both offsets must lie inside the clamp bounds.
#include "app/form1.h"
#include "platform/runtime_error.h"

#include <QGuiApplication>
#include <QImage>

#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

using korvane::ErrorKind;
using korvane::Form1;
using korvane::Single;

std::string g_picture;

// Loading and scaling the picture is the load fuzzer's part: here it is
// loaded once, and every input's window shares it and its scaled copies.
korvane::Picture loadOnce(const std::string& path)
{
    static const korvane::Picture picture = korvane::LoadPicture(path);
    return picture;
}

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "%s\n", what);
    std::abort();
}

bool isArithmeticError(ErrorKind kind)
{
    return kind == ErrorKind::Overflow || kind == ErrorKind::InvalidOperation || kind == ErrorKind::DivisionByZero
        || kind == ErrorKind::FloatOverflow;
}

// Runs a handler; true when it ran to the end.
template <class Handler>
bool guarded(Handler&& handler)
{
    try {
        handler();
        return true;
    } catch (const korvane::RuntimeError& error) {
        if (!isArithmeticError(error.kind())) {
            std::fprintf(stderr, "unexpected error: %s\n", error.what());
            std::abort();
        }
        return false;
    }
}

bool insideBounds(double offset, double detail, double source)
{
    const double lower = -detail, upper = detail + source - 1;
    const double tolerance = 0.5 + std::abs(upper) * 1e-7; // the bound is rounded to a Long
    return offset <= upper + tolerance && (offset >= lower - 0.5 - std::abs(lower) * 1e-7 || upper < lower);
}

void checkOffsets(Form1& form)
{
    const korvane::ViewState& state = form.state();
    if (!insideBounds(state.OffsetX, form.Picture3.Width(), form.Picture2.Width()))
        fail("OffsetX outside the clamp bounds");
    if (!insideBounds(state.OffsetY, form.Picture3.Height(), form.Picture2.Height()))
        fail("OffsetY outside the clamp bounds");
}

Single pointerCoordinate(FuzzedDataProvider& data)
{
    // Mostly where a pointer can be, sometimes anywhere a Single reaches.
    if (data.ConsumeBool())
        return data.ConsumeFloatingPointInRange<Single>(-100000.0f, 100000.0f);
    return data.ConsumeFloatingPoint<Single>();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "korvane-navigation-fuzzer";
    static char* argv[] = {name, nullptr};
    static QGuiApplication app(argc, argv);
    char directory[] = "/tmp/korvane-fuzz-XXXXXX";
    g_picture = std::string(mkdtemp(directory)) + "/picture.png";
    QImage picture(64, 48, QImage::Format_RGB32);
    picture.fill(0xFF336699);
    picture.save(QString::fromStdString(g_picture), "png");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    Form1 form(g_picture, loadOnce);
    if (!guarded([&] { form.Form_Load(); }))
        return 0;
    guarded([&] { form.Form_Resize(); });
    while (data.remaining_bytes() > 0) {
        Single x = pointerCoordinate(data), y = pointerCoordinate(data);
        const korvane::ViewState& state = form.state();
        switch (data.ConsumeIntegralInRange(0, 9)) {
        case 0: // the picture's size in twips: any pixel size a file can claim
            form.Picture2.setWidth(static_cast<Single>(data.ConsumeIntegralInRange<std::int64_t>(0, 1ll << 31) * 15));
            form.Picture2.setHeight(static_cast<Single>(data.ConsumeIntegralInRange<std::int64_t>(0, 1ll << 31) * 15));
            break;
        case 1: {
            const korvane::PixelSize inner{data.ConsumeIntegralInRange(0, 5000), data.ConsumeIntegralInRange(0, 3000)};
            const korvane::Integer windowState = static_cast<korvane::Integer>(data.ConsumeIntegralInRange(0, 2));
            guarded([&] { form.window.windowSystemChanged(inner, korvane::PixelSize{}, windowState); });
            break;
        }
        case 2: guarded([&] { form.Command4_Click(); }); break;
        case 3: form.Timer1.tick(); break;
        case 4: guarded([&] { form.Picture1_MouseDown(1, 0, x, y); }); break;
        case 5: {
            const bool acted = state.OverviewDragging == 1 && state.TickReady == 1;
            if (guarded([&] { form.Picture1_MouseMove(1, 0, x, y); }) && acted)
                checkOffsets(form);
            break;
        }
        case 6: guarded([&] { form.Picture1_MouseUp(1, 0, x, y); }); break;
        case 7: guarded([&] { form.Picture3_MouseDown(1, 0, x, y); }); break;
        case 8: {
            const bool acted = state.DetailDragging == 1 && state.TickReady == 1;
            if (guarded([&] { form.Picture3_MouseMove(1, 0, x, y); }) && acted)
                checkOffsets(form);
            break;
        }
        default: guarded([&] { form.Picture3_MouseUp(1, 0, x, y); }); break;
        }
    }
    return 0;
}
