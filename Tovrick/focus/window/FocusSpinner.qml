import QtQuick
import Tovrick.Focus 1.0

// A small turning ring that shows work under way; light enough for the window's dark surfaces.
Item {
    id: spinner
    property bool running: true
    implicitWidth: 16
    implicitHeight: 16

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: "transparent"
        border.width: 2
        border.color: FocusColor.divider
    }
    Item {
        anchors.fill: parent
        RotationAnimation on rotation {
            running: spinner.running && spinner.visible
            from: 0
            to: 360
            duration: 900
            loops: Animation.Infinite
        }
        Rectangle {
            width: 5
            height: 5
            radius: 2.5
            x: (parent.width - width) / 2
            y: 0
            color: FocusColor.text
        }
    }
}
