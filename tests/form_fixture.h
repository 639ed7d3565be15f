#pragma once
// A viewer window driven through its handlers, with no widgets.
#include "app/form1.h"

#include "support.h"

#include <gtest/gtest.h>

#include <memory>

namespace korvane::test {

class FormTest : public ::testing::Test {
protected:
    // Loads a coordinate picture of the given size, as the program would
    // from its command line, then shows the window (the first resize).
    void open(int width, int height)
    {
        const std::string path = writeImage(coordinateImage(width, height), "pic.png", "png");
        openCommand("\"" + path + "\"");
    }
    void openCommand(const std::string& command)
    {
        form = std::make_unique<Form1>(command);
        form->Form_Load();
        form->Form_Resize();
    }
    // The window system resizes the window to inner pixels.
    void resizeTo(int width, int height, Integer state = FormWindow::kNormal)
    {
        form->window.windowSystemChanged(PixelSize{width, height}, form->window.framePixels(), state);
    }
    ViewState& state() { return form->state(); }
    void press1(Single x, Single y) { form->Picture1_MouseDown(1, 0, x, y); }
    void move1(Single x, Single y) { form->Picture1_MouseMove(1, 0, x, y); }
    void release1(Single x, Single y) { form->Picture1_MouseUp(1, 0, x, y); }
    void press3(Single x, Single y, Integer button = 1) { form->Picture3_MouseDown(button, 0, x, y); }
    void move3(Single x, Single y) { form->Picture3_MouseMove(1, 0, x, y); }
    void release3(Single x, Single y) { form->Picture3_MouseUp(1, 0, x, y); }
    void tick() { form->Timer1.tick(); }

    std::unique_ptr<Form1> form;
};

} // namespace korvane::test
