// The simulator's terminal: command lines scrolling above the clock face.
#pragma once

#include "simulator/clock_device.h"

#include <string>

namespace quarvel::sim {

// "hh:mm:ss", or "dd/mm/yyyy hh:mm:ss" when the date is shown.
std::string faceText(const DateTime& dt, DisplayMode mode);

// Keeps command lines scrolling above a face redrawn in place on a tty.
class Screen {
public:
    Screen(bool quiet, std::string label);

    void message(const std::string& line);
    void face(const std::string& text, DisplayMode mode);
    void finish();

private:
    void erase();
    void draw();

    bool quiet_;
    bool tty_;
    std::string label_;
    std::string text_;
    DisplayMode mode_ = DisplayMode::DateTime;
    int drawnLines_ = 0;
};

} // namespace quarvel::sim
