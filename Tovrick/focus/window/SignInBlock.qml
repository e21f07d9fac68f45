import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Focus 1.0
import Tovrick.Ui 1.0

// The account sign-in view: the two web sign-ins, the progress while the account works, and the
// account's banners. `signIn` is a TovrickSignInView.
Column {
    id: block
    property var signIn
    readonly property Item firstControl: googleButton
    spacing: 16
    // The sign-ins are off while one runs: the keyboard waits for it where it was.
    FocusKeeper.waiting: block.signIn.busy

    FocusActionStyle {
        id: googleButton
        objectName: "macGoogleSignIn"
        width: parent.width
        fillsWidth: true
        secondary: false
        iconName: "globe"
        text: "Continue with Google"
        available: block.signIn.signInEnabled
        onClicked: focusView.signInWithGoogle()
    }
    FocusActionStyle {
        objectName: "macAppleSignIn"
        width: parent.width
        fillsWidth: true
        secondary: true
        iconName: "apple.logo"
        text: "Continue with Apple"
        available: block.signIn.signInEnabled
        onClicked: focusView.signInWithApple()
    }
    Row {
        objectName: "macSignInProgress"
        visible: block.signIn.busy
        Accessible.role: Accessible.StaticText
        Accessible.name: "Signing in\u2026"
        spacing: 8
        anchors.horizontalCenter: parent.horizontalCenter
        FocusSpinner {
            running: parent.visible
            anchors.verticalCenter: parent.verticalCenter
        }
        Text {
            objectName: "macSignInProgressText"
            text: "Signing in\u2026"
            font.pixelSize: 12
            color: FocusColor.text
            anchors.verticalCenter: parent.verticalCenter
        }
    }
    Repeater {
        model: block.signIn.banners
        FeedbackBanner {
            width: block.width
            message: modelData
        }
    }
}
