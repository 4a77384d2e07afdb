#include "HeadlessUserInterface.h"

#include <condition_variable>
#include <mutex>

#include "Log.h"

namespace headless_ui {
namespace {

std::mutex g_lock;
std::condition_variable g_closedChanged;
bool g_closed = false;

}  // namespace

void Start() {
    std::lock_guard<std::mutex> lock(g_lock);
    g_closed = false;
}

void WaitUntilRunning() {}

bool AskSessionCode(char* code) {
    LogWrite("No display: the session code cannot be asked");
    if (code != nullptr) code[0] = '\0';
    return false;
}

bool AskProxyCredentials(const char* message, char*, char*) {
    LogWrite("No display: proxy credentials cannot be asked [%s]", message != nullptr ? message : "");
    return false;
}

void ShowStatusWindow() {
    std::unique_lock<std::mutex> lock(g_lock);
    g_closedChanged.wait(lock, [] { return g_closed; });
}

void SetStatusText(const UiText& text) {
    if (text.id != TextId::LINES) {
        LogWrite("Status: %s", English(text).c_str());
        return;
    }
    for (const UiText& line : text.parts) LogWrite("Status: %s", English(line).c_str());
}

void Close() {
    {
        std::lock_guard<std::mutex> lock(g_lock);
        g_closed = true;
    }
    g_closedChanged.notify_all();
}

}  // namespace headless_ui
