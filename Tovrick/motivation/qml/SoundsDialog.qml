import QtQuick
import QtQuick.Controls.Basic as Basic
import QtQuick.Templates as T
import Tovrick.Motivation 1.0

// A modal dialog of the Sounds screen that a keyboard can use: it opens and closes with `wanted`,
// takes the focus on `firstFocus` (its first safe control, never a destructive one), keeps Tab
// inside while open, and treats Escape as its cancel. The page gives the focus back to where it was.
Basic.Popup {
    id: dialog
    // Whether it should be open.
    property bool wanted: false
    // Where the focus lands when it opens, and again when `takeFocus()` is called.
    property Item firstFocus: null
    // The user asked to leave it without acting: Escape, which each dialog's content item hands on
    // (a key goes up from the focused control through it). `wanted` turning false closes it.
    signal cancelled()
    // What a screen reader says of it: its title, and its message when it has one.
    property string title
    property string message

    onTitleChanged: PopupAccessible.describe(dialog, title, message)
    onMessageChanged: PopupAccessible.describe(dialog, title, message)

    parent: T.Overlay.overlay
    anchors.centerIn: parent
    modal: true
    dim: true
    focus: true
    // The popup must not close on its own: whether it goes is for what it shows to say.
    closePolicy: Basic.Popup.NoAutoClose

    function takeFocus() {
        if (firstFocus && firstFocus.visible && firstFocus.enabled)
            firstFocus.forceActiveFocus(Qt.TabFocusReason)
        else if (contentItem)
            contentItem.forceActiveFocus(Qt.OtherFocusReason)
    }

    onWantedChanged: wanted ? open() : close()
    Component.onCompleted: {
        PopupAccessible.describe(dialog, title, message)
        if (wanted)
            open()
    }
    onOpened: takeFocus()
}
