#pragma once
// The viewer's one window: its controls, its state and its handlers.
#include "view_state.h"

#include "platform/controls.h"
#include "platform/form_window.h"

#include <functional>
#include <optional>
#include <string>

namespace korvane {

class Form1 {
public:
    // How the load turns the picture's path into a picture.
    using PictureLoad = std::function<Picture(const std::string& path)>;

    // commandLine: the program's arguments as one text. `load` is the
    // loader's unless a caller that opens one picture many times keeps it.
    explicit Form1(std::string commandLine, PictureLoad load = LoadPicture);
    Form1(const Form1&) = delete;
    Form1& operator=(const Form1&) = delete;

    // The smallest outer size the window keeps to (twips).
    static constexpr Single kMinimumOuterWidth = 15120;
    static constexpr Single kMinimumOuterHeight = 10110;

    // The controls, as the window lays them out at first (twips).
    FormWindow window{PixelSize{1000, 640}, "KORVANE"};
    PictureBox Picture1{0, 0, 12000, 9000};    // overview
    PictureBox Picture2{1320, 840, 6285, 3870}; // source holder, never shown
    PictureBox Picture3{12000, 0, 3000, 9000}; // detail view
    CommandButton Command4{120, 9120, 1335, 375, "拡大"};
    Timer Timer1;

    // The picture's path as the load reads it from the command line.
    static std::string picturePath(const std::string& commandLine);

    const ViewState& state() const { return m_state; }
    ViewState& state() { return m_state; }

    // Handlers, raised by the platform.
    void Form_Load();
    void Form_Resize();
    void Command4_Click();
    void Timer1_Timer();
    void Picture1_MouseDown(Integer button, Integer shift, Single& x, Single& y);
    void Picture1_MouseMove(Integer button, Integer shift, Single& x, Single& y);
    void Picture1_MouseUp(Integer button, Integer shift, Single& x, Single& y);
    void Picture3_MouseDown(Integer button, Integer shift, Single& x, Single& y);
    void Picture3_MouseMove(Integer button, Integer shift, Single& x, Single& y);
    void Picture3_MouseUp(Integer button, Integer shift, Single& x, Single& y);

    // The window went to a screen of another device pixel ratio.
    void screenScaleChanged(double previousRatio);

private:
    void RenderDetailView();
    void RenderOverview();
    void CenterOnOverviewPoint(const Single& x, const Single& y);
    void drawMarker(Single x, Single y);
    void layOutDetailView();
    void connectHandlers();

    struct Point {
        Single x, y;
    };
    std::optional<Point> m_marker; // on the overview since it was last drawn
    std::string m_commandLine;
    PictureLoad m_load;
    ViewState m_state;
};

} // namespace korvane
