import QtQuick

// A page's title and subtitle, centred, wrapping rather than cut.
Column {
    property string title
    property string subtitle
    width: parent ? parent.width : 0
    spacing: 12
    topPadding: 8

    Text {
        objectName: "pageTitle"
        width: parent.width
        text: parent.title
        color: "white"
        font.pixelSize: 30
        font.bold: true
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
    }
    Text {
        objectName: "pageSubtitle"
        width: parent.width
        text: parent.subtitle
        color: Qt.rgba(1, 1, 1, 0.65)
        font.pixelSize: 16
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
    }
}
