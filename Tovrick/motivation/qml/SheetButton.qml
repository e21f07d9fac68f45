import QtQuick

// A bordered button of the recording sheet: prominent (filled with the tint), plain or destructive.
SoundsButtonStyle {
    id: button
    property bool prominent: false
    property bool destructive: false
    property bool large: true
    Accessible.name: text
    focusRadius: large ? 10 : 7
    leftPadding: large ? 20 : 14
    rightPadding: large ? 20 : 14
    topPadding: large ? 10 : 6
    bottomPadding: large ? 10 : 6
    contentItem: Text {
        text: button.text
        font.pixelSize: button.large ? 15 : 13
        font.weight: Font.Medium
        color: button.prominent ? "white" : (button.destructive ? "#FF453A" : "#F5F5F7")
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: button.large ? 10 : 7
        color: button.prominent ? "#4285FF" : Qt.rgba(1, 1, 1, 0.12)
        opacity: button.enabled ? (button.down ? 0.75 : 1) : 0.45
    }
}
