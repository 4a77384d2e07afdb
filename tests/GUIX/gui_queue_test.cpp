// The event loop and its property queue on a real X server.

#include "GuiTestSupport.h"

#include <X11/Xatom.h>

#include <cstring>

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
    std::size_t count() {
        std::lock_guard<std::mutex> g(mutex_);
        return events_.size();
    }

private:
    std::mutex mutex_;
    std::vector<GUIX_Event> events_;
};

GUIX_Event Numbered(const GUIX_Widget& w, std::uint32_t n) {
    std::uint32_t id = static_cast<std::uint32_t>(w.windowId());
    GUIX_Event e(EV_REPAINT, id, 0);
    e.payload[0] = n;
    e.payload[15] = ~n;
    return e;
}

bool QueuePropertyExists(User& user) {
    Atom prop = XInternAtom(user.dpy(), "CLIENT_MESSAGE", False);
    Atom type = None;
    int format = 0;
    unsigned long items = 0, after = 0;
    unsigned char* data = nullptr;
    XGetWindowProperty(user.dpy(), GUIX_Application::instance().eventWindowId(), prop, 0, 1000, False,
                       AnyPropertyType, &type, &format, &items, &after, &data);
    if (data) XFree(data);
    return type != None;
}

class QueueTest : public GuiTest {};

TEST_F(QueueTest, RecordsFromOtherThreadsArriveInOrderAndPropertyIsDeletedAfterLast) {
    Recorder r;
    Loop loop;
    ASSERT_TRUE(loop.started());
    constexpr std::uint32_t kPerThread = 200;
    auto poster = [&](std::uint32_t base) {
        for (std::uint32_t i = 0; i < kPerThread; ++i)
            ASSERT_TRUE(r.post(Numbered(r, base + i)));
    };
    std::thread a(poster, 0), b(poster, 10000);
    a.join();
    b.join();
    ASSERT_TRUE(WaitFor([&] { return r.count() == 2 * kPerThread; }, 10000)) << r.count();
    std::uint32_t nextA = 0, nextB = 10000;
    for (const GUIX_Event& e : r.events()) {
        EXPECT_EQ(e.payload[15], ~e.payload[0]) << "record torn";
        EXPECT_EQ(e.source, r.windowId());
        if (e.payload[0] < 10000)
            EXPECT_EQ(e.payload[0], nextA++);
        else
            EXPECT_EQ(e.payload[0], nextB++);
    }
    EXPECT_TRUE(WaitFor([&] { return !QueuePropertyExists(user); }, 3000));
}

TEST_F(QueueTest, WrongSizeRecordIsDroppedAndTheLoopGoesOn) {
    Recorder r;
    Loop loop;
    ASSERT_TRUE(loop.started());
    // 40 bytes of the right type: not a record.
    unsigned char junk[40];
    std::memset(junk, 0, sizeof junk);
    std::uint32_t target = static_cast<std::uint32_t>(r.windowId());
    std::memcpy(junk + 8, &target, 4);
    XChangeProperty(user.dpy(), GUIX_Application::instance().eventWindowId(),
                    XInternAtom(user.dpy(), "CLIENT_MESSAGE", False),
                    XInternAtom(user.dpy(), "GUIX_EVENT", False), 8, PropModeAppend, junk, 40);
    XSync(user.dpy(), False);
    ASSERT_TRUE(WaitFor([&] { return !QueuePropertyExists(user); }, 3000));
    ASSERT_TRUE(r.post(Numbered(r, 7)));
    ASSERT_TRUE(r.post(Numbered(r, 8)));
    ASSERT_TRUE(WaitFor([&] { return r.count() >= 2; }, 3000));
    Settle(100);
    auto ev = r.events();
    ASSERT_EQ(ev.size(), 2u);
    EXPECT_EQ(ev[0].payload[0], 7u);
    EXPECT_EQ(ev[1].payload[0], 8u);
}

TEST_F(QueueTest, WindowRegistryGoesWithTheLastWidgetAndComesBack) {
    ASSERT_EQ(GUIX_Widget::liveWidgetCount(), 0);  // a fresh process: no loop has run
    unsigned long first;
    {
        Recorder r;
        first = r.windowId();
        EXPECT_NE(first, 0u);
        EXPECT_TRUE(GUIX_Widget::registryExists());
        EXPECT_TRUE(GUIX_Widget::withWidget(first, [](GUIX_Widget*) {}));
    }
    EXPECT_FALSE(GUIX_Widget::registryExists());
    EXPECT_FALSE(GUIX_Widget::withWidget(first, [](GUIX_Widget*) {}));
    Recorder again;
    EXPECT_TRUE(GUIX_Widget::registryExists());
    EXPECT_TRUE(GUIX_Widget::withWidget(again.windowId(), [](GUIX_Widget*) {}));
    EXPECT_EQ(GUIX_Widget::liveWidgetCount(), 1);
}

TEST_F(QueueTest, PostFailsWhileTheLoopIsNotRunning) {
    Recorder r;
    EXPECT_FALSE(r.post(Numbered(r, 1)));
    {
        Loop loop;
        ASSERT_TRUE(loop.started());
        EXPECT_TRUE(GUIX_Application::instance().isRunning());
    }
    EXPECT_FALSE(GUIX_Application::instance().isRunning());
    EXPECT_FALSE(r.post(Numbered(r, 2)));
    // Once run and ended, waiting for the loop does not block again.
    EXPECT_TRUE(GUIX_Application::instance().waitUntilRunning(1000));
}

TEST_F(QueueTest, ShowDialogBeforeRunRegistersItOnceTheLoopStarts) {
    GUIX_Dialog d("Early", 200, 80, 0x3);
    GUIX_Application::instance().showDialog(&d);
    EXPECT_FALSE(GUIX_Application::instance().isDialogRegistered(d.windowId()));
    Loop loop;
    ASSERT_TRUE(loop.started());
    EXPECT_TRUE(WaitFor([&] { return GUIX_Application::instance().isDialogRegistered(d.windowId()); }, 3000));
    EXPECT_TRUE(user.waitViewable(d.windowId()));
}

TEST_F(QueueTest, RunModalBeforeTheLoopReturnsAtOnceWithTheResultCode) {
    GUIX_Dialog d("Not yet", 200, 80, 0x3);
    d.setResultCode(2);
    auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(GUIX_Application::instance().runModal(&d), 1);  // every modal run starts at 1
    EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

TEST_F(QueueTest, QuitWithADialogShownEndsItsModalRun) {
    GUIX_Dialog d("Left open", 200, 80, 0x3);
    auto loop = std::make_unique<Loop>();
    ASSERT_TRUE(loop->started());
    ModalRun modal(&d);
    ASSERT_TRUE(user.waitViewable(d.windowId()));
    EXPECT_FALSE(modal.done());
    loop->stop();
    EXPECT_TRUE(modal.waitDone(3000));
    EXPECT_EQ(modal.result(), 1);
    EXPECT_FALSE(GUIX_Application::instance().isDialogRegistered(d.windowId()));
    EXPECT_TRUE(user.waitHidden(d.windowId()));
}

TEST_F(QueueTest, CloseBeforeRegistrationKeepsTheDialogEnded) {
    GUIX_Dialog d("Closed early", 200, 80, 0x3);
    GUIX_Application::instance().showDialog(&d);  // queued: the loop is not running
    d.close();
    Loop loop;
    ASSERT_TRUE(loop.started());
    Settle(300);
    EXPECT_FALSE(GUIX_Application::instance().isDialogRegistered(d.windowId()));
    EXPECT_FALSE(user.viewable(d.windowId()));
    // A later modal run shows it again, and close() ends that run.
    ModalRun modal(&d);
    ASSERT_TRUE(user.waitViewable(d.windowId()));
    d.setResultCode(2);
    d.close();
    ASSERT_TRUE(modal.waitDone(3000));
    EXPECT_EQ(modal.result(), 2);
    EXPECT_TRUE(user.waitHidden(d.windowId()));
}

}  // namespace
