#include "Tovrick/focus/ImageChooser.h"

#include <QApplication>
#include <QFileDialog>
#include <QImageReader>
#include <QStandardPaths>

#include "shared/util/Log.h"

FileDialogImageChooser::~FileDialogImageChooser()
{
    delete m_dialog.data();
}

void FileDialogImageChooser::open(std::function<void(std::optional<QStringList>)> done)
{
    // Widgets need the widget application; without one (a check run, say) the choice is a cancel.
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) {
        logline::warning(QStringLiteral("the image chooser needs the desktop application"));
        done(std::nullopt);
        return;
    }
    QStringList patterns;
    for (const QByteArray& suffix : QImageReader::supportedImageFormats())
        patterns << QStringLiteral("*.") + QString::fromLatin1(suffix);
    auto* dialog = new QFileDialog;
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("Choose photos that remind you why you want to focus."));
    dialog->setLabelText(QFileDialog::Accept, QStringLiteral("Add images"));
    dialog->setFileMode(QFileDialog::ExistingFiles);
    dialog->setNameFilter(QStringLiteral("Images (%1)").arg(patterns.join(u' ')));
    dialog->setDirectory(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation));
    dialog->setModal(false);
    QObject::connect(dialog, &QFileDialog::finished, dialog, [dialog, done](int result) {
        if (result == QDialog::Accepted)
            done(dialog->selectedFiles());
        else
            done(std::nullopt);
        dialog->deleteLater();
    });
    m_dialog = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void FileDialogImageChooser::raise()
{
    if (!m_dialog)
        return;
    m_dialog->raise();
    m_dialog->activateWindow();
}
