import QtQuick
import QtQuick.Controls
import QtQuick.Shapes

// The research report card. State and texts come from `card` (ReportModel), actions and fonts from
// `panel` (ReportPanel); this only lays them out.
Item {
    id: root
    objectName: "reportCard"
    width: 400
    height: 140

    readonly property color ink: "#0A2248"
    readonly property color berry: "#65B5FF"
    readonly property color soft: "#5D5873"
    readonly property bool expanded: card.state === "expanded"

    component RoundButton: Rectangle {
        id: button
        signal activated()
        Accessible.role: Accessible.Button
        Accessible.onPressAction: button.activated()
        width: 26
        height: 26
        radius: 13
        color: root.berry
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: button.activated()
        }
    }

    Item {
        id: cardArea
        anchors.fill: parent
        anchors.margins: 4

        Rectangle {
            anchors.fill: parent
            radius: 22
            gradient: Gradient {
                GradientStop { position: 0; color: "white" }
                GradientStop { position: 1; color: "#EEF0FF" }
            }
            border.color: root.berry
            border.width: 2.5
        }

        // The whole card moves when dragged; a click opens a collapsed report.
        MouseArea {
            id: dragArea
            anchors.fill: parent
            property point pressedAt
            property point windowAt
            property bool dragging: false
            onPressed: (mouse) => {
                pressedAt = mapToGlobal(mouse.x, mouse.y)
                windowAt = Qt.point(Window.window.x, Window.window.y)
                dragging = false
            }
            onPositionChanged: (mouse) => {
                const here = mapToGlobal(mouse.x, mouse.y)
                if (!dragging && Math.abs(here.x - pressedAt.x) + Math.abs(here.y - pressedAt.y) > 4)
                    dragging = true
                if (dragging) {
                    Window.window.x = windowAt.x + here.x - pressedAt.x
                    Window.window.y = windowAt.y + here.y - pressedAt.y
                }
            }
            onClicked: if (!dragging) panel.tapped()
        }

        Column {
            id: content
            anchors.fill: parent
            anchors.margins: 18
            spacing: 10

            Row {
                id: header
                width: parent.width
                spacing: 10

                Item {
                    id: icon
                    objectName: card.state === "loading" ? "reportIconSearch" : "reportIconDocument"
                    width: 18
                    height: 21

                    // A document behind the glass once there is something to read.
                    Shape {
                        visible: card.state !== "loading"
                        x: 0; y: 3
                        ShapePath {
                            strokeColor: root.berry
                            strokeWidth: 2
                            fillColor: "transparent"
                            joinStyle: ShapePath.RoundJoin
                            startX: 11; startY: 0
                            PathLine { x: 1; y: 0 }
                            PathLine { x: 1; y: 16 }
                            PathLine { x: 6; y: 16 }
                        }
                        ShapePath {
                            strokeColor: root.berry
                            strokeWidth: 1.8
                            capStyle: ShapePath.RoundCap
                            startX: 4; startY: 5
                            PathLine { x: 9; y: 5 }
                            PathMove { x: 4; y: 9 }
                            PathLine { x: 7; y: 9 }
                        }
                    }
                    Shape {
                        x: card.state === "loading" ? 0 : 6
                        y: card.state === "loading" ? 3 : 8
                        ShapePath {
                            strokeColor: root.berry
                            strokeWidth: 2.4
                            fillColor: "transparent"
                            capStyle: ShapePath.RoundCap
                            PathAngleArc { centerX: 6; centerY: 6; radiusX: 5; radiusY: 5; startAngle: 0; sweepAngle: 360 }
                            PathMove { x: 9.8; y: 9.8 }
                            PathLine { x: 14; y: 14 }
                        }
                    }
                }

                Text {
                    id: heading
                    objectName: "reportHeading"
                    Accessible.role: Accessible.Heading; Accessible.name: text
                    width: header.width - icon.width - header.spacing
                           - (collapseButton.visible ? collapseButton.width + header.spacing : 0)
                           - closeButton.width - header.spacing
                    text: card.heading
                    textFormat: Text.PlainText
                    color: root.ink
                    font.family: panel.headingFamily
                    font.pixelSize: 20
                    font.bold: true
                    wrapMode: Text.Wrap
                    maximumLineCount: root.expanded ? 3 : 2
                    elide: Text.ElideRight
                }

                RoundButton {
                    id: collapseButton
                    objectName: "reportCollapseButton"
                    visible: root.expanded
                    Accessible.name: "Collapse"
                    onActivated: panel.toggle()
                    Shape {
                        anchors.centerIn: parent
                        width: 10; height: 6
                        ShapePath {
                            strokeColor: "white"
                            strokeWidth: 2.6
                            fillColor: "transparent"
                            capStyle: ShapePath.RoundCap
                            joinStyle: ShapePath.RoundJoin
                            startX: 0; startY: 6
                            PathLine { x: 5; y: 1 }
                            PathLine { x: 10; y: 6 }
                        }
                    }
                }

                RoundButton {
                    id: closeButton
                    objectName: "reportCloseButton"
                    Accessible.name: "Close"
                    onActivated: panel.close()
                    Rectangle {
                        anchors.centerIn: parent
                        width: 10
                        height: 2.6
                        radius: 1.3
                        color: "white"
                    }
                }
            }

            Row {
                objectName: "reportLoading"
                visible: card.state === "loading"
                width: parent.width
                spacing: 10

                // A quarter-open ring turning once a second.
                Shape {
                    id: spinner
                    objectName: "reportSpinner"
                    width: 18
                    height: 18
                    anchors.verticalCenter: parent.verticalCenter
                    ShapePath {
                        strokeColor: Qt.rgba(root.berry.r, root.berry.g, root.berry.b, 0.25)
                        strokeWidth: 2.5
                        fillColor: "transparent"
                        PathAngleArc { centerX: 9; centerY: 9; radiusX: 7.5; radiusY: 7.5; startAngle: 0; sweepAngle: 360 }
                    }
                    ShapePath {
                        strokeColor: root.berry
                        strokeWidth: 2.5
                        fillColor: "transparent"
                        capStyle: ShapePath.RoundCap
                        PathAngleArc { centerX: 9; centerY: 9; radiusX: 7.5; radiusY: 7.5; startAngle: -90; sweepAngle: 100 }
                    }
                    RotationAnimator on rotation {
                        running: spinner.visible
                        from: 0
                        to: 360
                        duration: 1000
                        loops: Animation.Infinite
                    }
                }
                Text {
                    objectName: "reportLoadingText"
                    Accessible.name: text
                    width: parent.width - spinner.width - parent.spacing
                    anchors.verticalCenter: parent.verticalCenter
                    text: card.loadingText
                    textFormat: Text.PlainText
                    color: root.soft
                    font.family: panel.bodyFamily
                    font.pixelSize: 14
                    wrapMode: Text.Wrap
                    maximumLineCount: 2
                    elide: Text.ElideRight
                }
            }

            Column {
                visible: card.state === "collapsed"
                width: parent.width
                spacing: 6

                Text {
                    objectName: "reportPreview"
                    Accessible.name: text
                    width: parent.width
                    text: card.preview
                    textFormat: Text.PlainText
                    color: root.ink
                    font.family: panel.bodyFamily
                    font.pixelSize: 14
                    wrapMode: Text.Wrap
                    maximumLineCount: 3
                    elide: Text.ElideRight
                }
                Text {
                    objectName: "reportReadMore"
                    Accessible.name: text
                    text: "Click to read more"
                    color: root.berry
                    font.family: panel.monoFamily
                    font.pixelSize: 11
                }
            }

            Text {
                objectName: "reportError"
                Accessible.role: Accessible.Notification
                Accessible.name: text
                visible: card.state === "error"
                width: parent.width
                text: card.errorText
                textFormat: Text.PlainText
                color: root.ink
                font.family: panel.bodyFamily
                font.pixelSize: 14
                wrapMode: Text.Wrap
            }

            Flickable {
                id: scroller
                objectName: "reportScroll"
                visible: root.expanded
                width: parent.width
                height: Math.max(0, content.height - header.height - content.spacing)
                contentWidth: width
                contentHeight: full.height
                clip: true
                boundsBehavior: Flickable.StopAtBounds
                // Shown for as long as there is more to read.
                ScrollBar.vertical: ScrollBar {
                    policy: scroller.contentHeight > scroller.height ? ScrollBar.AlwaysOn : ScrollBar.AsNeeded
                    Accessible.name: card.heading
                }

                Column {
                    id: full
                    width: scroller.width - 6
                    spacing: 12

                    Repeater {
                        model: card.paragraphs
                        Text {
                            objectName: "reportParagraph" + index
                            Accessible.name: text
                            width: full.width
                            text: modelData
                            textFormat: Text.PlainText
                            color: root.ink
                            font.family: panel.bodyFamily
                            font.pixelSize: 15
                            wrapMode: Text.Wrap
                        }
                    }

                    Text {
                        objectName: "reportSourcesHeading"
                        Accessible.role: Accessible.Heading; Accessible.name: text
                        visible: card.sources.length > 0
                        topPadding: 4
                        text: "SOURCES"
                        color: root.soft
                        font.family: panel.monoFamily
                        font.pixelSize: 11
                    }

                    Repeater {
                        model: card.sources
                        Text {
                            objectName: "reportSource" + index
                            Accessible.name: text
                            width: full.width
                            text: modelData.title
                            textFormat: Text.PlainText
                            // Only web pages are links; anything else is shown as plain text.
                            color: modelData.opens ? root.berry : root.ink
                            font.family: panel.bodyFamily
                            font.pixelSize: 13
                            elide: Text.ElideRight
                            maximumLineCount: 1
                            MouseArea {
                                anchors.fill: parent
                                enabled: modelData.opens
                                cursorShape: Qt.PointingHandCursor
                                onClicked: panel.openSource(index)
                            }
                        }
                    }
                }
            }
        }
    }
}
