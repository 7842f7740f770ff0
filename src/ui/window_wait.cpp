#include "ui/window_wait.hpp"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace korvane {
namespace {

// How often the GUI thread looks whether the work is done or asks for a call.
constexpr int HANDOFF_CHECK_MS = 10;

// Drops input meant for one window while it lives; other windows (a message
// box the work asked for) get theirs. GUI thread.
class InputBlocker final : public QObject {
public:
    explicit InputBlocker(QWidget& window) : window_(window) { qApp->installEventFilter(this); }
    ~InputBlocker() override { qApp->removeEventFilter(this); }
    InputBlocker(const InputBlocker&) = delete;
    InputBlocker& operator=(const InputBlocker&) = delete;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!watched->isWidgetType() || static_cast<QWidget*>(watched)->window() != &window_) {
            return false;
        }
        switch (event->type()) {
            case QEvent::MouseButtonPress:
            case QEvent::MouseButtonRelease:
            case QEvent::MouseButtonDblClick:
            case QEvent::KeyPress:
            case QEvent::KeyRelease:
            case QEvent::ShortcutOverride:
            case QEvent::Shortcut:
            case QEvent::Wheel:
            case QEvent::ContextMenu:
            case QEvent::TouchBegin:
            case QEvent::TouchUpdate:
            case QEvent::TouchEnd:
                return true;
            case QEvent::Close:
                event->ignore();
                return true;
            default:
                return false;
        }
    }

private:
    QWidget& window_;
};

// What the work's thread and the GUI thread hand each other.
struct Handoff {
    std::mutex mutex;
    std::condition_variable answered;
    const std::function<void()>* request = nullptr;  // a call the work waits for
    bool request_done = false;
    bool work_done = false;
};

}  // namespace

void RunWhileWindowWaits(QWidget& window, const std::function<void(const GuiCall&)>& work) {
    Handoff handoff;
    const GuiCall call_on_gui = [&handoff](const std::function<void()>& function) {
        std::unique_lock lock(handoff.mutex);
        handoff.request = &function;
        handoff.request_done = false;
        handoff.answered.wait(lock, [&handoff] { return handoff.request_done; });
    };
    const InputBlocker blocker(window);
    std::thread thread;
    try {
        thread = std::thread([&] {
            work(call_on_gui);
            const std::lock_guard lock(handoff.mutex);
            handoff.work_done = true;
        });
    } catch (const std::system_error&) {
        // No thread to be had: wait the described way, with the window still.
        work([](const std::function<void()>& function) { function(); });
        return;
    }

    QEventLoop loop;
    QTimer tick;
    tick.setInterval(HANDOFF_CHECK_MS);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const std::function<void()>* request = nullptr;
        {
            const std::lock_guard lock(handoff.mutex);
            if (handoff.work_done) {
                loop.quit();
                return;
            }
            request = std::exchange(handoff.request, nullptr);
        }
        if (request != nullptr) {
            tick.stop();  // the call may run a modal loop of its own
            (*request)();
            {
                const std::lock_guard lock(handoff.mutex);
                handoff.request_done = true;
            }
            handoff.answered.notify_all();
            tick.start();
        }
    });
    tick.start();
    loop.exec();
    thread.join();
}

}  // namespace korvane
