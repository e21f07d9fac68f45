import QtQuick
import Tovrick.Motivation 1.0

// The tile that opens the recording sheet.
SoundsButtonStyle {
    id: button
    objectName: "recordMotivation"
    implicitHeight: Math.max(192, content.implicitHeight + 32)
    Accessible.name: "Eigenen Spruch aufnehmen"
    padding: 0
    focusRadius: 16
    background: Rectangle {
        radius: 16
        color: Qt.rgba(66 / 255, 133 / 255, 1, 0.12)
        border.width: 1
        border.color: Qt.rgba(66 / 255, 133 / 255, 1, 0.45)
    }
    contentItem: Item {
        Column {
            id: content
            x: 16
            y: 16
            width: parent.width - 32
            spacing: 16
            Item {
                width: 40
                height: 40
                ClipSymbol {
                    anchors.centerIn: parent
                    width: 23
                    height: 23
                    name: "mic.badge.plus"
                }
            }
            Text {
                width: parent.width
                height: Math.max(52, implicitHeight)
                text: "Eigenen Spruch aufnehmen"
                wrapMode: Text.Wrap
                font.pixelSize: 14
                font.weight: Font.DemiBold
                color: "#F5F5F7"
            }
        }
    }
}
