// The main window on the offscreen platform: layout, settings, the download's
// refusals, and downloads against the simulator (addresses 127.0.7.x); the
// program's command line, run as a child without a display.
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QSettings>
#include <QtTest>
#include <chrono>
#include <thread>

#include "app/command_line.hpp"
#include "base/version.hpp"
#include "frontend/progress_bar_text.hpp"
#include "gui_support.hpp"
#include "support/child_process.hpp"
#include "support/sample_bytes.hpp"
#include "support/simulated_device.hpp"
#include "support/temp_dir.hpp"
#include "ui/dialog_units.hpp"

using namespace korvane;
namespace kt = korvane::testing;
using namespace std::chrono_literals;
using Controls = DownloadDialog::Controls;

class DownloadDialogTest : public QObject {
    Q_OBJECT
    std::unique_ptr<kt::ConfigHome> home_;
    kt::TempDir files_;
    QString File(const char* name, std::size_t size) {
        return QString::fromStdString(files_.WriteFile(name, kt::SampleBytes(size)).string());
    }
    static QStringList Typed(const QDialog& dialog) {  // address and firmware path
        return {dialog.findChild<QLineEdit*>("1001")->text(),
                dialog.findChild<QLineEdit*>("1003")->text()};
    }

private slots:
    void init() { home_ = std::make_unique<kt::ConfigHome>(); }

    void layout_data() {
        QTest::addColumn<bool>("maintenance");
        QTest::newRow("operator") << false;
        QTest::newRow("--maintenance") << true;
    }
    void layout() {
        QFETCH(bool, maintenance);
        const auto dialog =
            kt::MakeDialog({}, {}, maintenance ? Controls::Maintenance : Controls::Operator);
        const DialogUnits units = DialogUnits::Of(dialog->font());
        QCOMPARE(dialog->size(), QSize(units.X(372), units.Y(293)));
        QCOMPARE(dialog->windowTitle(), QStringLiteral("DownLoad Firmware"));
        QVERIFY(!(dialog->windowFlags() &
                  (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
        // In template order; the last four are the service controls.
        // clang-format off
        const std::pair<const char*, QRect> rows[] = {
            {"2", {307, 247, 47, 20}}, {"1000", {22, 26, 307, 19}}, {"group-percentage", {8, 9, 357, 48}},
            {"group-communication", {8, 76, 357, 60}}, {"label-ip", {19, 100, 37, 12}},
            {"group-file", {7, 143, 357, 60}}, {"1003", {17, 166, 269, 14}}, {"1004", {307, 163, 47, 20}},
            {"1001", {63, 99, 131, 14}}, {"1002", {288, 165, 14, 14}}, {"1005", {199, 99, 37, 14}},
            {"1006", {261, 95, 65, 18}}, {"label-machine-code", {15, 220, 53, 8}},
            {"1007", {70, 217, 216, 14}}, {"1008", {290, 215, 56, 20}}};
        // clang-format on
        const QObjectList stacking = dialog->children();
        for (const auto& [name, place] : rows) {
            const bool service = &name >= &rows[11].first;
            const auto* w = dialog->findChild<QWidget*>(QString::fromLatin1(name));
            QVERIFY2(w != nullptr, name);
            QCOMPARE(w->geometry(), units.ToPixels(place));
            QCOMPARE(w->isVisibleTo(dialog.get()), !service || maintenance);
            const bool button = qobject_cast<const QPushButton*>(w) != nullptr;
            QCOMPARE(w->isEnabled(), !service || maintenance || !button);
            if (qobject_cast<const QGroupBox*>(w) != nullptr) {  // below every control
                QCOMPARE(stacking.indexOf(const_cast<QWidget*>(w)) < 3, true);
            }
        }
        QCOMPARE(dialog->findChild<QPushButton*>("1006")->text(),
                 QStringLiteral("还原MAC（Q7105）"));
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        QStringList tabs;
        for (QWidget* w = dialog->focusWidget(); tabs.size() < 9; w = w->nextInFocusChain()) {
            if (w->isVisible() && (w->focusPolicy() & Qt::TabFocus)) {
                tabs << w->objectName();
            }
        }
        const QStringList order = {"2",    "1003", "1004", "1001", "1002",
                                   "1005", "1006", "1007", "1008"};
        QCOMPARE(tabs.mid(0, maintenance ? 9 : 6), order.mid(0, maintenance ? 9 : 6));
    }

    // Enter is OK unless a push button has the focus, which it presses; Escape is Quit.
    void keys_data() {
        QTest::addColumn<QString>("focus");
        QTest::addColumn<int>("key");
        QTest::addColumn<QString>("outcome");
        QTest::newRow("enter in a box") << "1001" << int(Qt::Key_Return) << "accepted";
        QTest::newRow("keypad enter") << "1003" << int(Qt::Key_Enter) << "accepted";
        QTest::newRow("enter on DownLoad")
            << "1004" << int(Qt::Key_Return) << "Please select firmware!";
        QTest::newRow("enter on Quit") << "2" << int(Qt::Key_Return) << "rejected";
        QTest::newRow("escape") << "1001" << int(Qt::Key_Escape) << "rejected";
    }
    void keys() {
        QFETCH(QString, focus);
        QFETCH(int, key);
        QFETCH(QString, outcome);
        const auto dialog = kt::MakeDialog("127.0.7.1", "");
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        auto* target = dialog->findChild<QWidget*>(focus);
        target->setFocus();
        const Qt::KeyboardModifiers modifiers =
            key == Qt::Key_Enter ? Qt::KeypadModifier : Qt::NoModifier;
        const QStringList boxes =
            kt::CloseModals([&] { QTest::keyClick(target, Qt::Key(key), modifiers); });
        const QString seen = !boxes.isEmpty()                        ? boxes.join("|")
                             : dialog->isVisible()                   ? "open"
                             : dialog->result() == QDialog::Accepted ? "accepted"
                                                                     : "rejected";
        QCOMPARE(seen, outcome);
    }

    // Each refusal: its box (plain), then nothing saved and nothing sent.
    void refusals_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("saved");
        // clang-format off
        QTest::newRow("no path") << "" << "127.0.7.1" << "Please select firmware!" << false;
        QTest::newRow("missing") << "/nonexistent/x.zip" << "127.0.7.1" << "Firmware is not exist, please select firmare again." << false;
        QTest::newRow("no address") << "@file" << "" << "IP is empty" << false;
        QTest::newRow("short address") << "@file" << "127.0.7" << "IP is invalid" << false;
        QTest::newRow("two words") << "@file" << "127.0.7.1 x" << "IP is invalid" << false;
        QTest::newRow("a folder") << "@folder" << "127.0.7.1" << "Failed to read firmware!" << true;
        // clang-format on
    }
    void refusals() {
        QFETCH(QString, path);
        QFETCH(QString, address);
        QFETCH(QString, message);
        QFETCH(bool, saved);
        auto device = kt::StartDevice("127.0.7.1");
        path.replace("@file", File("f.zip", 10)).replace("@folder", files_.Path().c_str());
        const auto dialog = kt::MakeDialog(address, path);
        QCOMPARE(kt::CloseModals([&] { dialog->OnCommand(ID_DOWNLOAD); }), QStringList{message});
        QCOMPARE(QFile::exists(Settings::FilePath()), saved);
        std::this_thread::sleep_for(100ms);
        QVERIFY(device->Received().empty());
    }

    // Downloads with the address and file typed, or named on the command line
    // (shown instead of the remembered ones, saved only once the download
    // starts). The bar is full only once the end is acknowledged. A new
    // window then shows what the download was given.
    void download_data() {
        QTest::addColumn<QStringList>("arguments");  // the program's; none: typed into the boxes
        QTest::addColumn<uint>("refuse_nth");        // 0: none
        QTest::addColumn<bool>("refuse_end");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("acked");
        QTest::addColumn<QString>("bar");
        const QStringList typed;
        const QString done = "Succeed to download100%";
        // clang-format off
        QTest::newRow("intact") << typed << 0u << false << false << 5 << done;
        QTest::newRow("refused data") << typed << 3u << false << false << 2 << "Failed to download40%";
        QTest::newRow("refused end") << typed << 0u << true << false << 4 << "Failed to download80%";
        QTest::newRow("fast") << typed << 0u << false << true << 5 << done;
        QTest::newRow("--ip ADDRESS FILE") << QStringList{"korvane", "--ip", "127.0.7.2", "@"} << 0u << false << false << 5 << done;
        QTest::newRow("relative FILE --ip=ADDRESS") << QStringList{"korvane", "fw.zip", "--ip=127.0.7.2"} << 0u << false << false << 5 << done;
        // clang-format on
    }
    void download() {
        QFETCH(QStringList, arguments);
        QFETCH(uint, refuse_nth);
        QFETCH(bool, refuse_end);
        QFETCH(bool, fast);
        QSettings ini(Settings::FilePath(), QSettings::IniFormat);
        ini.setValue("Adapter/IP", "127.0.7.9");
        ini.setValue("Adapter/FileName", "/remembered.zip");
        ini.setValue("Transfer/Fast", fast ? "1" : "0");  // read at each download
        ini.sync();
        const auto saved = [] {  // opened afresh: a save replaces the file
            QFile file(Settings::FilePath());
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        };
        const QByteArray remembered = saved();
        auto device =
            kt::StartDevice("127.0.7.2", {.refuse_nth = refuse_nth, .refuse_end = refuse_end});
        const QString path = File("fw.zip", 20'000);  // header, 3 chunks, end
        const QString folder = QDir::currentPath();
        QDir::setCurrent(files_.Path().c_str());  // where a relative FILE is found
        const CommandLine line = ParseCommandLine(arguments.replaceInStrings("@", path));
        QDir::setCurrent(folder);
        const auto dialog = arguments.isEmpty() ? kt::MakeDialog("127.0.7.2", path)
                                                : kt::MakeDialog({}, {}, Controls::Operator,
                                                                 {line.address, line.file});
        QCOMPARE(Typed(*dialog), (QStringList{"127.0.7.2", path}));
        QCOMPARE(saved(), remembered);
        dialog->show();
        TextProgressBar& progress = dialog->ProgressBar();
        dialog->OnCommand(ID_DOWNLOAD);
        QCOMPARE(progress.Caption(), QStringLiteral("Downloading"));
        QCOMPARE(progress.Maximum(), 5);
        QTRY_VERIFY_WITH_TIMEOUT(progress.Caption() != QStringLiteral("Downloading"), 8000);
        QTEST(progress.Position(), "acked");  // one step per acknowledgement
        QTEST(QString::fromStdString(
                  ProgressBarText(progress.Caption().toStdString(), progress.Position(), 0, 5)),
              "bar");
        QCOMPARE(Typed(*kt::MakeDialog()), (QStringList{"127.0.7.2", path}));
    }

    void firstRunAndBrowse() {
        const auto dialog = kt::MakeDialog();
        QCOMPARE(Typed(*dialog), (QStringList{"192.168.1.88", ""}));
        QString path = File("picked.zip", 1);
        QString opened_in;
        const auto pick = [&](QWidget& modal) {  // picks `path`, or cancels when it is empty
            auto& files = static_cast<QFileDialog&>(modal);
            opened_in = files.directory().absolutePath();
            QCOMPARE(files.windowTitle(), QStringLiteral("选择固件文件"));
            if (path.isEmpty()) {
                files.reject();
                return;
            }
            files.findChild<QLineEdit*>("fileNameEdit")->setText(path);  // typed by the operator
            static_cast<QDialog&>(files).accept();
        };
        kt::CloseModals([&] { dialog->OnCommand(ID_BROWSE); }, pick);
        QCOMPARE(opened_in, QDir::tempPath());
        QCOMPARE(Typed(*dialog).at(1), path);
        path.clear();
        kt::CloseModals([&] { dialog->OnCommand(ID_BROWSE); }, pick);
        QCOMPARE(opened_in, QString::fromStdString(files_.Path().string()));
    }

    // Before a file was ever picked, the file dialog opens in the program's
    // folder, or at home when that is where packages put programs.
    void defaultBrowseFolder() {
        // clang-format off
        for (const auto& [folder, opens_in] :
             {std::pair{"/opt/korvane/bin", "/opt/korvane/bin"}, {"/usr/bin/korvane", "/usr/bin/korvane"},
              {"/usr/bin", "/home/op"}, {"/usr/local/bin/", "/home/op"}, {"/bin", "/home/op"},
              {"/usr/sbin", "/home/op"}, {"/sbin", "/home/op"}}) {
            QCOMPARE(DefaultBrowseFolder(folder, "/home/op"), QString(opens_in));
        }
        // clang-format on
    }

    // The program itself as an operator starts it over ssh or in a script:
    // no DISPLAY, WAYLAND_DISPLAY or QT_QPA_PLATFORM ("@" is the program).
    void commandLine_data() {
        QTest::addColumn<QStringList>("command");  // after env -u ...
        QTest::addColumn<int>("exit_code");
        QTest::addColumn<QString>("out");  // how standard output begins
        QTest::addColumn<QString>("err");  // all of standard error
        const QString usage = "Usage: korvane [--maintenance] [--ip ADDRESS] [FILE]\n";
        const QString none =
            "korvane: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
            "use korvane-cli for a headless download\n";
        const QString help = " Try 'korvane --help'.\n";
        // clang-format off
        QTest::newRow("--help") << QStringList{"@", "--help"} << 0 << usage << "";
        QTest::newRow("-h after FILE") << QStringList{"@", "fw.zip", "-h"} << 0 << usage << "";
        QTest::newRow("--version") << QStringList{"@", "--version"} << 0 << QString("korvane %1\n").arg(VERSION) << "";
        QTest::newRow("no display") << QStringList{"@"} << 1 << "" << none;
        QTest::newRow("xcb needs one") << QStringList{"QT_QPA_PLATFORM=xcb", "@", "--ip", "127.0.7.8", "fw.zip"} << 1 << "" << none;
        QTest::newRow("unknown") << QStringList{"@", "fw.zip", "--bogus"} << 2 << "" << "korvane: Unknown option 'bogus'." + help;
        QTest::newRow("toolkit's") << QStringList{"@", "-platform", "offscreen"} << 2 << "" << "korvane: Unknown option 'platform'." + help;
        QTest::newRow("two FILEs") << QStringList{"@", "a.zip", "b.zip"} << 2 << "" << "korvane: Only one FILE can be given, not 'a.zip' and 'b.zip'." + help;
        QTest::newRow("no ADDRESS") << QStringList{"@", "--ip"} << 2 << "" << "korvane: Missing value after '--ip'." + help;
        // clang-format on
    }
    void commandLine() {
        QFETCH(QStringList, command);
        QFETCH(QString, out);
        std::vector<std::string> argv{
            "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM"};
        for (const QString& word : command) {
            argv.push_back(word == "@" ? kt::BinPath("korvane") : word.toStdString());
        }
        const kt::ProcessResult result = kt::RunProcess(argv);
        QTEST(result.exit_code, "exit_code");
        QVERIFY2(QString::fromStdString(result.out).startsWith(out), result.out.c_str());
        QTEST(QString::fromStdString(result.err), "err");
    }

    // Browse, the close box, Quit and a second DownLoad during a download.
    void interruptions() {
        auto slow = kt::StartDevice("127.0.7.3", {.reply_delay = 300ms});
        auto fast = kt::StartDevice("127.0.7.4");
        const QString path = File("big.zip", 80'000);  // 12 datagrams
        auto dialog = kt::MakeDialog("127.0.7.3", path);
        dialog->show();
        TextProgressBar& bar = dialog->ProgressBar();
        dialog->OnCommand(ID_DOWNLOAD);
        QTRY_VERIFY(bar.Position() >= 1);
        kt::CloseModals([&] { dialog->OnCommand(ID_BROWSE); });  // cancelled: still stops
        QTRY_COMPARE(bar.Caption(), QStringLiteral("Failed to download"));
        QVERIFY(slow->Received().size() < 12);

        // Acknowledgements of the abandoned job wait in the queue when the
        // second download starts: they must not move its bar.
        dialog->OnCommand(ID_DOWNLOAD);
        std::this_thread::sleep_for(1000ms);
        dialog->findChild<QLineEdit*>("1001")->setText("127.0.7.4");
        dialog->OnCommand(ID_DOWNLOAD);
        QTRY_COMPARE(bar.Caption(), QStringLiteral("Succeed to download"));
        QCOMPARE(bar.Position(), 12);

        dialog->findChild<QLineEdit*>("1001")->setText("127.0.7.3");
        dialog->OnCommand(ID_DOWNLOAD);
        std::this_thread::sleep_for(400ms);
        const auto start = std::chrono::steady_clock::now();
        dialog->close();
        QTRY_COMPARE(bar.Caption(), QStringLiteral("Failed to download"));
        QVERIFY(std::chrono::steady_clock::now() - start < 2s);

        dialog = kt::MakeDialog("127.0.7.3", path);
        dialog->show();
        dialog->OnCommand(ID_DOWNLOAD);
        dialog->OnCommand(ID_QUIT);
        QVERIFY(!dialog->isVisible());
        // The slow device may still be in its reply delay with a datagram sent
        // before the Quit unread: let it read that first, then count.
        QTest::qWait(400);
        const std::size_t sent = slow->Received().size();
        QTest::qWait(700);
        QCOMPARE(slow->Received().size(), sent);
        QCOMPARE(dialog->ProgressBar().Caption(), QStringLiteral("Downloading"));
    }
};

QTEST_MAIN(DownloadDialogTest)
#include "download_dialog_test.moc"
