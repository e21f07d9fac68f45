import QtQuick
import Tovrick.Focus 1.0
import Tovrick.Phone 1.0
import "qrc:/tovrick/focus/window"

// The add-this-computer window. Signed out: the code the signed-in phone scans to add this computer,
// with its text and expiry. Signed in: the code that lets the phone reach this computer's link.
// State and actions are `pairing` (a PairingView).
Rectangle {
    id: root
    objectName: "pairingWindow"
    color: FocusColor.background
    implicitWidth: 440
    implicitHeight: 640

    // Escape closes it, wherever the keyboard is in it.
    Shortcut {
        sequences: [StandardKey.Cancel]
        onActivated: root.Window.window.close()
    }

    NamedScrollView {
        id: scroll
        barName: pairing.signedIn ? "Connect your iPhone" : "Add this computer"
        anchors.fill: parent
        contentWidth: width

        Item {
            width: scroll.width
            implicitHeight: stack.implicitHeight + 48

            Column {
                id: stack
                width: Math.min(parent.width - 48, 380)
                x: (parent.width - width) / 2
                y: Math.max(24, (scroll.height - implicitHeight) / 2)
                spacing: 18

                Text {
                    objectName: "pairingTitle"
                    Accessible.role: Accessible.Heading; Accessible.name: text
                    width: parent.width
                    text: pairing.signedIn ? "Connect your iPhone" : "Add this computer"
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: 24
                    font.bold: true
                    color: FocusColor.text
                }
                Text {
                    objectName: "pairingExplanation"
                    Accessible.name: text
                    width: parent.width
                    text: pairing.signedIn
                          ? "Scan this code with Tovrick on your iPhone so it can reach this computer on your local network. It holds the link\u2019s key: show it only to your own phone."
                          : "On your iPhone, open Tovrick while signed in and scan this code to add this computer to your account."
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    font.pixelSize: 13
                    color: FocusColor.secondaryText
                }

                // The code being shown, or its place while there is none.
                Rectangle {
                    id: codeCard
                    width: 264
                    height: 264
                    radius: 14
                    anchors.horizontalCenter: parent.horizontalCenter
                    color: qr.text !== "" ? "white" : FocusColor.card
                    border.width: 1
                    border.color: FocusColor.divider
                    QrCode {
                        id: qr
                        objectName: pairing.signedIn ? "pairingLinkCode" : "pairingAccountCode"
                        x: 12
                        y: 12
                        width: 240
                        height: 240
                        text: pairing.signedIn ? pairing.linkCode : pairing.accountCode
                    }
                    FocusSpinner {
                        width: 24
                        height: 24
                        anchors.centerIn: parent
                        running: pairing.starting
                        visible: running
                    }
                    Text {
                        objectName: "pairingHidden"
                        Accessible.name: text
                        visible: pairing.signedIn && pairing.linkCode === "" && pairing.linkProblem === ""
                        width: parent.width - 40
                        anchors.centerIn: parent
                        text: "The code is hidden to keep the link\u2019s key private."
                        horizontalAlignment: Text.AlignHCenter
                        wrapMode: Text.Wrap
                        font.pixelSize: 13
                        color: FocusColor.secondaryText
                    }
                }

                Column {
                    visible: !pairing.signedIn && pairing.code !== ""
                    width: parent.width
                    spacing: 6
                    Text {
                        objectName: "pairingCode"
                        Accessible.name: text
                        width: parent.width
                        text: pairing.code
                        textFormat: Text.PlainText
                        horizontalAlignment: Text.AlignHCenter
                        font.pixelSize: 22
                        font.family: "monospace"
                        font.bold: true
                        color: FocusColor.text
                    }
                    Text {
                        objectName: "pairingExpiry"
                        Accessible.name: text
                        width: parent.width
                        text: pairing.expiry
                        horizontalAlignment: Text.AlignHCenter
                        font.pixelSize: 12
                        color: FocusColor.secondaryText
                    }
                    Text {
                        objectName: "pairingWaiting"
                        Accessible.name: text
                        width: parent.width
                        text: "Waiting for your iPhone\u2026"
                        horizontalAlignment: Text.AlignHCenter
                        font.pixelSize: 12
                        color: FocusColor.secondaryText
                    }
                }

                FeedbackBanner {
                    objectName: "pairingMessage"
                    visible: message !== ""
                    width: parent.width
                    message: pairing.signedIn ? pairing.linkProblem : pairing.message
                }

                FocusActionStyle {
                    objectName: "pairingRetry"
                    visible: pairing.canRetry
                    width: parent.width
                    fillsWidth: true
                    secondary: true
                    text: "Get a new code"
                    onClicked: pairing.retry()
                }
                FocusActionStyle {
                    objectName: "pairingShowLinkCode"
                    visible: pairing.signedIn && pairing.linkCode === "" && pairing.linkProblem === ""
                    width: parent.width
                    fillsWidth: true
                    secondary: true
                    iconName: "qrcode"
                    text: "Show the code again"
                    onClicked: pairing.showLinkCode()
                }
            }
        }
    }
}
