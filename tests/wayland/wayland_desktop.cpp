// The Wayland desktop: sway on its headless backend, run as the user
// nobody (sway refuses to run as root), one 1920 x 1080 output drawn by the
// pixman renderer. The pointer is a virtual pointer device of the compositor
// (tests/wayland/virtual_pointer.cpp), pixels are read with grim, and the
// window's place and size come from sway's own tree.
#include "desktop.h"
#include "support.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "x_session.h" // spawning and waiting; Xlib last

namespace korvane::test {

namespace {

constexpr uid_t kNobody = 65534;

const char* const kSwayConfig = R"(output HEADLESS-1 resolution 1920x1080 position 0 0
xwayland disable
default_border none
default_floating_border none
focus_follows_mouse no
seat seat0 xcursor_theme korvane-hidden 24
for_window [app_id="org.korvane.Korvane"] floating enable, move position 0 0
)";

// The headless output has no cursor plane: the pointer is drawn into the
// picture the screenshots read. A cursor theme whose every cursor is one
// transparent pixel keeps it out (used by the compositor and by Qt).
void writeHiddenCursorTheme(const std::string& icons)
{
    const std::string theme = icons + "/korvane-hidden";
    std::filesystem::create_directories(theme + "/cursors");
    std::ofstream(theme + "/index.theme") << "[Icon Theme]\nName=korvane-hidden\n";
    // An Xcursor file: header, one table entry, one 1 x 1 image chunk.
    const std::uint32_t words[] = {0x72756358, 16, 0x10000, 1, 0xfffd0002, 24, 28, 36, 0xfffd0002, 24, 1, 1, 1, 0, 0, 0, 0};
    for (const char* name : {"left_ptr", "default", "arrow", "top_left_arrow", "pointer", "hand2", "grabbing",
             "closedhand", "text", "xterm", "watch", "wait", "progress", "left_ptr_watch"}) {
        std::ofstream cursor(theme + "/cursors/" + name, std::ios::binary);
        cursor.write(reinterpret_cast<const char*>(words), sizeof words);
    }
}

std::string shellQuoted(const std::string& text)
{
    return "'" + text + "'";
}

// What a command prints on stdout (its stderr dropped).
std::string output(const std::string& command)
{
    std::string text;
    if (FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        std::size_t count;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, count);
        pclose(pipe);
    }
    return text;
}

struct Rect {
    int x = 0, y = 0, width = 0, height = 0;
};

std::optional<Rect> findViewer(const QJsonObject& node)
{
    if (node.value("name").toString() == "KORVANE" && node.value("app_id").toString() == "org.korvane.Korvane") {
        // The container's place, and the size the window really has (its
        // committed geometry: a window that keeps to its minimum size is
        // shown whole over a smaller container).
        const QJsonObject rect = node.value("rect").toObject(), geometry = node.value("geometry").toObject();
        return Rect{rect.value("x").toInt(), rect.value("y").toInt(), geometry.value("width").toInt(),
            geometry.value("height").toInt()};
    }
    for (const char* children : {"nodes", "floating_nodes"})
        for (const QJsonValue child : node.value(children).toArray())
            if (std::optional<Rect> found = findViewer(child.toObject()))
                return found;
    return std::nullopt;
}

class WaylandDesktop : public Desktop {
public:
    bool start() override;
    void stop() override;
    std::string name() const override { return "Wayland"; }
    pid_t launch(const std::vector<std::string>& args, const std::string& errorPath) override
    {
        // In the sanitizer build, whole stacks: the graphics driver Qt's
        // Wayland client loads is unloaded before the leak check at exit,
        // and only a whole stack still names it (its one-time state is
        // suppressed as a library's).
        const char* sanitizer = std::getenv("ASAN_OPTIONS");
        const std::string sanitizerOptions = sanitizer ? std::string(sanitizer) + ":fast_unwind_on_malloc=0" : "";
        return spawnWith(args,
            {{"QT_QPA_PLATFORM", "wayland"}, {"WAYLAND_DISPLAY", m_socket}, {"XDG_RUNTIME_DIR", tempDir()},
                {"XCURSOR_PATH", m_directory + "/icons"}, {"XCURSOR_THEME", "korvane-hidden"}, {"DISPLAY", ""},
                {"ASAN_OPTIONS", sanitizerOptions}},
            errorPath);
    }
    QRgb pixel(int x, int y) override;
    void moveTo(int x, int y) override
    {
        const Rect window = viewer().value_or(Rect{});
        pointer("move " + std::to_string(std::max(0, window.x + x)) + " " + std::to_string(std::max(0, window.y + y)));
    }
    void button(bool down) override { pointer(down ? "down" : "up"); }
    bool viewerShown() override { return viewer().has_value(); }
    WindowSize viewerSize() override
    {
        const Rect window = viewer().value_or(Rect{});
        return {window.width, window.height};
    }
    void resizeViewer(int width, int height) override
    {
        sway("[title=\"^KORVANE$\"] resize set width " + std::to_string(width) + " px height " + std::to_string(height)
            + " px");
        sway("[title=\"^KORVANE$\"] move position 0 0");
    }
    void dismissDialog() override { sway("[app_id=\"org.korvane.Korvane\"] kill"); }
    bool setScreenScale(int factor) override
    {
        sway("output HEADLESS-1 scale " + std::to_string(factor));
        return true;
    }
    bool setSecondOutput(int factor) override
    {
        if (factor == 0) {
            sway("output HEADLESS-2 disable");
            pointer("layout 1920 1080");
            return true;
        }
        if (!m_secondOutput) {
            sway("create_output");
            m_secondOutput = true;
        }
        sway("output HEADLESS-2 enable resolution 1920x1080 position 1920 0 scale " + std::to_string(factor));
        pointer("layout " + std::to_string(1920 + 1920 / factor) + " 1080"); // logical pixels
        return true;
    }
    void moveViewerToOutput(int output) override
    {
        sway(std::string("[title=\"^KORVANE$\"] move absolute position ") + (output == 2 ? "1920" : "0") + " 0");
    }
    QImage outputShot(int number) override
    {
        const std::string ppm = output(m_environment + "grim -t ppm -o HEADLESS-" + std::to_string(number) + " -");
        return QImage::fromData(QByteArray::fromStdString(ppm), "PPM");
    }
    QImage screenshot() override
    {
        const std::string ppm = output(m_environment + "grim -t ppm -");
        return QImage::fromData(QByteArray::fromStdString(ppm), "PPM");
    }

private:
    std::optional<Rect> viewer();
    void sway(const std::string& command) { output(m_environment + "swaymsg " + shellQuoted(command)); }
    void pointer(const std::string& command);
    bool startPointer();

    std::string m_directory, m_socket, m_environment;
    pid_t m_compositor = 0, m_pointer = 0;
    bool m_secondOutput = false;
    FILE* m_toPointer = nullptr;
    FILE* m_fromPointer = nullptr;
};

bool WaylandDesktop::start()
{
    char pattern[] = "/tmp/korvane-wayland-XXXXXX";
    if (!mkdtemp(pattern))
        return false;
    m_directory = pattern;
    std::ofstream(m_directory + "/config") << kSwayConfig;
    writeHiddenCursorTheme(m_directory + "/icons");
    if (chown(m_directory.c_str(), kNobody, kNobody) != 0 || chmod(m_directory.c_str(), 0700) != 0)
        return false;
    m_compositor = spawnWith({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sway", "-c",
                                 m_directory + "/config"},
        {{"XDG_RUNTIME_DIR", m_directory}, {"HOME", m_directory}, {"XCURSOR_PATH", m_directory + "/icons"},
            {"WLR_BACKENDS", "headless"},
            {"WLR_LIBINPUT_NO_DEVICES", "1"}, {"WLR_RENDERER", "pixman"}, {"WAYLAND_DISPLAY", ""}, {"DISPLAY", ""}},
        m_directory + "/sway.log");
    std::string ipc;
    const bool listening = waitFor([&] {
        for (const auto& entry : std::filesystem::directory_iterator(m_directory)) {
            const std::string file = entry.path().filename();
            if (file.starts_with("wayland-") && !file.ends_with(".lock"))
                m_socket = entry.path();
            if (file.starts_with("sway-ipc."))
                ipc = entry.path();
        }
        return !m_socket.empty() && !ipc.empty();
    });
    m_environment = "WAYLAND_DISPLAY=" + shellQuoted(m_socket) + " XDG_RUNTIME_DIR=" + shellQuoted(m_directory)
        + " SWAYSOCK=" + shellQuoted(ipc) + " ";
    return listening && startPointer();
}

bool WaylandDesktop::startPointer()
{
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0)
        return false;
    m_pointer = fork();
    if (m_pointer == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        close(in[1]);
        close(out[0]);
        setenv("WAYLAND_DISPLAY", m_socket.c_str(), 1);
        setenv("XDG_RUNTIME_DIR", m_directory.c_str(), 1);
        execl(KORVANE_VIRTUAL_POINTER, KORVANE_VIRTUAL_POINTER, nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    m_toPointer = fdopen(in[1], "w");
    m_fromPointer = fdopen(out[0], "r");
    char answer[16] = {};
    return std::fgets(answer, sizeof answer, m_fromPointer) && std::string(answer) == "ok\n";
}

void WaylandDesktop::pointer(const std::string& command)
{
    // The helper answers once the compositor has taken the event.
    std::fprintf(m_toPointer, "%s\n", command.c_str());
    std::fflush(m_toPointer);
    char answer[16] = {};
    std::fgets(answer, sizeof answer, m_fromPointer);
}

std::optional<Rect> WaylandDesktop::viewer()
{
    const QByteArray tree = QByteArray::fromStdString(output(m_environment + "swaymsg -r -t get_tree"));
    return findViewer(QJsonDocument::fromJson(tree).object());
}

QRgb WaylandDesktop::pixel(int x, int y)
{
    const Rect window = viewer().value_or(Rect{});
    const std::string region = std::to_string(window.x + x) + "," + std::to_string(window.y + y) + " 1x1";
    const std::string ppm = output(m_environment + "grim -t ppm -g " + shellQuoted(region) + " -");
    // "P6\n1 1\n255\n" and three bytes.
    if (ppm.size() < 3 || ppm.compare(0, 2, "P6") != 0)
        return 0;
    const auto* rgb = reinterpret_cast<const unsigned char*>(ppm.data() + ppm.size() - 3);
    return qRgb(rgb[0], rgb[1], rgb[2]);
}

void WaylandDesktop::stop()
{
    if (m_toPointer)
        std::fclose(m_toPointer);
    if (m_fromPointer)
        std::fclose(m_fromPointer);
    m_toPointer = m_fromPointer = nullptr;
    for (pid_t* process : {&m_pointer, &m_compositor}) {
        if (*process > 0) {
            kill(*process, SIGTERM);
            waitpid(*process, nullptr, 0);
        }
        *process = 0;
    }
    std::error_code ignored;
    std::filesystem::remove_all(m_directory, ignored);
}

} // namespace

std::unique_ptr<Desktop> makeDesktop()
{
    return std::make_unique<WaylandDesktop>();
}

} // namespace korvane::test
