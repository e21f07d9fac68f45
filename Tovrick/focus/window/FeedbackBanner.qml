import QtQuick
import Tovrick.Focus 1.0

// The window's one-line (or longer) message, selectable so it can be copied.
Rectangle {
    id: banner
    property string message: ""

    objectName: "macFocusFeedback"
    implicitHeight: text.implicitHeight + 28
    radius: 10
    color: FocusColor.card
    // Announced where it appears: a screen reader speaks a notification as it shows.
    Accessible.role: Accessible.Notification
    Accessible.name: message

    FocusIcon {
        id: icon
        name: "info.circle.fill"
        color: FocusColor.text
        x: 14
        y: 14 + Math.max(0, (fontMetrics.height - height) / 2)
        width: 13
        height: 13
    }
    FontMetrics {
        id: fontMetrics
        font.pixelSize: 12
    }
    TextEdit {
        id: text
        objectName: "macFocusFeedbackText"
        x: icon.x + icon.width + 8
        y: 14
        width: banner.width - x - 14
        text: banner.message
        readOnly: true
        selectByMouse: true
        wrapMode: TextEdit.Wrap
        font.pixelSize: 12
        color: FocusColor.text
        selectionColor: FocusColor.accent
    }
}
