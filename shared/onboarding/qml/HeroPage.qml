import QtQuick

// Pages 0, 1, 2, 4 and 16: an optional caption, the large portrait with its badge, the heading.
Column {
    id: page
    property string caption
    property string badge
    property string title
    property string subtitle
    width: parent ? parent.width : 0
    spacing: 20

    Text {
        visible: page.caption !== ""
        anchors.horizontalCenter: parent.horizontalCenter
        text: page.caption
        color: "#4285FF"
        font.pixelSize: 12
        font.bold: true
        font.letterSpacing: 2
    }
    Item { width: 1; height: 16 }
    Item {
        width: page.width
        height: 242
        Item {
            width: 210
            height: 242
            anchors.centerIn: parent
            Portrait { size: 210; anchors.horizontalCenter: undefined }
            Text {
                objectName: "heroBadge"
                visible: page.badge !== ""
                anchors.top: parent.top
                anchors.right: parent.right
                text: page.badge
                font.pixelSize: 42
                // Emoji in colour where the font is installed, not the text forms of the default font.
                font.family: "Noto Color Emoji"
                Accessible.ignored: true
            }
        }
    }
    PageHeading { title: page.title; subtitle: page.subtitle }
}
