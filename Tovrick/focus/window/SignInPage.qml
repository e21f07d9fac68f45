import QtQuick
import Tovrick.Focus 1.0
import Tovrick.Ui 1.0

// Shown alone while nobody is signed in: the logo, the name and tagline, the sign-in view and the
// way to add this computer from the phone. Centred when it fits, scrolling when it does not.
NamedScrollView {
    id: page
    barName: "tovrick"
    contentWidth: width
    readonly property Item firstControl: signInBlock.firstControl
    // "Pair with iPhone instead" is off while a sign-in runs, too.
    FocusKeeper.waiting: focusView.signInView.busy

    Item {
        width: page.width
        implicitHeight: stack.implicitHeight + 40

        Column {
            id: stack
            width: parent.width - 40
            x: (parent.width - width) / 2
            // Centred in the view while it fits; from the top, scrolling, when it does not.
            y: Math.max(20, (page.height - implicitHeight) / 2)
            spacing: 32

            FocusLogo {
                objectName: "macSignInLogo"
                width: 152
                height: 152
                anchors.horizontalCenter: parent.horizontalCenter
            }
            Column {
                width: parent.width
                spacing: 10
                Text {
                    objectName: "macSignInTitle"
                    Accessible.role: Accessible.Heading; Accessible.name: text
                    width: parent.width
                    text: "tovrick"
                    horizontalAlignment: Text.AlignHCenter
                    font.pixelSize: 34
                    font.bold: true
                    color: FocusColor.text
                }
                Text {
                    objectName: "macSignInTagline"
                    Accessible.name: text
                    width: parent.width
                    text: "A little help staying focused."
                    horizontalAlignment: Text.AlignHCenter
                    wrapMode: Text.Wrap
                    font.pixelSize: 14
                    color: FocusColor.secondaryText
                }
            }
            SignInBlock {
                id: signInBlock
                width: parent.width
                signIn: focusView.signInView
            }
            FocusButtonStyle {
                id: pairButton
                objectName: "macPairInstead"
                text: "Pair with iPhone instead"
                available: focusView.signInView.pairEnabled
                anchors.horizontalCenter: parent.horizontalCenter
                flat: true
                opacity: available ? 1.0 : 0.45
                Accessible.name: text
                contentItem: Text {
                    text: pairButton.text
                    font.pixelSize: 12
                    color: FocusColor.secondaryText
                    opacity: pairButton.down ? 0.7 : 1.0
                }
                background: Item {}
                onClicked: focusView.signInView.requestPair()
            }
        }
    }
}
