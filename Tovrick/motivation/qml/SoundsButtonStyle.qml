import QtQuick
import QtQuick.Controls.Basic as Basic

// The one button every button of the Sounds screens is. Qt's own Press action on a button reports
// success without clicking it, so the press a screen reader or switch device sends clicks here,
// as long as the button is enabled. Return and Enter click it as Space does.
Basic.Button {
    id: button
    // The corner of the ring that shows the keyboard focus, to follow the button's shape.
    property real focusRadius: 8
    Accessible.onPressAction: if (enabled) clicked()
    Keys.onReturnPressed: clicked()
    Keys.onEnterPressed: clicked()

    Rectangle {
        objectName: "soundsFocusRing"
        z: 1
        visible: button.visualFocus
        anchors.fill: parent
        anchors.margins: -3
        radius: button.focusRadius + 3
        color: "transparent"
        border.width: 2
        border.color: "#8AB4FF"
    }
}
