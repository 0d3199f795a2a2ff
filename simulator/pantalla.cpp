#include "simulator/pantalla.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace quarvel::sim {

namespace {

// Seven-segment style glyphs, three rows each.
std::vector<std::string> bigText(const std::string& text) {
    static const char* const digits[10][3] = {
        {" _ ", "| |", "|_|"}, {"   ", "  |", "  |"}, {" _ ", " _|", "|_ "}, {" _ ", " _|", " _|"},
        {"   ", "|_|", "  |"}, {" _ ", "|_ ", " _|"}, {" _ ", "|_ ", "|_|"}, {" _ ", "  |", "  |"},
        {" _ ", "|_|", "|_|"}, {" _ ", "|_|", " _|"}};
    std::vector<std::string> rows(3, "  ");
    for (char c : text) {
        for (int r = 0; r < 3; ++r) {
            if (c >= '0' && c <= '9')
                rows[r] += digits[c - '0'][r];
            else if (c == ':')
                rows[r] += r == 0 ? " " : "o";
            else if (c == '/')
                rows[r] += r == 0 ? "  " : (r == 1 ? " /" : "/ ");
            else
                rows[r] += "  ";
            rows[r] += ' ';
        }
    }
    return rows;
}

} // namespace

std::string faceText(const DateTime& dt, DisplayMode mode) {
    char buf[32];
    if (mode == DisplayMode::TimeOnly)
        std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", dt.hour, dt.minute, dt.second);
    else
        std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", dt.day, dt.month, dt.year,
                      dt.hour, dt.minute, dt.second);
    return buf;
}

Screen::Screen(bool quiet, std::string label)
    : quiet_(quiet)
    , tty_(isatty(STDOUT_FILENO) == 1)
    , label_(std::move(label)) {}

void Screen::message(const std::string& line) {
    erase();
    std::printf("%s\n", line.c_str());
    draw();
}

void Screen::face(const std::string& text, DisplayMode mode) {
    if (quiet_ || (text == text_ && mode == mode_))
        return;
    text_ = text;
    mode_ = mode;
    if (tty_) {
        erase();
        draw();
    } else {
        std::printf("reloj %s\n", text.c_str());
        std::fflush(stdout);
    }
}

void Screen::finish() {
    if (drawnLines_ > 0)
        std::fflush(stdout);
    drawnLines_ = 0;
}

void Screen::erase() {
    if (drawnLines_ > 0)
        std::printf("\033[%dA\r\033[J", drawnLines_);
    drawnLines_ = 0;
}

void Screen::draw() {
    if (!quiet_ && tty_ && !text_.empty()) {
        std::string header = label_ + "  modo " + std::string(modeName(mode_));
        std::printf("\033[2m%s\033[0m\n", header.c_str());
        auto rows = bigText(text_);
        winsize ws{};
        bool fits = ioctl(STDOUT_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > rows[0].size();
        if (fits) {
            for (const auto& row : rows)
                std::printf("\033[1;31m%s\033[0m\n", row.c_str());
            drawnLines_ = 4;
        } else {
            std::printf("\033[1;7;31m %s \033[0m\n", text_.c_str());
            drawnLines_ = 2;
        }
    }
    std::fflush(stdout);
}

} // namespace quarvel::sim
