import QtQuick
import Tovrick.Focus 1.0

// An action button: accent-filled when primary, card-filled with a hairline border when secondary.
FocusButtonStyle {
    id: control
    property bool secondary: false
    property string iconName: ""
    property bool fillsWidth: false
    property int iconSize: 13

    font.pixelSize: 13
    font.weight: Font.DemiBold
    leftPadding: 16
    rightPadding: 16
    topPadding: 12
    bottomPadding: 12
    opacity: !available ? 0.45 : (down ? 0.75 : 1.0)
    Accessible.name: text

    contentItem: Item {
        implicitWidth: row.implicitWidth
        implicitHeight: Math.max(row.implicitHeight, control.fillsWidth ? 24 : 0)
        Row {
            id: row
            anchors.centerIn: parent
            spacing: 6
            FocusIcon {
                visible: control.iconName !== ""
                name: control.iconName
                width: control.iconSize
                height: control.iconSize
                anchors.verticalCenter: parent.verticalCenter
                color: label.color
            }
            Text {
                id: label
                text: control.text
                font: control.font
                color: control.secondary ? FocusColor.text : "white"
                anchors.verticalCenter: parent.verticalCenter
            }
        }
    }
    background: Rectangle {
        radius: 12
        color: control.secondary ? FocusColor.card : FocusColor.accent
        border.width: 1
        border.color: control.secondary ? FocusColor.divider : "transparent"
    }
}
