// Levels reach a Qt receiver as posted events, and stop once the receiver is gone.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QObject>

#include <cmath>
#include <memory>
#include <thread>
#include <vector>

#include "fft.h"
#include "qt_services.h"

namespace {

class LevelReceiver : public QObject {
public:
    std::vector<WPARAM> levels;
    std::thread::id thread;

protected:
    bool event(QEvent* e) override {
        if (e->type() == CWindowMessageEvent::TypeFor(WM_RECORD_LEVEL)) {
            levels.push_back(static_cast<CWindowMessageEvent*>(e)->wParam());
            thread = std::this_thread::get_id();
            return true;
        }
        return QObject::event(e);
    }
};

}  // namespace

TEST(LevelMessages, ArePostedFromTheCaptureThreadAndDroppedAfterTheReceiverIsGone) {
    std::vector<int16_t> loud(2048);
    for (size_t i = 0; i < loud.size(); ++i)
        loud[i] = static_cast<int16_t>(12000 * std::sin(0.07 * double(i)));

    auto receiver = std::make_unique<LevelReceiver>();
    CQtMessageTarget target(receiver.get());
    CFft fft;
    fft.SetTarget(&target);
    std::thread capture([&] {
        for (int i = 0; i < 6; ++i)
            fft.Analyse(loud.data(), 4096);
    });
    capture.join();
    QCoreApplication::processEvents();
    ASSERT_EQ(receiver->levels.size(), 3u);
    EXPECT_GT(receiver->levels[0], 0u);
    EXPECT_EQ(receiver->thread, std::this_thread::get_id()) << "handled on the receiver's thread";

    // The dialog goes away: its target is detached, later levels are dropped.
    target.Detach();
    receiver.reset();
    std::thread later([&] {
        for (int i = 0; i < 4; ++i)
            fft.Analyse(loud.data(), 4096);
    });
    later.join();
    QCoreApplication::processEvents();
}
