#pragma once

#include <QCoro/QCoroTask>
#include <QImage>
#include <QList>
#include <QString>

#include <functional>

class ScreenCaptureAccess;
class SnapshotSource;

// The judge checks run from the command line: the program's real model requests against whatever
// product API it is pointed at, one "LIVE …" line per result on standard output.
namespace FocusSelfTest {

// One drawn screen and the task it is judged against.
struct Fixture {
    QString name;
    QString screenText; // lines apart by line feeds
    QString task;
};

// In the order they are judged.
const QList<Fixture>& fixtures();

inline constexpr double kSessionDuration = 1800;
inline constexpr double kFixtureIdleSeconds = 120;
inline constexpr int kScreenWidth = 960;
inline constexpr int kScreenHeight = 600;
inline const QString kDesktopTask = QStringLiteral("Build the Tovrick focus friend Mac and iPhone apps");
inline const QString kCodexNote = QStringLiteral("Completed the Tovrick Mac and iPhone builds. All 22 tests passed.");
inline const QString kResearchQuestion = QStringLiteral(
    "What is Apple's Bonjour used for in local-network device discovery? Use official Apple documentation.");

// A number as the lines show it: the shortest decimal that reads back to the same double, keeping a
// ".0" on whole numbers ("1.0", "0.85", "1e-05").
QString numberText(double value);

// The fixture's screen: light text on a dark grey 960 x 600 picture.
QImage drawScreen(const QString& screenText);

struct Options {
    // Receives each line without its line feed; by default written to standard output.
    std::function<void(const QString&)> print;
    // The desktop run's screen and access check; by default the real reader and the shared access.
    SnapshotSource* screen = nullptr;
    ScreenCaptureAccess* access = nullptr;
};

} // namespace FocusSelfTest

// Runs one check to its end and answers the exit status: 0 when everything answered as expected.
// `desktop` judges the captured screen once; otherwise the fixtures, the news line and the research.
QCoro::Task<int> runFocusAPILiveTest(bool desktop);
QCoro::Task<int> runFocusAPILiveTest(bool desktop, FocusSelfTest::Options options);

// For the process entry: runs the check on the application's event loop and answers its status.
int runFocusSelfTest(bool desktop);
