// The window's device commands and ping (addresses 127.0.8.x): what the
// operator is told, what control 1007 shows, and that the window keeps
// painting and showing a download's progress while a command waits.
#include <QLabel>
#include <QLineEdit>
#include <QtTest>
#include <chrono>
#include <thread>

#include "gui_support.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"

using namespace korvane;
using namespace std::chrono_literals;
namespace kt = korvane::testing;
using Clock = std::chrono::steady_clock;

class DeviceCommandsTest : public QObject {
    Q_OBJECT
    kt::ConfigHome home_;

private slots:
    void commands_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("device");  // answers, refuses, silent or zeros (its code)
        QTest::addColumn<QStringList>("boxes");
        QTest::addColumn<QString>("code");  // what 1007 shows after
        QTest::addColumn<bool>("full_wait");
        const QString old = "old";
        const QStringList no_reply = {"无响应，读取机器码失败，请检查网线！"};
        const QStringList failed = {"还原IP地址失败"};
        // clang-format off
        QTest::newRow("code") << 1008 << "127.0.8.1" << "answers" << QStringList{} << "11223344-5566-7788-6272-61636B6C6531" << false;
        QTest::newRow("zero code") << 1008 << "127.0.8.2" << "zeros" << QStringList{} << "00000000-0000-0000-6272-61636B6C6531" << false;
        QTest::newRow("code refused") << 1008 << "127.0.8.3" << "refuses" << QStringList{} << old << false;
        QTest::newRow("code silent") << 1008 << "127.0.8.5" << "silent" << no_reply << old << true;
        QTest::newRow("restored") << 1006 << "127.0.8.6" << "answers" << QStringList{"还原IP地址成功"} << old << false;
        QTest::newRow("restore refused") << 1006 << "127.0.8.7" << "refuses" << failed << old << true;
        QTest::newRow("restore silent") << 1006 << "127.0.8.8" << "silent" << failed << old << true;
        QTest::newRow("invalid") << 1008 << "127.0.8" << "" << QStringList{"IP is invalid"} << old << false;
        QTest::newRow("empty") << 1006 << "" << "" << QStringList{"IP is empty"} << old << false;
        // clang-format on
    }
    void commands() {
        QFETCH(int, command);
        QFETCH(QString, address);
        QFETCH(QString, device);
        QFETCH(QStringList, boxes);
        QFETCH(QString, code);
        QFETCH(bool, full_wait);
        const bool sends = boxes.isEmpty() || !boxes.first().startsWith("IP is");
        const auto simulator = kt::StartDevice(
            sends ? address.toStdString() : "127.0.8.9",
            {.refuse_nth = device == "refuses" ? std::optional(1u) : std::nullopt,
             .drop_reply_nth = device == "silent" ? std::optional(1u) : std::nullopt},
            device == "zeros" ? devsim::SimulatorOptions{.machine_code = {}}
                              : devsim::SimulatorOptions{});
        const auto dialog = kt::MakeDialog(address);
        dialog->findChild<QLineEdit*>("1007")->setText("old");
        const auto start = Clock::now();
        QCOMPARE(kt::CloseModals([&] { dialog->OnCommand(command); }), boxes);
        const auto waited = Clock::now() - start;
        QTRY_COMPARE(dialog->findChild<QLineEdit*>("1007")->text(), code);
        QCOMPARE(waited >= 4500ms, full_wait);
        QVERIFY(waited < 8s);
        const std::uint8_t request =
            command == ID_RESTORE_IP ? PKT_RESTORE_IP : PKT_GET_MACHINE_CODE;
        QCOMPARE(simulator->Received().size(), sends ? 1u : 0u);
        QVERIFY(!sends ||
                (simulator->Received()[0] == std::vector<std::uint8_t>{request, 0, 0, 0, 0}));
    }

    // The download goes on and ends while the restore waits for a silent
    // device; neither takes the other's acknowledgements.
    void restoreDuringDownload() {
        auto device = kt::StartDevice("127.0.8.20", {.reply_delay = 100ms});
        const kt::TempDir files;
        const auto path = files.WriteFile("fw.zip", kt::SampleBytes(100'000));  // 15 datagrams
        const auto dialog = kt::MakeDialog("127.0.8.20", QString::fromStdString(path.string()));
        dialog->show();
        TextProgressBar& bar = dialog->ProgressBar();
        dialog->OnCommand(ID_DOWNLOAD);
        dialog->findChild<QLineEdit*>("1001")->setText("127.0.8.21");
        QString caption_at_box;
        const QStringList boxes = kt::CloseModals([&] {
            QTimer::singleShot(4000, [&] { caption_at_box = bar.Caption(); });
            dialog->OnCommand(ID_RESTORE_IP);
        });
        QCOMPARE(boxes, QStringList{"还原IP地址失败"});
        QCOMPARE(caption_at_box, QStringLiteral("Succeed to download"));
        QCOMPARE(bar.Position(), 15);
    }

    void ping_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("path");   // PATH while it runs
        QTest::addColumn<QString>("shown");  // in 1076, or in a box
        // clang-format off
        QTest::newRow("loopback") << "127.0.0.1" << qEnvironmentVariable("PATH") << "4 packets transmitted";
        QTest::newRow("no ping") << "127.0.0.1" << "/nonexistent" << "Unable to start ping -c 4 127.0.0.1\n";
        QTest::newRow("empty") << "" << qEnvironmentVariable("PATH") << "IP is empty";
        // clang-format on
    }
    void ping() {
        QFETCH(QString, address);
        QFETCH(QString, path);
        QFETCH(QString, shown);
        const QByteArray saved_path = qgetenv("PATH");
        qputenv("PATH", path.toUtf8());
        const auto dialog = kt::MakeDialog(address);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        int paints = 0;  // while ping runs, the window still paints
        QTimer repaint;
        connect(&repaint, &QTimer::timeout, [&] {
            dialog->repaint();
            ++paints;
        });
        repaint.start(300);
        QString output;
        const QStringList boxes =
            kt::CloseModals([&] { dialog->OnCommand(ID_PING); },
                            [&](QWidget& modal) {
                                repaint.stop();
                                QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
                                output = modal.findChild<QLabel*>("1076")->text();
                                static_cast<QDialog&>(modal).reject();
                            });
        qputenv("PATH", saved_path);
        QVERIFY2((boxes.join("") + output).contains(shown), qPrintable(output));
        QVERIFY(address.isEmpty() || path != saved_path || paints >= 5);
    }
};

QTEST_MAIN(DeviceCommandsTest)
#include "device_commands_test.moc"
