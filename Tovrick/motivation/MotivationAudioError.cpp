#include "Tovrick/motivation/MotivationAudioError.h"

#include <QFileInfo>

QString MotivationAudioError::text(Kind kind)
{
    switch (kind) {
    case Kind::limit:
        return QStringLiteral("Du hast bereits 10 eigene Aufnahmen auf diesem Computer. Lösche eine alte "
                              "Aufnahme, bevor du eine neue erstellst.");
    case Kind::invalid:
        return QStringLiteral("Die Aufnahme konnte nicht verarbeitet werden. Bitte nimm einen neuen "
                              "Spruch auf.");
    case Kind::permission:
        return QStringLiteral("Bitte prüfe das Mikrofon in den Toneinstellungen, um deinen Spruch "
                              "aufzunehmen.");
    case Kind::busy:
        return QStringLiteral("Bitte warte, bis der aktuelle Vorgang abgeschlossen ist.");
    }
    return {};
}

MotivationFileError MotivationFileError::couldNot(const QString& verb, const QString& path, const QString& reason)
{
    QString sentence = QStringLiteral("The file “%1” couldn’t be %2").arg(QFileInfo(path).fileName(), verb);
    if (!reason.isEmpty())
        sentence += QStringLiteral(": ") + reason;
    if (!sentence.endsWith(u'.'))
        sentence += u'.';
    return MotivationFileError(sentence);
}

