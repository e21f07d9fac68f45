import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Focus 1.0
import Tovrick.Ui 1.0

// Asks before the account and its devices are deleted; dismissing it clears the request. The
// keyboard starts on "Cancel", and Escape cancels: the destructive button is only ever chosen.
ModalFocusScope {
    id: confirmation
    objectName: "macFocusDeleteConfirmation"
    readonly property string title: "Delete your Tovrick account and unlink all its devices?"
    readonly property string message: "This permanently deletes your account and its personal sound recordings on this computer. You can sign out instead to keep them."
    initialFocus: cancelButton
    onCancelled: focusView.confirmDelete = false

    Rectangle {
        anchors.fill: parent
        color: Qt.rgba(0, 0, 0, 0.55)
    }
    MouseArea {
        anchors.fill: parent
        onClicked: focusView.confirmDelete = false
    }
    Rectangle {
        objectName: "macFocusDeleteDialog"
        Accessible.role: Accessible.Dialog
        Accessible.name: confirmation.title
        Accessible.description: confirmation.message
        width: Math.min(parent.width - 80, 420)
        height: column.implicitHeight + 40
        anchors.centerIn: parent
        radius: 14
        color: FocusColor.card
        border.color: FocusColor.divider
        MouseArea { anchors.fill: parent }
        Column {
            id: column
            x: 20
            y: 20
            width: parent.width - 40
            spacing: 12
            Text {
                width: parent.width
                text: confirmation.title
                Accessible.role: Accessible.Heading; Accessible.name: text
                wrapMode: Text.Wrap
                font.pixelSize: 15
                font.bold: true
                color: FocusColor.text
                horizontalAlignment: Text.AlignHCenter
            }
            Text {
                width: parent.width
                text: confirmation.message
                Accessible.name: text
                wrapMode: Text.Wrap
                font.pixelSize: 12
                color: FocusColor.secondaryText
                horizontalAlignment: Text.AlignHCenter
            }
            FocusButtonStyle {
                id: deleteButton
                objectName: "macFocusDeleteAccount"
                width: parent.width
                text: "Delete account"
                FocusKeeper.avoided: true
                Accessible.name: text
                padding: 10
                focusRadius: 10
                contentItem: Text {
                    text: deleteButton.text
                    color: "white"
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    horizontalAlignment: Text.AlignHCenter
                }
                background: Rectangle { radius: 10; color: Qt.rgba(0.9, 0.26, 0.23, deleteButton.down ? 0.75 : 1) }
                onClicked: {
                    focusView.confirmDelete = false
                    focusView.deleteAccount()
                }
            }
            FocusActionStyle {
                id: cancelButton
                objectName: "macFocusCancelDelete"
                width: parent.width
                secondary: true
                text: "Cancel"
                onClicked: focusView.confirmDelete = false
            }
        }
    }
}
