#include "ui/window_wait.hpp"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <system_error>
#include <thread>

namespace korvane {
namespace {

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

}  // namespace

void RunWhileWindowWaits(QWidget& window, const std::function<void(const GuiCall&)>& work) {
    const InputBlocker blocker(window);
    QEventLoop loop;
    // Blocking: the work's endpoint stays open until its message is dismissed.
    const GuiCall call_on_gui = [&loop](const std::function<void()>& function) {
        QMetaObject::invokeMethod(&loop, function, Qt::BlockingQueuedConnection);
    };
    std::thread thread;
    try {
        thread = std::thread([&] {
            work(call_on_gui);
            QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection);
        });
    } catch (const std::system_error&) {
        // No thread to be had: wait the described way, with the window still.
        work([](const std::function<void()>& function) { function(); });
        return;
    }
    loop.exec();
    thread.join();
}

}  // namespace korvane
