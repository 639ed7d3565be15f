// korvane-first-frame-bench KORVANE PNG_DECODE [RUNS]: whole-program figures
// on a private Xvfb screen. For JPEG and PNG pictures of 24 and 100
// megapixels it times, side by side, the decoder alone (djpeg, or the
// libpng decoder) to its exit, and korvane and each installed peer viewer
// from start until the picture is on the screen (read off the screen, not
// reported by the program), and takes each one's peak resident memory.
// Prints medians and ratios.
#include "bench_image.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <memory>
#include <numeric>
#include <random>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "../tests/x_session.h" // Xlib last
#include "screen_reader.h"
#include "startup_phases.h"

#include <X11/extensions/XTest.h>

namespace korvane::bench {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// So many screen pixels of the picture's hue mean the picture is shown.
constexpr long kShownPixels = 60000;

struct Measure {
    double seconds = 0;
    double wholeSeconds = 0; // korvane: until a press far down, once the overview is whole, shows final pixels
    double jumpSeconds = 0;  // from that press
    double peakMegabytes = 0;
    double cpuSeconds = 0; // user and system time of all its threads when the picture showed
    bool ok = false;
    bool exited = false; // ended by itself before showing the picture (it refused the file)
};

// A running process's CPU time so far, every thread's, ended ones too.
double cpuSecondsOf(pid_t pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const std::size_t afterName = text.rfind(')');
    if (afterName == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(afterName + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; fields >> field && index <= 15; ++index)
        if (index >= 14) // utime and stime
            ticks += std::stod(field);
    return ticks / double(sysconf(_SC_CLK_TCK));
}

double megabytes(const rusage& usage)
{
    return double(usage.ru_maxrss) / 1024.0;
}

// A decoder: from start to its exit.
Measure runToExit(const std::vector<std::string>& args, const std::string& display)
{
    const auto start = Clock::now();
    const pid_t pid = test::spawn(args, display, "/dev/null");
    int status = 0;
    rusage usage {};
    wait4(pid, &status, 0, &usage);
    Measure measure;
    measure.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    measure.peakMegabytes = megabytes(usage);
    measure.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    measure.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return measure;
}

// Korvane's overview is the left panel: the first picture pixels of the
// screen's top rows, 800 pixels wide for a landscape picture.
bool findOverview(ScreenReader& screen, int& left, int& top, int& bottom)
{
    for (top = 0; top < kScreenHeight; ++top)
        for (left = 0; left < kScreenWidth / 2; ++left)
            if (screen.isPicture(left, top) && screen.isPicture(left + 4, top + 4)) {
                for (bottom = top; bottom < kScreenHeight && screen.isPicture(left + 2, bottom); ++bottom) {
                }
                return bottom - top > 100;
            }
    return false;
}

// Presses on the overview's bottom-right corner: the detail view then needs
// the picture's last rows, and changes only once they are decoded.
double secondsUntilWholePicture(test::XSession& session, ScreenReader& screen, Clock::time_point start,
    double& jumpSeconds, double aspect)
{
    // A picture read in tiles is shown before its overview is whole: the
    // press waits for the overview's last rows (800 pixels wide for a
    // landscape picture, else 600 high), at the window's left edge: while
    // its top rows are white, the first picture found is the detail view.
    int left = 0, top = 0, bottom = 0;
    const int height = aspect > 1 ? int(800 / aspect) : 600;
    const auto found = Clock::now();
    for (screen.read(); !findOverview(screen, left, top, bottom) || left > 8 || bottom - top < height - 2; screen.read()) {
        if (Clock::now() - found > 300s)
            return 0;
        std::this_thread::sleep_for(10ms);
    }
    const int width = aspect > 1 ? 800 : int((bottom - top) * aspect);
    const unsigned long long before = screen.sumRightOf(left + 820);
    Display* display = session.display();
    XTestFakeMotionEvent(display, -1, left + width - 4, bottom - 4, CurrentTime);
    XTestFakeButtonEvent(display, 1, True, CurrentTime);
    XFlush(display);
    const auto pressed = Clock::now();
    double seconds = 0;
    while (Clock::now() - pressed < 60s) {
        screen.read();
        if (screen.sumRightOf(left + 820) != before) {
            seconds = std::chrono::duration<double>(Clock::now() - start).count();
            jumpSeconds = std::chrono::duration<double>(Clock::now() - pressed).count();
            break;
        }
        std::this_thread::sleep_for(1ms);
    }
    XTestFakeButtonEvent(display, 1, False, CurrentTime);
    XFlush(display);
    return seconds;
}

// A viewer: from start until the picture is on the screen; then it is
// left a moment to settle before it is ended and its peak taken.
Measure runToFirstFrame(const std::vector<std::string>& args, test::XSession& session, ScreenReader& screen,
    bool measureWhole, std::chrono::seconds deadline, double aspect)
{
    const auto start = Clock::now();
    const pid_t pid = test::spawn(args, session.name(), "/dev/null");
    Measure measure;
    int status = 0;
    rusage usage {};
    bool ended = false;
    while (Clock::now() - start < deadline) {
        if (screen.picturePixels() >= kShownPixels) {
            measure.seconds = std::chrono::duration<double>(Clock::now() - start).count();
            measure.cpuSeconds = cpuSecondsOf(pid);
            measure.ok = true;
            if (measureWhole)
                measure.wholeSeconds = secondsUntilWholePicture(session, screen, start, measure.jumpSeconds, aspect);
            break;
        }
        if (wait4(pid, &status, WNOHANG, &usage) == pid) {
            ended = true;
            measure.exited = true;
            break;
        }
        std::this_thread::sleep_for(2ms);
    }
    if (!ended) {
        std::this_thread::sleep_for(500ms);
        kill(pid, SIGTERM);
        for (int i = 0; i < 100 && wait4(pid, &status, WNOHANG, &usage) != pid; ++i)
            std::this_thread::sleep_for(20ms);
        kill(pid, SIGKILL);
        wait4(pid, &status, 0, &usage);
    }
    measure.peakMegabytes = megabytes(usage);
    // The screen must be clear of the picture before the next run.
    for (int i = 0; i < 100 && screen.picturePixels() >= kShownPixels; ++i)
        std::this_thread::sleep_for(20ms);
    return measure;
}

// Reads the file through once, so that every program finds it in the page
// cache: after other large files it may have left it.
void warm(const std::string& path)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return;
    std::vector<char> block(std::size_t(4) << 20);
    while (std::fread(block.data(), 1, block.size(), file) == block.size()) {
    }
    std::fclose(file);
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

bool installed(const std::string& program)
{
    return std::system(("command -v " + program + " >/dev/null 2>&1").c_str()) == 0;
}

struct Candidate {
    std::string name;
    std::vector<std::string> command; // the file's path is added last
    bool viewer;
};

} // namespace
} // namespace korvane::bench

// The sides a JPEG 2000 file's SIZ marker gives (0 x 0 for any other file).
std::pair<long long, long long> jpeg2000Size(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::string head(1 << 16, '\0');
    in.read(head.data(), std::streamsize(head.size()));
    const std::size_t siz = head.find("\xFF\x4F\xFF\x51");
    if (siz == std::string::npos || siz + 24 > std::size_t(in.gcount()))
        return {0, 0};
    const auto at = [&](std::size_t offset) {
        long long value = 0;
        for (int i = 0; i < 4; ++i)
            value = value << 8 | static_cast<unsigned char>(head[siz + offset + std::size_t(i)]);
        return value;
    };
    return {at(8) - at(16), at(12) - at(20)};
}

int main(int argc, char** argv)
{
    using namespace korvane::bench;
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s KORVANE PNG_DECODE [RUNS]\n", argv[0]);
        return 2;
    }
    const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
    char scratchName[] = "/tmp/korvane-first-frame-XXXXXX";
    const std::string scratch = mkdtemp(scratchName);
    setenv("XDG_RUNTIME_DIR", scratch.c_str(), 1);
    setenv("HOME", scratch.c_str(), 1); // peers write settings; keep them out of the real home
    korvane::test::XSession session;
    if (!session.start(std::to_string(kScreenWidth) + "x" + std::to_string(kScreenHeight) + "x24")) {
        std::fprintf(stderr, "cannot start Xvfb\n");
        return 1;
    }
    auto screenReader = std::make_unique<ScreenReader>(session.display());
    ScreenReader& screen = *screenReader;

    struct Picture {
        std::string label, path;
        double decodedMegabytes;
        double aspect = 1.5; // width / height
        long long limitBytes = 0; // an address-space limit for every program run on it
    };
    std::vector<Picture> pictures;
    // KORVANE_BENCH_ONLY=heic (or jpg, png) measures one format alone.
    const char* only = std::getenv("KORVANE_BENCH_ONLY");
    const auto wanted = [only](const std::string& format) { return !only || format == only; };
    // 12 MP as phones write it (4000 x 3000).
    for (auto [megapixels, width, height] :
        {std::tuple{2, 1920, 1080}, {12, 4000, 3000}, {24, 6000, 4000}, {100, 12248, 8165}})
        for (const char* format : {"jpg", "png"}) {
            if (!wanted(format) || (megapixels <= 12 && std::string(format) == "png"))
                continue;
            const std::string path = scratch + "/" + std::to_string(megapixels) + "mp." + format;
            std::fprintf(stderr, "writing %s\n", path.c_str());
            writeBenchImage(path, width, height);
            pictures.push_back({std::to_string(megapixels) + " MP " + format, path, double(width) * height * 3 / 1048576,
                double(width) / height});
        }
    // Larger than the picture cache, on request only (KORVANE_BENCH_ONLY=tif;
    // writing takes minutes): a gigapixel tiled BigTIFF with deflate tiles,
    // and the same as a pyramid of JPEG tiles.
    if (only && std::string(only) == "tif")
        for (const char* kind : {"tif", "pyramid.tif"}) {
            const std::string path = scratch + "/1gp." + kind;
            std::fprintf(stderr, "writing %s\n", path.c_str());
            writeBenchImage(path, 40000, 25000);
            pictures.push_back({std::string("1 GP ") + kind, path, 40000.0 * 25000 * 3 / 1048576, 1.6});
        }
    // KORVANE_BENCH_HUGE_DIR=DIR: pictures too large to hold, written
    // beforehand with korvane-bench-image (minutes each): huge.pyramid.tif
    // and huge.tif at 100000 x 100000, mid.tif at 40000 x 25000, huge.png
    // and huge.restart.jpg at 60000 x 60000. The PNG and JPEG run under a
    // 4 GiB address-space limit, the TIFFs under 16 GiB, so a peer that
    // decodes whole is refused its memory rather than take the machine's.
    // huge.jpg, 60000 x 40000 without restart markers (cjpeg's default),
    // and huge.interlaced.png and huge.progressive.jpg, 20000 x 20000,
    // under 4 GiB too; huge.webp, WebP's largest, 16383 x 16383 (cwebp
    // from the PNG), decoded whole.
    if (const char* huge = std::getenv("KORVANE_BENCH_HUGE_DIR"))
        for (const auto& [name, limitGiB] : {std::pair{"huge.pyramid.tif", 16}, {"huge.tif", 16}, {"mid.tif", 16},
                 {"huge.png", 4}, {"huge.restart.jpg", 4}, {"huge.jpg", 4}, {"huge.interlaced.png", 4},
                 {"huge.progressive.jpg", 4}, {"huge.webp", 4}}) {
            const std::string path = std::string(huge) + "/" + name;
            if (!std::filesystem::exists(path))
                continue;
            const bool mid = std::string(name) == "mid.tif", tiff = std::string(name).ends_with(".tif");
            const bool plainJpeg = std::string(name) == "huge.jpg"; // 60000 x 40000, no restart markers
            const bool twenty = std::string(name) == "huge.interlaced.png" || std::string(name) == "huge.progressive.jpg";
            const bool webp = std::string(name) == "huge.webp";
            const double side = tiff ? 100000 : twenty ? 20000 : webp ? 16383 : 60000;
            const double pixels = mid ? 40000.0 * 25000 : plainJpeg ? 60000.0 * 40000 : side * side;
            pictures.push_back({name, path, pixels * 3 / 1048576, mid ? 1.6 : plainJpeg ? 1.5 : 1.0,
                static_cast<long long>(limitGiB) << 30});
        }
    // KORVANE_BENCH_JP2_DIR=DIR: every JPEG 2000 file in DIR (.jp2, .j2k),
    // under a 16 GiB address-space limit.
    if (const char* jp2 = std::getenv("KORVANE_BENCH_JP2_DIR"))
        for (const auto& entry : std::filesystem::directory_iterator(jp2)) {
            const std::string path = entry.path().string();
            const auto [width, height] = jpeg2000Size(path);
            if (width > 0 && height > 0)
                pictures.push_back({entry.path().filename().string(), path, double(width) * height * 3 / 1048576,
                    double(width) / height, 16LL << 30});
        }
    // A phone's photo: 12 MP HEIC, through libheif's own encoder.
    if (wanted("heic") && installed("heif-enc")) {
        const std::string jpeg = scratch + "/12mp.jpg", heic = scratch + "/12mp.heic";
        std::fprintf(stderr, "writing %s\n", heic.c_str());
        writeBenchImage(jpeg, 4032, 3024);
        if (std::system(("heif-enc -q 85 -o '" + heic + "' '" + jpeg + "' >/dev/null 2>&1").c_str()) == 0)
            pictures.push_back({"12 MP heic", heic, 4032.0 * 3024 * 3 / 1048576, 4032.0 / 3024});
    }

    // KORVANE_BENCH_BUSY=1: one core kept busy by a spinning process
    // throughout, as on a machine doing something else.
    pid_t spinner = -1;
    if (std::getenv("KORVANE_BENCH_BUSY")) {
        spinner = fork();
        if (spinner == 0)
            for (;;)
                asm volatile("" ::: "memory"); // a loop the compiler keeps
    }
    // The floor any Qt viewer pays: a bare Qt window filled with the
    // picture's hue and one button captioned as korvane's.
    const std::string bareWindow = (std::filesystem::path(argv[0]).parent_path() / "korvane-bare-window").string();
    const std::string trace = scratch + "/startup-trace";
    setenv("KORVANE_STARTUP_TRACE", trace.c_str(), 1); // the other programs ignore it

    std::printf("%-16s %-17s %10s %9s %8s %10s %12s %10s %9s\n", "picture", "program", "time (s)", "x decoder",
        "cpu (s)", "peak (MB)", "peak - image", "whole (s)", "jump (s)");
    for (const Picture& picture : pictures) {
        const bool jpeg = picture.path.ends_with(".jpg"), heic = picture.path.ends_with(".heic");
        // The decoder alone: djpeg, a bare libpng decode, libheif's
        // converter to raw frames.
        // A TIFF too large to hold has no decoder run to compare with.
        std::vector<Candidate> candidates;
        if (!picture.path.ends_with(".tif") && picture.limitBytes == 0)
            candidates.push_back(jpeg ? Candidate{"djpeg", {"djpeg", "-outfile", "/dev/null"}, false}
                    : heic ? Candidate{"heif-convert", {"sh", "-c", "heif-convert \"$0\" " + scratch + "/frame.y4m"}, false}
                           : Candidate{"libpng decode", {argv[2]}, false});
        candidates.push_back({"korvane", {argv[1]}, true});
        if (std::filesystem::exists(bareWindow) && picture.limitBytes == 0)
            candidates.push_back({"qt window+caption", {bareWindow, "--fill"}, true});
        // KORVANE_BENCH_BASELINE=PATH: another build of korvane, side by side.
        if (const char* baseline = std::getenv("KORVANE_BENCH_BASELINE"))
            candidates.push_back({"korvane before", {baseline}, true});
        // On a picture too large to hold, only the three peers this viewer
        // is measured against: each may wait its whole deadline.
        // KORVANE_BENCH_NO_PEERS=1: korvane alone, as when its own change is measured.
        const bool peers = !std::getenv("KORVANE_BENCH_NO_PEERS");
        for (const char* peer : {"gpicview", "feh", "nsxiv", "qimgv", "eog"})
            if (peers && installed(peer)
                && (picture.limitBytes == 0 || (std::string(peer) != "qimgv" && std::string(peer) != "eog")))
                candidates.push_back({peer, {peer}, true});
        // Runs take turns, candidate after candidate, so that a slower
        // spell of the machine falls on all of them alike; each round in
        // an order of its own, so that no program always runs right after
        // the same one (what one leaves of the page cache and of free
        // memory is what the next starts with).
        std::mt19937 shuffler(2026);
        std::vector<std::size_t> order(candidates.size());
        struct Series {
            std::vector<double> times, peaks, wholes, jumps, cpus;
            bool ok = true, exited = false;
            StartupPhases phases;
        };
        std::vector<Series> series(candidates.size());
        for (int run = 0; run < runs; ++run) {
            std::iota(order.begin(), order.end(), std::size_t(0));
            std::shuffle(order.begin(), order.end(), shuffler);
            for (const std::size_t c : order) {
                const Candidate& candidate = candidates[c];
                Series& into = series[c];
                if (!into.ok)
                    continue; // refused or not shown once: reported so, not tried again
                std::vector<std::string> args = candidate.command;
                args.push_back(picture.path);
                if (picture.limitBytes > 0) {
                    args.insert(args.begin(), {"prlimit", "--as=" + std::to_string(picture.limitBytes), "--"});
                    warm(picture.path);
                }
                const bool korvane = candidate.name.starts_with("korvane");
                const auto deadline = picture.limitBytes > 0 && korvane ? 300s : 60s;
                std::remove(trace.c_str());
                const auto exec = Clock::now();
                const Measure m = candidate.viewer ? runToFirstFrame(args, session, screen, korvane, deadline, picture.aspect)
                                                   : runToExit(args, session.name());
                if (korvane || candidate.name.starts_with("qt window"))
                    into.phases.add(trace, exec);
                into.cpus.push_back(m.cpuSeconds);
                into.ok = into.ok && m.ok;
                into.exited = into.exited || m.exited;
                into.times.push_back(m.seconds);
                into.wholes.push_back(m.wholeSeconds);
                into.jumps.push_back(m.jumpSeconds);
                into.peaks.push_back(m.peakMegabytes);
            }
        }
        double decoderSeconds = 0;
        for (std::size_t c = 0; c < candidates.size(); ++c) {
            const Candidate& candidate = candidates[c];
            const auto& [times, peaks, wholes, jumps, cpus, ok, exited, phases] = series[c];
            const double seconds = median(times), peak = median(peaks);
            if (!candidate.viewer)
                decoderSeconds = seconds;
            if (!ok) {
                std::printf("%-16s %-17s %10s %9s %8s %10.0f %12s\n", picture.label.c_str(), candidate.name.c_str(),
                    exited ? "refused" : "not shown", "-", "-", peak, "-");
                continue;
            }
            const double whole = median(wholes);
            const double jump = median(jumps);
            std::printf("%-16s %-17s %10.3f %9.2f %8.3f %10.0f %12.0f %10s %9s\n", picture.label.c_str(),
                candidate.name.c_str(), seconds, decoderSeconds > 0 ? seconds / decoderSeconds : 0, median(cpus), peak,
                peak - picture.decodedMegabytes,
                whole > 0 ? std::to_string(whole).substr(0, 5).c_str() : "",
                jump > 0 ? std::to_string(jump).substr(0, 5).c_str() : "");
            std::fflush(stdout);
        }
        for (std::size_t c = 0; c < candidates.size(); ++c)
            if (!series[c].phases.empty())
                series[c].phases.print(candidates[c].name);
    }
    if (spinner > 0) {
        kill(spinner, SIGKILL);
        waitpid(spinner, nullptr, 0);
    }
    screenReader.reset();
    session.stop();
    std::filesystem::remove_all(scratch);
    return 0;
}
