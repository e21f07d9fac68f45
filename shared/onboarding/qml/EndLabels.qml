import QtQuick

// The two ends of a slider, in small secondary text.
Item {
    id: labels
    property string leftText
    property string rightText
    width: parent ? parent.width : 0
    height: start.height
    Text { id: start; text: labels.leftText; color: Qt.rgba(1, 1, 1, 0.6); font.pixelSize: 12 }
    Text { anchors.right: parent.right; text: labels.rightText; color: Qt.rgba(1, 1, 1, 0.6); font.pixelSize: 12 }
}
