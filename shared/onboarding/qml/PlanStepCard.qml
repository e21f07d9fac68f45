import QtQuick

// One step of the plan being put together: its bar fills when the step is revealed.
Rectangle {
    property string title
    property int index
    width: parent ? parent.width : 0
    height: column.height + 36
    radius: 20
    color: Qt.rgba(1, 1, 1, 0.06)
    Column {
        id: column
        x: 18
        y: 18
        width: parent.width - 36
        spacing: 10
        Text { text: column.parent.title; color: "white"; font.pixelSize: 17; font.weight: Font.DemiBold }
        Bar { width: parent.width; value: onboarding.revealed > column.parent.index ? 1 : 0 }
    }
}
