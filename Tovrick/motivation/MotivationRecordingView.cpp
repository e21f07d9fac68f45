#include "Tovrick/motivation/MotivationRecordingView.h"

#include <QProcess>
#include <QStandardPaths>

#include <cmath>

#include "Tovrick/motivation/MotivationAudioStore.h"

std::optional<SoundSettingsTool> SoundSettingsTool::find()
{
    const SoundSettingsTool known[] = {
        { QStringLiteral("gnome-control-center"), { QStringLiteral("sound") } },
        // Its fourth tab lists the inputs.
        { QStringLiteral("pavucontrol"), { QStringLiteral("--tab=4") } },
    };
    for (const SoundSettingsTool& tool : known) {
        const QString path = QStandardPaths::findExecutable(tool.program);
        if (!path.isEmpty())
            return SoundSettingsTool { path, tool.arguments };
    }
    return std::nullopt;
}

MotivationRecordingView::MotivationRecordingView(MotivationAudioStore& store, Ports ports, QObject* parent)
    : QObject(parent), m_store(store), m_ports(std::move(ports)), m_recorder(store, m_ports.recorder, m_ports.access)
{
    if (!m_ports.launch) {
        m_ports.launch = [](const SoundSettingsTool& tool) { return QProcess::startDetached(tool.program, tool.arguments); };
    }
    connect(&m_recorder, &MotivationRecorder::phaseChanged, this, &MotivationRecordingView::phaseChanged);
    connect(&m_recorder, &MotivationRecorder::messageChanged, this, &MotivationRecordingView::phaseChanged);
    connect(&m_recorder, &MotivationRecorder::needsMicrophoneSettingsChanged, this, &MotivationRecordingView::phaseChanged);
    connect(&m_recorder, &MotivationRecorder::elapsedChanged, this, &MotivationRecordingView::timeTextChanged);
}

MotivationRecordingView::~MotivationRecordingView()
{
    disappear();
}

QString MotivationRecordingView::phase() const
{
    switch (m_recorder.phase()) {
    case MotivationRecorder::Phase::preparing:
        return QStringLiteral("preparing");
    case MotivationRecorder::Phase::recording:
        return QStringLiteral("recording");
    case MotivationRecorder::Phase::stopped:
        return QStringLiteral("stopped");
    case MotivationRecorder::Phase::failed:
        return QStringLiteral("failed");
    }
    return {};
}

QString MotivationRecordingView::timeText() const
{
    const auto seconds = static_cast<long long>(std::trunc(m_recorder.elapsed()));
    return QStringLiteral("%1 / 20 Sekunden").arg(seconds);
}

QString MotivationRecordingView::saveTitle() const
{
    return m_saving ? QStringLiteral("Wird gespeichert …") : QStringLiteral("Aufnahme speichern");
}

void MotivationRecordingView::appear()
{
    if (m_appeared)
        return;
    m_appeared = true;
    // Runs on by itself; the recorder ignores its end once it has been cancelled or dropped.
    QCoro::Task<> starting = m_recorder.start();
}

void MotivationRecordingView::disappear()
{
    m_gone = true;
    m_recorder.cancel();
}

void MotivationRecordingView::setSceneActive(bool active)
{
    if (!active)
        m_recorder.stop();
}

void MotivationRecordingView::save()
{
    const std::optional<QString> url = m_recorder.url();
    if (!url || m_saving || m_recorder.phase() != MotivationRecorder::Phase::stopped)
        return;
    setSaving(true);
    setError({});
    // As a task of its own, so that the sheet shows the saving state before the store is busy.
    QMetaObject::invokeMethod(
        this,
        [this, path = *url] {
            // Closed before the save began: the recording was thrown away with the sheet.
            if (m_gone) {
                setSaving(false);
                return;
            }
            try {
                m_store.save(path, m_recorder.duration(), m_recorder.clientId());
            } catch (const std::exception& failure) {
                setError(describeError(failure));
                setSaving(false);
                return;
            }
            setSaving(false);
            emit dismissRequested();
        },
        Qt::QueuedConnection);
}

void MotivationRecordingView::discard()
{
    if (m_saving)
        return;
    m_recorder.cancel();
    emit dismissRequested();
}

void MotivationRecordingView::close()
{
    if (m_saving)
        return;
    emit dismissRequested();
}

void MotivationRecordingView::openMicrophoneSettings()
{
    if (m_ports.settings)
        m_ports.launch(*m_ports.settings);
}

void MotivationRecordingView::setSaving(bool saving)
{
    if (saving == m_saving)
        return;
    m_saving = saving;
    emit savingChanged();
}

void MotivationRecordingView::setError(const QString& error)
{
    if (error == m_error)
        return;
    m_error = error;
    emit errorChanged();
}
