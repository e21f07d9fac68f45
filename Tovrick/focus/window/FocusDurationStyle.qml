import QtQuick
import Tovrick.Focus 1.0

// A duration chip: accent when chosen, an outlined dark chip otherwise.
FocusButtonStyle {
    id: control
    property bool selected: false

    font.pixelSize: 13
    font.weight: Font.DemiBold
    leftPadding: 0
    rightPadding: 0
    topPadding: 11
    bottomPadding: 11
    opacity: down ? 0.7 : 1.0
    focusRadius: 8
    Accessible.name: text
    Accessible.selected: selected

    contentItem: Text {
        text: control.text
        font: control.font
        color: control.selected ? "white" : FocusColor.secondaryText
        horizontalAlignment: Text.AlignHCenter
        verticalAlignment: Text.AlignVCenter
    }
    background: Rectangle {
        radius: 8
        color: control.selected ? FocusColor.accent : FocusColor.background
        border.width: 1
        border.color: control.selected ? FocusColor.accent : FocusColor.divider
    }
}
