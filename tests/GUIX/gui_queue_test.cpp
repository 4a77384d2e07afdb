// The event loop and its property queue on a real X server.

#include "GuiTestSupport.h"

#include "GUIX_Widget.h"

GUIX_TEST_DISPLAY();

using namespace guitest;

namespace {

class Recorder : public GUIX_Widget {
public:
    Recorder() : GUIX_Widget(nullptr) {}
    void handleEvent(const GUIX_Event& e) override {
        std::lock_guard<std::mutex> g(mutex_);
        events_.push_back(e);
    }
    std::vector<GUIX_Event> events() {
        std::lock_guard<std::mutex> g(mutex_);
        return events_;
    }
    // A record numbered n, with its complement at the end to show tearing.
    bool post(std::uint32_t n) {
        GUIX_Event e(EV_REPAINT, static_cast<std::uint32_t>(windowId()));
        e.payload[0] = n, e.payload[15] = ~n;
        return GUIX_Widget::post(e);
    }
    std::mutex mutex_;
    std::vector<GUIX_Event> events_;
};

class QueueTest : public GuiTest {
protected:
    Atom queueAtom() { return XInternAtom(user.dpy(), "CLIENT_MESSAGE", False); }
    bool queueEmpty() {
        Atom type = None;
        int format = 0;
        unsigned long items = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(user.dpy(), app.eventWindowId(), queueAtom(), 0, 1000, False, AnyPropertyType,
                           &type, &format, &items, &after, &data);
        if (data) XFree(data);
        return type == None;
    }
    GUIX_Application& app = GUIX_Application::instance();
};

// Malformed appends by other clients are replayed from fuzz/regress/guix_event.
TEST_F(QueueTest, RecordsFromOtherThreadsArriveInOrderAndThePropertyGoes) {
    Recorder r;
    Loop loop;
    constexpr std::uint32_t kPerThread = 200, kB = 10000;
    auto poster = [&](std::uint32_t base) {
        for (std::uint32_t i = 0; i < kPerThread; ++i) ASSERT_TRUE(r.post(base + i));
    };
    std::thread a(poster, 0), b(poster, kB);
    a.join(), b.join();
    ASSERT_TRUE(WaitFor([&] { return r.events().size() >= 2 * kPerThread; }, 10000)) << r.events().size();
    EXPECT_TRUE(WaitFor([&] { return queueEmpty(); }, 3000));
    auto events = r.events();
    EXPECT_EQ(events.size(), 2 * kPerThread);
    std::uint32_t next[2] = {0, kB};
    for (const GUIX_Event& e : events) {
        EXPECT_EQ(e.payload[15], ~e.payload[0]) << "record torn";
        EXPECT_EQ(e.payload[0], next[e.payload[0] >= kB]++);
    }
}

TEST_F(QueueTest, WindowRegistryGoesWithTheLastWidgetAndComesBack) {
    unsigned long first;
    {
        Recorder r;
        first = r.windowId();
        EXPECT_TRUE(GUIX_Widget::withWidget(first, [](GUIX_Widget*) {}));
    }
    EXPECT_FALSE(GUIX_Widget::registryExists());
    EXPECT_FALSE(GUIX_Widget::withWidget(first, [](GUIX_Widget*) {}));
    Recorder again;
    EXPECT_TRUE(GUIX_Widget::withWidget(again.windowId(), [](GUIX_Widget*) {}));
    EXPECT_EQ(GUIX_Widget::liveWidgetCount(), 1);
}

// Before the loop: posts fail and runModal returns at once with a fresh result code.
// After it ended: posts fail again and waiting for the loop does not block.
TEST_F(QueueTest, BeforeAndAfterTheLoopNothingWaits) {
    Recorder r;
    EXPECT_FALSE(r.post(1));
    GUIX_Dialog d("Not yet", 200, 80, 0x3);
    d.setResultCode(2);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(app.runModal(&d), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
    { Loop loop; }
    EXPECT_FALSE(app.isRunning());
    EXPECT_FALSE(r.post(2));
    EXPECT_TRUE(app.waitUntilRunning(1000));
}

TEST_F(QueueTest, QuitWithADialogShownEndsItsModalRun) {
    GUIX_Dialog d("Left open", 200, 80, 0x3);
    Loop loop;
    auto modal = Show(d);
    EXPECT_FALSE(modal->done);
    app.quit();
    EXPECT_TRUE(modal->waitDone());
    EXPECT_EQ(modal->result.load(), 1);
    EXPECT_FALSE(app.isDialogRegistered(d.windowId()));
    EXPECT_TRUE(user.waitViewable(d.windowId(), false));
}

// Dialogs shown before the loop runs are registered once it starts, unless closed meanwhile.
TEST_F(QueueTest, ShowDialogBeforeRunRegistersItOnceTheLoopStartsAndCloseBeforeThatKeepsItEnded) {
    GUIX_Dialog early("Early", 200, 80, 0x3), closed("Closed early", 200, 80, 0x3);
    app.showDialog(&early);
    app.showDialog(&closed);
    closed.close();
    EXPECT_FALSE(app.isDialogRegistered(early.windowId()));
    Loop loop;
    EXPECT_TRUE(WaitFor([&] { return app.isDialogRegistered(early.windowId()); }, 3000));
    EXPECT_TRUE(user.waitViewable(early.windowId()));
    EXPECT_FALSE(app.isDialogRegistered(closed.windowId()));
    EXPECT_FALSE(user.viewable(closed.windowId()));
    // A later modal run shows it again, and close() ends that run.
    auto modal = Show(closed);
    closed.setResultCode(2);
    closed.close();
    ASSERT_TRUE(modal->waitDone());
    EXPECT_EQ(modal->result.load(), 2);
    EXPECT_TRUE(user.waitViewable(closed.windowId(), false));
}

}  // namespace
