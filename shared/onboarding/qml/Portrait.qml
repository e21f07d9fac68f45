import QtQuick
import Tovrick.Art 1.0

// The character on a page, framed `size` square with 16 above and below.
Item {
    property real size: 210
    property alias portrait: blob
    implicitWidth: size
    implicitHeight: size + 32
    width: size
    height: size + 32
    anchors.horizontalCenter: parent ? parent.horizontalCenter : undefined
    Accessible.ignored: true

    BlobPortrait {
        id: blob
        objectName: "pagePortrait"
        y: 16
        width: parent.size
        height: parent.size
        showLimbs: true
    }
}
