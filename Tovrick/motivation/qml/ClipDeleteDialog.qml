import QtQuick
import QtQuick.Controls.Basic as Basic
import QtQuick.Templates as T

// Asks before an own clip is deleted; any other way out deletes nothing.
Basic.Popup {
    id: dialog
    property var sounds
    objectName: "motivationDeleteDialog"
    parent: T.Overlay.overlay
    anchors.centerIn: parent
    width: Math.min(parent ? parent.width - 80 : 360, 360)
    modal: true
    dim: true
    padding: 20
    visible: sounds ? sounds.deleteDialogShown : false
    onClosed: if (sounds) sounds.dismissDelete()
    background: Rectangle { radius: 14; color: "#2C2C2E"; border.color: "#414144" }
    contentItem: Column {
        spacing: 12
        Text {
            width: parent.width
            text: "Diese Aufnahme löschen?"
            Accessible.role: Accessible.Heading; Accessible.name: text
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 15
            font.bold: true
            color: "#F5F5F7"
        }
        SheetButton {
            objectName: "motivationConfirmDelete"
            width: parent.width
            large: false
            destructive: true
            text: "Aufnahme löschen"
            onClicked: dialog.sounds.confirmDelete()
        }
        SheetButton {
            objectName: "motivationCancelDelete"
            width: parent.width
            large: false
            text: "Abbrechen"
            onClicked: dialog.sounds.dismissDelete()
        }
    }
}
