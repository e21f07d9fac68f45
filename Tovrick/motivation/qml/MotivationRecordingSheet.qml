import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Ui 1.0

// The modal sheet in which one clip is recorded and saved. Its rules are in `sheet`. The focus
// follows the phase to its first control: Stop, then Save (never "Löschen").
SoundsDialog {
    id: popup
    property var sheet: null
    readonly property string phase: sheet ? sheet.phase : ""
    objectName: "motivationRecordingSheet"
    title: "Sag was Motivierendes"
    message: "Ein paar Worte von dir. Für den Moment, in dem du sie brauchst."
    width: 480
    padding: 0
    wanted: sheet !== null
    firstFocus: phase === "recording" ? stopButton
              : phase === "stopped" ? saveButton
              : phase === "failed" ? (settingsButton.visible ? settingsButton : closeButton)
              : null
    // Once the new phase's controls are shown.
    onPhaseChanged: if (opened) Qt.callLater(takeFocus)
    // Escape is the sheet's own way out, refused while a save runs.
    onCancelled: if (sheet) sheet.close()
    background: Rectangle { color: "#1C1C1E"; radius: 12 }

    contentItem: Item {
        Keys.onEscapePressed: popup.cancelled()
        implicitHeight: Math.max(380, stack.implicitHeight) + 64
        Column {
            id: stack
            x: 32
            // Centred in the sheet's least height, as a short failure text would otherwise float.
            y: 32 + Math.max(0, (380 - implicitHeight) / 2)
            width: parent.width - 64
            spacing: 24

            Text {
                width: parent.width
                text: popup.title
                Accessible.role: Accessible.Heading; Accessible.name: text
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 28
                font.bold: true
                color: "#F5F5F7"
            }
            Text {
                width: parent.width
                text: popup.message
                Accessible.name: text
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 13
                color: "#A9A9B0"
            }
            Text {
                objectName: "motivationRecordingTime"
                Accessible.name: text
                width: parent.width
                text: popup.sheet ? popup.sheet.timeText : ""
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 20
                font.family: "DejaVu Sans"
                color: "#F5F5F7"
            }

            // Preparing.
            Item {
                objectName: "motivationRecordingPreparing"
                visible: popup.sheet && popup.sheet.phase === "preparing"
                width: parent.width
                height: 112
                Column {
                    anchors.centerIn: parent
                    spacing: 10
                    Basic.BusyIndicator {
                        anchors.horizontalCenter: parent.horizontalCenter
                        running: parent.parent.visible
                        width: 32
                        height: 32
                    }
                    Text {
                        text: "Mikrofon wird vorbereitet …"
                        Accessible.name: text
                        font.pixelSize: 13
                        color: "#A9A9B0"
                    }
                }
            }

            // Recording.
            Column {
                visible: popup.sheet && popup.sheet.phase === "recording"
                width: parent.width
                spacing: 8
                SoundsButtonStyle {
                    id: stopButton
                    objectName: "stopMotivationRecording"
                    focusRadius: 56
                    anchors.horizontalCenter: parent.horizontalCenter
                    width: 112
                    height: 112
                    Accessible.name: "Stop Recording"
                    background: Rectangle { radius: 56; color: "#FF453A"; opacity: parent.down ? 0.8 : 1 }
                    contentItem: Item {
                        Rectangle {
                            anchors.centerIn: parent
                            width: 32
                            height: 32
                            radius: 5
                            color: "white"
                        }
                    }
                    onClicked: popup.sheet.stopRecording()
                }
                Text {
                    anchors.horizontalCenter: parent.horizontalCenter
                    text: "Stop Recording"
                    Accessible.name: text
                    font.pixelSize: 13
                    font.weight: Font.DemiBold
                    color: "#F5F5F7"
                }
            }

            // Stopped: side by side where they fit, else one above the other.
            Item {
                id: actions
                objectName: "motivationRecordingActions"
                visible: popup.sheet && popup.sheet.phase === "stopped"
                // Off while the recording is saved: the focus waits for the save.
                FocusKeeper.waiting: popup.sheet !== null && popup.sheet.saving
                readonly property bool fits: saveButton.implicitWidth + 14 + discardButton.implicitWidth <= width
                width: parent.width
                height: fits ? Math.max(saveButton.height, discardButton.height)
                             : saveButton.height + 14 + discardButton.height
                SheetButton {
                    id: saveButton
                    objectName: "motivationSaveRecording"
                    prominent: true
                    text: popup.sheet ? popup.sheet.saveTitle : ""
                    enabled: popup.sheet && !popup.sheet.saving
                    x: actions.fits ? (actions.width - implicitWidth - 14 - discardButton.implicitWidth) / 2
                                    : (actions.width - width) / 2
                    y: actions.fits ? (actions.height - height) / 2 : 0
                    onClicked: popup.sheet.save()
                }
                SheetButton {
                    id: discardButton
                    objectName: "motivationDiscardRecording"
                    destructive: true
                    FocusKeeper.avoided: true
                    text: "Löschen"
                    enabled: popup.sheet && !popup.sheet.saving
                    x: actions.fits ? saveButton.x + saveButton.width + 14 : (actions.width - width) / 2
                    y: actions.fits ? (actions.height - height) / 2 : saveButton.height + 14
                    onClicked: popup.sheet.discard()
                }
            }

            // Failed.
            Text {
                objectName: "motivationRecordingMessage"
                Accessible.role: Accessible.Notification
                Accessible.name: text
                visible: popup.sheet && popup.sheet.phase === "failed"
                width: parent.width
                text: popup.sheet ? popup.sheet.message : ""
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 13
                color: "#A9A9B0"
            }
            SheetButton {
                id: settingsButton
                objectName: "motivationOpenMicrophoneSettings"
                visible: popup.sheet && popup.sheet.phase === "failed" && popup.sheet.settingsShown
                anchors.horizontalCenter: parent.horizontalCenter
                prominent: true
                text: "Mikrofon-Einstellungen öffnen"
                onClicked: popup.sheet.openMicrophoneSettings()
            }
            SheetButton {
                id: closeButton
                objectName: "motivationCloseRecording"
                visible: popup.sheet && popup.sheet.phase === "failed"
                anchors.horizontalCenter: parent.horizontalCenter
                large: false
                text: "Schließen"
                onClicked: popup.sheet.close()
            }

            Text {
                objectName: "motivationRecordingError"
                Accessible.role: Accessible.Notification
                Accessible.name: text
                visible: popup.sheet && popup.sheet.error !== ""
                width: parent.width
                text: popup.sheet ? popup.sheet.error : ""
                textFormat: Text.PlainText
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
                font.pixelSize: 11
                color: "#FF453A"
            }
        }
    }
}
