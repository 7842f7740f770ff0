#pragma once

#include <QString>
#include <QStringList>

namespace korvane {

// What `korvane [--maintenance] [--ip ADDRESS] [FILE]` asks for. Read before
// the program touches the display, so that --help, --version and a mistyped
// command line work over ssh and in scripts.
struct CommandLine {
    enum class Action { Run, Help, Version, Refuse };
    Action action = Action::Run;
    bool maintenance = false;
    QString address;  // null when --ip is not given
    QString file;   // absolute (a relative FILE is taken from the current folder); null when absent
    QString error;  // Refuse: what is wrong, one sentence
};

// `arguments` as the program got them, its own name first.
[[nodiscard]] CommandLine ParseCommandLine(const QStringList& arguments);

// The text of --help, for the program called `program`.
[[nodiscard]] QString HelpText(const QString& program);

// Whether the window can open: a display server is named (DISPLAY or
// WAYLAND_DISPLAY), or the platform (QT_QPA_PLATFORM: names separated by ';',
// each tried in turn, options after ':') names one that needs none, such as
// offscreen or minimal. Without either, the toolkit would abort the process.
[[nodiscard]] bool CanOpenWindow(const QString& platform, const QString& display,
                                 const QString& wayland_display);

}  // namespace korvane
