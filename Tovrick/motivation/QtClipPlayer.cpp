#include "Tovrick/motivation/QtClipPlayer.h"

#include <QAudioOutput>
#include <QBuffer>
#include <QMediaPlayer>

#include "Tovrick/motivation/Mp4Duration.h"
#include "shared/util/Log.h"

QtClipPlayback::QtClipPlayback(const QUrl& file)
    : m_holder(new QObject)
{
    connectPlayer();
    m_player->setSource(file);
}

QtClipPlayback::QtClipPlayback(const QByteArray& bytes)
    : m_holder(new QObject)
{
    connectPlayer();
    auto* buffer = new QBuffer(m_holder);
    buffer->setData(bytes);
    buffer->open(QIODevice::ReadOnly);
    m_player->setSourceDevice(buffer, QUrl(QStringLiteral("speech.wav")));
}

QtClipPlayback::~QtClipPlayback()
{
    if (!m_holder)
        return;
    QObject::disconnect(m_player, nullptr, m_holder, nullptr);
    m_player->stop();
    m_holder->deleteLater();
}

void QtClipPlayback::connectPlayer()
{
    m_player = new QMediaPlayer(m_holder);
    m_player->setAudioOutput(new QAudioOutput(m_holder));
    QObject::connect(m_player, &QMediaPlayer::mediaStatusChanged, m_holder, [this](QMediaPlayer::MediaStatus status) {
        if (status == QMediaPlayer::EndOfMedia)
            report(true);
        else if (status == QMediaPlayer::InvalidMedia)
            report(false);
    });
    QObject::connect(m_player, &QMediaPlayer::errorOccurred, m_holder,
                     [this](QMediaPlayer::Error, const QString& text) {
                         logline::warning(QStringLiteral("motivation clip playback failed: ") + text);
                         report(false);
                     });
}

bool QtClipPlayback::play()
{
    if (m_reported || m_player->error() != QMediaPlayer::NoError)
        return false;
    m_player->play();
    return m_player->error() == QMediaPlayer::NoError;
}

void QtClipPlayback::stop()
{
    m_reported = true;
    m_player->stop();
}

void QtClipPlayback::report(bool successfully)
{
    if (m_reported)
        return;
    m_reported = true;
    // The receiver may destroy this playback: nothing of it is touched after the call.
    if (auto finished = onFinished)
        finished(successfully);
}

std::unique_ptr<ClipPlayback> QtClipPlayer::open(const QString& path)
{
    // Refuses a missing file or one without a sound track now, as opening an audio file would.
    mp4::audioDuration(path);
    return std::make_unique<QtClipPlayback>(QUrl::fromLocalFile(path));
}
