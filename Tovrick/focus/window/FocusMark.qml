import QtQuick
import Tovrick.Focus 1.0

// Where the keyboard is: an accent ring just outside its control, clear of it by a gap, so that it
// shows on dark and light surfaces and around accent-filled buttons alike. Put it inside the
// control; `radius` is the control's own.
Rectangle {
    property bool shown: false
    property real controlRadius: 0
    readonly property int gap: 4
    anchors.fill: parent
    anchors.margins: -gap
    radius: controlRadius > 0 ? controlRadius + gap : 0
    visible: shown
    color: "transparent"
    border.width: 2
    border.color: FocusColor.accent
    z: 100
}
