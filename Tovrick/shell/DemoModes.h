#pragma once

#include <QCoro/QCoroTask>
#include <QImage>
#include <QObject>
#include <QProcessEnvironment>
#include <QRect>
#include <QString>

#include <functional>

class CursorView;
class RealtimeHost;

// The demonstration and capture modes named by environment variables, for pictures and quick looks
// without a phone:
//   FENNOW_DEMO_BUBBLE      the character with the bubble text of FENNOW_DEMO_TEXT; with
//                           FENNOW_DEMO_OUT, a picture of it on the display is written there and the
//                           run ends
//   FENNOW_DEMO_TRANSCRIBE  the audio file it names is transcribed, its segments printed, the run ends
//   FENNOW_DEMO_RESEARCH    pictures of the research card for FENNOW_DEMO_TEXT (the card's own capture)
class DemoModes : public QObject {
    Q_OBJECT

public:
    struct Ports {
        std::function<CursorView&()> character;
        std::function<RealtimeHost&()> host;
        // Ends the run with a status.
        std::function<void(int status)> exit;
    };

    explicit DemoModes(Ports ports, QProcessEnvironment environment = QProcessEnvironment::systemEnvironment(),
                       QObject* parent = nullptr);

    // Any of the modes is asked for: such a run is a capture, not the user's companion.
    static bool requested(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());
    // Whether the permission status file is written in this run (not while capturing pictures).
    static bool writesStatusFile(const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment());

    // Starts every mode that is asked for.
    void start();

    // How long the character gets to settle before its picture is taken.
    int bubbleSettleMs = 1500;

private:
    QCoro::Task<> captureBubble(QString path);
    QCoro::Task<> transcribe(QString path);

    Ports m_ports;
    QProcessEnvironment m_environment;
};

namespace demoPictures {
// The part of the display around `windows` (global logical coordinates) with a margin, on the
// primary screen; null when there is no screen.
QImage grabAround(const QRect& windows, int margin = 24);
} // namespace demoPictures
