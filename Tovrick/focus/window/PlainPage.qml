import QtQuick
import Tovrick.Focus 1.0

// A page that so far shows only its title.
Item {
    property string title: ""
    implicitHeight: header.implicitHeight + 24

    Text {
        id: header
        objectName: "macFocusPageHeader"
        Accessible.role: Accessible.Heading; Accessible.name: text
        y: 12
        width: parent.width
        text: parent.title
        horizontalAlignment: Text.AlignHCenter
        font.pixelSize: 28
        font.bold: true
        color: FocusColor.text
    }
}
