import QtQuick
import Tovrick.Ui 1.0

// Asks before an own clip is deleted; any other way out deletes nothing. The focus starts on the
// cancel button: the deleting one is never where a stray key lands.
SoundsDialog {
    id: dialog
    property var sounds
    objectName: "motivationDeleteDialog"
    width: Math.min(parent ? parent.width - 80 : 360, 360)
    padding: 20
    wanted: sounds ? sounds.deleteDialogShown : false
    firstFocus: cancelButton
    title: "Diese Aufnahme löschen?"
    onCancelled: if (sounds) sounds.dismissDelete()
    background: Rectangle { radius: 14; color: "#2C2C2E"; border.color: "#414144" }
    contentItem: Column {
        spacing: 12
        Keys.onEscapePressed: dialog.cancelled()
        Text {
            width: parent.width
            text: dialog.title
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
            FocusKeeper.avoided: true
            text: "Aufnahme löschen"
            onClicked: dialog.sounds.confirmDelete()
        }
        SheetButton {
            id: cancelButton
            objectName: "motivationCancelDelete"
            width: parent.width
            large: false
            text: "Abbrechen"
            onClicked: dialog.sounds.dismissDelete()
        }
    }
}
