#include "app/command_line.hpp"

#include <QCommandLineParser>
#include <QFileInfo>
#include <algorithm>

namespace korvane {

CommandLine ParseCommandLine(const QStringList& arguments) {
    // Parsed without an application object: none exists yet. A word after
    // one dash is one option ("-style" is unknown as a whole, not as letters).
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")}, {});
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")}, {});
    const QCommandLineOption maintenance(QStringLiteral("maintenance"), {});
    const QCommandLineOption ip(QStringLiteral("ip"), {}, QStringLiteral("ADDRESS"));
    parser.addOptions({help, version, maintenance, ip});

    CommandLine line;
    // A program started with no name at all (argc 0) still has its options read.
    const bool parsed = parser.parse(arguments.isEmpty() ? QStringList{QString()} : arguments);
    const QStringList files = parsed ? parser.positionalArguments() : QStringList{};
    if (!parser.errorText().isEmpty()) {
        line.action = CommandLine::Action::Refuse;
        line.error = parser.errorText();
    } else if (parser.isSet(help)) {
        line.action = CommandLine::Action::Help;
    } else if (parser.isSet(version)) {
        line.action = CommandLine::Action::Version;
    } else if (files.size() > 1) {
        line.action = CommandLine::Action::Refuse;
        line.error = QStringLiteral("Only one FILE can be given, not '%1' and '%2'.")
                         .arg(files.at(0), files.at(1));
    }
    line.maintenance = parser.isSet(maintenance);
    if (parser.isSet(ip)) {
        line.address = parser.value(ip);
    }
    if (files.size() == 1) {
        // The window remembers the full path, and a later start may be elsewhere.
        line.file = files.front().isEmpty() ? QStringLiteral("")  // given, empty
                                            : QFileInfo(files.front()).absoluteFilePath();
    }
    return line;
}

QString HelpText(const QString& program) {
    return QStringLiteral(
               "Usage: %1 [--maintenance] [--ip ADDRESS] [FILE]\n"
               "Loads a firmware file into a network device over UDP (port 21818).\n"
               "\n"
               "FILE and ADDRESS, when given, are shown in the window instead of the\n"
               "remembered ones; like typed values, they are remembered once a download\n"
               "starts.\n"
               "\n"
               "Options:\n"
               "  --ip ADDRESS   The device's address.\n"
               "  --maintenance  Show the service commands: restore the device's address,\n"
               "                 read its machine code.\n"
               "  -h, --help     Show this help and exit.\n"
               "  -v, --version  Show the version and exit.\n"
               "\n"
               "Exit status: 0 once the window is closed; 1 without a display (use\n"
               "korvane-cli for a headless download); 2 for a command line it cannot read.\n")
        .arg(program);
}

bool CanOpenWindow(const QString& platform, const QString& display,
                   const QString& wayland_display) {
    if (!display.isEmpty() || !wayland_display.isEmpty()) {
        return true;
    }
    const QStringList names = platform.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    return std::ranges::any_of(names, [](const QString& entry) {
        const QString name = entry.section(QLatin1Char(':'), 0, 0).trimmed();
        return !name.isEmpty() && name != QStringLiteral("xcb") &&
               !name.startsWith(QStringLiteral("wayland"));
    });
}

}  // namespace korvane
