import QtQuick
import QtQuick.Controls.Basic
import Tovrick.Art 1.0

// The frame around the pages: header (back, progress, small portrait), the scrolling page and the
// continue bar, which page 19 does without (its hold moves on by itself).
Rectangle {
    id: root
    readonly property color blue: "#4285FF"
    readonly property int page: onboarding.page
    readonly property bool tight: [5, 6, 7, 8, 9, 10, 11].indexOf(page) >= 0
    color: "#1C1C1E"
    implicitWidth: 390
    implicitHeight: 844

    onPageChanged: scroll.contentY = 0

    Item {
        id: header
        objectName: "onboardingHeader"
        x: 24
        y: 8
        width: root.width - 48
        height: 44

        PressButton {
            id: back
            objectName: "onboardingBack"
            width: 44
            height: 44
            enabled: root.page !== 0
            opacity: root.page === 0 ? 0 : (down ? 0.8 : 1.0)
            Accessible.name: "Previous slide"
            onClicked: onboarding.go(-1)
            background: Rectangle { radius: 22; color: Qt.rgba(1, 1, 1, 0.08) }
            contentItem: Canvas {
                onPaint: {
                    const ctx = getContext("2d")
                    ctx.reset()
                    ctx.strokeStyle = "white"
                    ctx.lineWidth = 2.5
                    ctx.lineCap = "round"
                    ctx.lineJoin = "round"
                    ctx.beginPath()
                    ctx.moveTo(width / 2 + 3, height / 2 - 8)
                    ctx.lineTo(width / 2 - 4, height / 2)
                    ctx.lineTo(width / 2 + 3, height / 2 + 8)
                    ctx.stroke()
                }
            }
        }
        Bar {
            objectName: "onboardingProgress"
            visible: root.page !== 0
            x: 44 + 16
            width: header.width - 44 - 16 - 36 - 16
            anchors.verticalCenter: parent.verticalCenter
            value: (root.page + 1) / onboarding.total
        }
        BlobPortrait {
            objectName: "headerPortrait"
            visible: root.page !== 0
            anchors.right: parent.right
            anchors.verticalCenter: parent.verticalCenter
            width: 36
            height: 36
            showLimbs: true
        }
    }

    Flickable {
        id: scroll
        objectName: "onboardingScroll"
        y: header.y + header.height + 16
        width: root.width
        height: (bar.visible ? bar.y : root.height) - y
        clip: true
        contentWidth: width
        contentHeight: content.height
        boundsBehavior: Flickable.StopAtBounds
        ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

        Column {
            id: content
            width: Math.min(520, scroll.width - 48)
            x: (scroll.width - width) / 2
            bottomPadding: root.tight ? 8 : 24
            Item { objectName: "top"; width: 1; height: 0 }
            Pages { width: content.width }
        }
    }

    Column {
        id: bar
        objectName: "onboardingBar"
        visible: root.page !== 19
        width: Math.min(520, root.width - 48)
        x: (root.width - width) / 2
        y: root.height - height
        spacing: 10
        topPadding: 12
        bottomPadding: 16

        PressButton {
            objectName: "onboardingContinue"
            width: parent.width
            height: 56
            enabled: onboarding.canContinue
            Accessible.name: text
            text: qsTr(onboarding.continueTitle)
            onClicked: onboarding.continueAction()
            background: Rectangle {
                radius: 20
                color: onboarding.canContinue ? root.blue : Qt.rgba(1, 1, 1, 0.12)
            }
            contentItem: Text {
                text: parent.text
                color: "white"
                font.pixelSize: 18
                font.bold: true
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
        }
        PressButton {
            objectName: "onboardingLogin"
            visible: root.page === 0 && onboarding.loginAvailable
            anchors.horizontalCenter: parent.horizontalCenter
            height: 44
            text: qsTr("Already have an account?")
            Accessible.name: text
            onClicked: onboarding.requestLogin()
            contentItem: Text {
                text: parent.text
                color: Qt.rgba(1, 1, 1, 0.75)
                font.pixelSize: 14
                font.weight: Font.DemiBold
                horizontalAlignment: Text.AlignHCenter
                verticalAlignment: Text.AlignVCenter
            }
        }
        Text {
            objectName: "onboardingPaywallCaption"
            visible: root.page === onboarding.total - 1
            anchors.horizontalCenter: parent.horizontalCenter
            text: qsTr("Preview paywall · no purchase required")
            color: Qt.rgba(1, 1, 1, 0.6)
            font.pixelSize: 12
        }
    }
}
