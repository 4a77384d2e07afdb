#pragma once
// Acts as a user on a test display: finds windows by their exact title through
// the window manager, types with real key events, clicks, closes windows the
// way the title bar does, and reads back window pixels. Every wait is bounded.

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "Subprocess.h"

namespace windowstest {

class DesktopUser {
public:
    explicit DesktopUser(std::string display) : display_(std::move(display)) {}

    const std::string& display() const { return display_; }

    testsupport::RunResult Run(const std::vector<std::string>& argv, int timeoutMs = 10000) const {
        return testsupport::Run(argv, timeoutMs, {"DISPLAY=" + display_});
    }

    // Window id ("0x...") of the client window with exactly this title, or "".
    std::string FindWindow(const std::string& title) const {
        auto r = Run({"wmctrl", "-l"}, 5000);
        std::istringstream lines(r.output);
        std::string line;
        while (std::getline(lines, line)) {
            // id, desktop, host, then the title (which may hold blanks)
            std::istringstream fields(line);
            std::string id, desktop, host;
            if (!(fields >> id >> desktop >> host)) continue;
            std::string rest;
            std::getline(fields, rest);
            auto start = rest.find_first_not_of(' ');
            rest = start == std::string::npos ? "" : rest.substr(start);
            if (rest == title) return id;
        }
        return "";
    }

    std::string WaitForWindow(const std::string& title, int timeoutMs = 10000) const {
        std::string id;
        testsupport::WaitFor([&] { return !(id = FindWindow(title)).empty(); }, timeoutMs, 50);
        return id;
    }

    bool WaitForWindowGone(const std::string& title, int timeoutMs = 10000) const {
        return testsupport::WaitFor([&] { return FindWindow(title).empty(); }, timeoutMs, 50);
    }

    // Gives the window the input focus and waits until the window manager did it,
    // so the key events that follow reach it.
    bool Activate(const std::string& id) const {
        return Run({"xdotool", "windowactivate", "--sync", id}, 5000).exitCode == 0;
    }

    bool Type(const std::string& text) const {
        return Run({"xdotool", "type", "--delay", "15", text}, 10000).exitCode == 0;
    }

    bool Key(const std::string& keys) const { return Run({"xdotool", "key", keys}, 5000).exitCode == 0; }

    // Clicks at (x, y) in the window's own coordinates (the frame is not counted).
    bool ClickAt(const std::string& id, int x, int y) const {
        return Run({"xdotool", "mousemove", "--window", id, std::to_string(x), std::to_string(y), "click",
                    "1"},
                   5000)
                   .exitCode == 0;
    }

    // Parks the pointer in the screen corner, away from every dialog.
    void ParkPointer() const { Run({"xdotool", "mousemove", "0", "0"}, 5000); }

    // Asks the window manager to close the window, as its close button does.
    bool CloseByTitle(const std::string& title) const {
        return Run({"wmctrl", "-F", "-c", title}, 5000).exitCode == 0;
    }

    struct Image {
        int width = 0;
        int height = 0;
        std::vector<std::uint8_t> rgb;
        bool valid() const { return width > 0 && height > 0; }
        // "r,g,b" of a pixel, or "outside" when out of range.
        std::string At(int x, int y) const {
            if (x < 0 || y < 0 || x >= width || y >= height) return "outside";
            const std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            return std::to_string(p[0]) + "," + std::to_string(p[1]) + "," + std::to_string(p[2]);
        }
    };

    // The window's content as the X server holds it (no frame).
    Image Capture(const std::string& id, const std::string& scratchFile) const {
        Image img;
        const auto r = Run({"import", "-window", id, "-depth", "8", "ppm:" + scratchFile}, 10000);
        lastCaptureOutput_ = r.output;
        if (r.exitCode != 0) return img;
        std::string data = testsupport::ReadFile(scratchFile);
        std::remove(scratchFile.c_str());
        // P6 header: magic, width, height, maximum, one blank, then the samples.
        std::size_t pos = 0;
        auto token = [&]() {
            while (pos < data.size()) {
                if (data[pos] == '#') {
                    while (pos < data.size() && data[pos] != '\n') ++pos;
                } else if (isspace(static_cast<unsigned char>(data[pos]))) {
                    ++pos;
                } else {
                    break;
                }
            }
            std::size_t start = pos;
            while (pos < data.size() && !isspace(static_cast<unsigned char>(data[pos]))) ++pos;
            return data.substr(start, pos - start);
        };
        if (token() != "P6") return img;
        int w = std::atoi(token().c_str());
        int h = std::atoi(token().c_str());
        int max = std::atoi(token().c_str());
        ++pos;
        if (w <= 0 || h <= 0 || max != 255 || data.size() < pos + static_cast<std::size_t>(w) * h * 3)
            return img;
        img.width = w;
        img.height = h;
        img.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(pos),
                       data.begin() + static_cast<std::ptrdiff_t>(pos + static_cast<std::size_t>(w) * h * 3));
        return img;
    }

    // Polls the window's pixels until the check holds (repaints are asynchronous).
    template <typename Check>
    bool WaitForPixels(const std::string& id, const std::string& scratchFile, Check check,
                       int timeoutMs = 5000) const {
        return testsupport::WaitFor([&] { return check(Capture(id, scratchFile)); }, timeoutMs, 100);
    }

    // What the last capture command said (for failure messages).
    const std::string& lastCaptureOutput() const { return lastCaptureOutput_; }

private:
    std::string display_;
    mutable std::string lastCaptureOutput_;
};

}  // namespace windowstest
