import QtQuick
import QtQuick.Controls.Basic

Slider {
    id: control
    width: parent ? parent.width : 0
    background: Rectangle {
        x: control.leftPadding
        y: control.topPadding + control.availableHeight / 2 - height / 2
        width: control.availableWidth
        height: 4
        radius: 2
        color: Qt.rgba(1, 1, 1, 0.18)
        Rectangle {
            width: control.visualPosition * parent.width
            height: parent.height
            radius: 2
            color: "#4285FF"
        }
    }
    handle: Rectangle {
        x: control.leftPadding + control.visualPosition * (control.availableWidth - width)
        y: control.topPadding + control.availableHeight / 2 - height / 2
        width: 28
        height: 28
        radius: 14
        color: "white"
    }
}
