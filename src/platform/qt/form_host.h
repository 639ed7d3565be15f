#pragma once
// Puts a window and its controls on the screen with Qt widgets. The
// controls stay the truth: widgets mirror their geometry and backing
// images, and hand window-system events back to their handlers.
#include "platform/controls.h"
#include "platform/form_window.h"

#include <memory>
#include <vector>

class QWidget;

namespace korvane {

class FormWidget;

class FormHost {
public:
    explicit FormHost(FormWindow& window);
    ~FormHost();

    // Each control added lies above the ones added before it.
    void addPanel(PictureBox& panel);
    void addButton(CommandButton& button);
    void bindTimer(Timer& timer);

    // Does, before the window is shown, the window-system work that needs
    // nothing from the controls: the native window, styles and fonts. Run
    // while the picture decodes, it takes that time off the first frame.
    void prepare();
    void show();
    QWidget* topLevel() const;
    // The widget showing a control, for tests that drive it.
    QWidget* widgetFor(const Control& control) const;

private:
    std::unique_ptr<FormWidget> m_window;
    std::vector<std::pair<const Control*, QWidget*>> m_children;
};

} // namespace korvane
