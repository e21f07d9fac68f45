import QtQuick

// Page 19's control: a light disc inside a dark ring that fills with blue from the bottom while held.
Item {
    id: meter
    property real progress: 0
    width: 120
    height: 120

    Rectangle {
        anchors.fill: parent
        radius: width / 2
        color: "#353537"
    }
    Canvas {
        id: disc
        anchors.fill: parent
        anchors.margins: 12
        onPaint: {
            const ctx = getContext("2d")
            ctx.reset()
            ctx.beginPath()
            ctx.arc(width / 2, height / 2, width / 2, 0, 2 * Math.PI)
            ctx.closePath()
            ctx.clip()
            ctx.fillStyle = "#8FC8FF"
            ctx.fillRect(0, 0, width, height)
            const filled = height * Math.max(0, Math.min(1, meter.progress))
            ctx.fillStyle = "#4285FF"
            ctx.fillRect(0, height - filled, width, filled)
        }
        Connections {
            target: meter
            function onProgressChanged() { disc.requestPaint() }
        }
    }
}
