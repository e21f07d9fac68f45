import QtQuick
import Tovrick.Focus 1.0

// A tab of the tab bar: its icon above its title; only the chosen tab has a card behind it.
FocusButtonStyle {
    id: control
    property bool selected: false
    property string iconName: ""
    readonly property color labelColor: selected ? FocusColor.text : FocusColor.secondaryText

    padding: 0
    topPadding: 14
    bottomPadding: 14
    Accessible.name: text
    Accessible.selected: selected

    contentItem: Column {
        spacing: 7
        FocusIcon {
            name: control.iconName
            color: control.labelColor
            width: 23
            height: 23
            anchors.horizontalCenter: parent.horizontalCenter
        }
        Text {
            text: control.text
            color: control.labelColor
            font.pixelSize: 12
            font.weight: Font.DemiBold
            elide: Text.ElideRight
            width: Math.min(implicitWidth, control.availableWidth)
            anchors.horizontalCenter: parent.horizontalCenter
        }
    }
    background: Rectangle {
        radius: 12
        color: control.selected ? FocusColor.card : (control.down ? FocusColor.background : "transparent")
    }
}
