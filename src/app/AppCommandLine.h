#pragma once

#include <QString>
#include <QStringList>

namespace quorvel {

// What `quorvel` was asked on its command line. --help and --version are answered before
// any window or display connection exists, so they work over SSH and in scripts.
struct AppArguments {
    enum class Action { Run, Help, Version, Error };
    Action action = Action::Run;
    // Files to start out selected (the launcher's %F), as given.
    QStringList files;
    // For Error: what was wrong, in one line.
    QString problem;
};

// `arguments` excludes the program name. Options Qt itself understands (-platform, -style, …)
// are left to Qt and never reach here; anything else starting with '-' before "--" is refused
// rather than opened as a file.
AppArguments parseAppArguments(const QStringList &arguments);
QString appHelpText();
QString appVersionText();

} // namespace quorvel
