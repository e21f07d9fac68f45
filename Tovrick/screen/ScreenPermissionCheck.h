#pragma once

#include <QCoro/QCoroTask>
#include <QString>

#include <functional>

class ScreenCaptureAccess;

// The command-line screen access check: one test capture through the access object, its outcome
// printed in one line and kept in the app folder, so a setup script can tell why the focus judge
// would see nothing.
namespace ScreenPermissionCheck {

inline const QString kFileName = QStringLiteral("screen-access-check.json");

// Answers the exit status: 0 when the screen could be captured. Writes {"granted", "preflight",
// "message", "checkedAt"} (seconds since 1970) to `folder`/screen-access-check.json; a file that
// cannot be written is reported and fails the check.
QCoro::Task<int> run(ScreenCaptureAccess& access, QString folder, std::function<void(const QString&)> print);

} // namespace ScreenPermissionCheck

// For the process entry: the check with the shared access object, the app folder and standard
// output, on the application's event loop.
int runScreenPermissionCheck();
