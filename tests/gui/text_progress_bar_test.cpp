#include "ui/text_progress_bar.hpp"

#include <QTest>
#include <tuple>

namespace {

class PaintCounter final : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        paints += event->type() == QEvent::Paint ? 1 : 0;
        return false;
    }
};

// Bounds of the pixels in `area` that are (`same`) or are not exactly `color`.
QRect Extent(const QImage& image, const QRect& area, const QColor& color, bool same = true) {
    QRect extent;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            if ((image.pixelColor(x, y).rgb() == color.rgb()) == same) {
                extent |= QRect(x, y, 1, 1);
            }
        }
    }
    return extent;
}

}  // namespace

class TextProgressBarTest final : public QObject {
    Q_OBJECT
private slots:
    void paintsAndRepaints() {
        korvane::TextProgressBar bar;
        const QColor highlight = bar.palette().color(QPalette::Highlight);
        const QColor base = bar.palette().color(QPalette::Base);
        bar.setFont(QFont(QString(), 3));  // like the dialog's font, which the text ignores
        bar.SetRange(0, 9);
        QCOMPARE(bar.SetPos(3), -1);  // no window yet
        QCOMPARE(bar.Position(), 0);
        bar.SetCaption("Downloading");
        bar.resize(203, 30);  // 201 x 28 client pixels inside the border
        bar.show();
        QVERIFY(QTest::qWaitForWindowExposed(&bar));
        const QRect client(1, 1, 201, 28);
        bar.SetPos(3);  // bar edge at 1 + 201 / 3 = 68, inside the text
        QImage image = bar.grab().toImage();
        QCOMPARE(Extent(image, QRect(1, 2, 201, 1), highlight), QRect(1, 2, 67, 1));  // no text
        QVERIFY(Extent(image, QRect(1, 1, 67, 28), base).isValid());         // text over the bar
        QVERIFY(Extent(image, QRect(68, 1, 134, 28), highlight).isValid());  // over the rest
        bar.SetPos(10);
        image = bar.grab().toImage();
        QCOMPARE(Extent(image, QRect(1, 2, 201, 1), highlight), QRect(1, 2, 201, 1));
        const QRect text = Extent(image, client, highlight, false);  // centred both ways
        QVERIFY((text.center() - client.center()).manhattanLength() <= 3);
        bar.SetRange(9, 9);  // nothing drawn: the window's background shows
        image = bar.grab().toImage();
        QVERIFY(!Extent(image, client, bar.palette().color(QPalette::Window), false).isValid());

        PaintCounter counter;
        bar.SetRange(0, 1000);  // about 5 positions per pixel
        QTest::qWait(50);
        bar.installEventFilter(&counter);
        for (const auto& [position, previous, paints] :
             {std::tuple{5, 10, 1}, {9, 5, 1}, {10, 9, 2}, {14, 10, 2}}) {
            QCOMPARE(bar.SetPos(position), previous);
            QCOMPARE(bar.Position(), position);
            QCOMPARE(counter.paints, paints);  // at once: no events are processed here
        }
        QCOMPARE(bar.StepIt(), 14);  // 15 -> 3 pixels
        QCOMPARE(counter.paints, 3);
        bar.resize(204, 30);  // 3.03 pixels: unchanged width, but a resize forgets it
        QTRY_COMPARE(bar.width(), 204);
        counter.paints = 0;
        QCOMPARE(bar.SetPos(15), 15);
        QCOMPARE(counter.paints, 1);

        const QString failed("Failed to download");
        for (const auto& [caption, paints] :
             {std::pair{failed, 1}, {failed, 0}, {QString(), 1}, {QString(), 0}}) {
            counter.paints = 0;
            bar.SetCaption(caption);
            QCOMPARE(bar.Caption(), caption);
            QCOMPARE(counter.paints, 0);  // a new caption shows when the window next paints
            QTest::qWait(100);
            QCOMPARE(counter.paints, paints);
        }
    }
};

QTEST_MAIN(TextProgressBarTest)
#include "text_progress_bar_test.moc"
