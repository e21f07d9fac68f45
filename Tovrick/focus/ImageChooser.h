#pragma once

#include <QPointer>
#include <QStringList>

#include <functional>
#include <optional>

class QFileDialog;

// Lets the user pick image files without blocking the window that asked.
class ImageChooser {
public:
    virtual ~ImageChooser() = default;
    // Shows the chooser and returns at once; `done` later receives the chosen files in their order,
    // or none when the user cancels. Called at most once per open.
    virtual void open(std::function<void(std::optional<QStringList>)> done) = 0;
    // Brings an open chooser to the front.
    virtual void raise() {}
};

// The desktop's file dialog as a free-standing, non-modal window with multiple selection.
class FileDialogImageChooser : public ImageChooser {
public:
    ~FileDialogImageChooser() override;
    void open(std::function<void(std::optional<QStringList>)> done) override;
    void raise() override;

private:
    QPointer<QFileDialog> m_dialog;
};
