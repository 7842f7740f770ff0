#include "ui/window_wait.hpp"

#include <QApplication>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>

#include "frontend/gui_handoff.hpp"

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

}  // namespace

void RunWhileWindowWaits(QWidget& window, const WaitingWork& work) {
    const InputBlocker blocker(window);
    GuiHandoff handoff;
    if (!handoff.Start(work)) {
        return;
    }

    QEventLoop loop;
    QTimer tick;
    tick.setInterval(HANDOFF_CHECK_MS);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (!handoff.Serve([&tick](const std::function<void()>& request) {
                tick.stop();  // the call may run a modal loop of its own
                request();
                tick.start();
            })) {
            loop.quit();
        }
    });
    tick.start();
    loop.exec();
    handoff.Join();
}

}  // namespace korvane
