import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Focus 1.0
import Tovrick.Ui 1.0

// The Account page: who is signed in, pairing the phone, the developer options, the banners, how
// screen checks work and deleting the account, in that order. State and actions are `account`
// (an AccountPageView).
Column {
    id: page
    readonly property var account: focusView.accountPage
    // Asks the deletion question, which gives the focus back to it.
    readonly property Item deleteButton: deleteButton
    spacing: 24
    // Signing out and deleting are off while the account works.
    FocusKeeper.waiting: page.account.busy

    // Account card, or the sign-in view while nobody is signed in.
    Rectangle {
        objectName: "macAccountCard"
        visible: page.account.signedIn
        width: parent.width
        implicitHeight: cardRow.implicitHeight + 48
        radius: 14
        color: FocusColor.tabBar
        border.width: 1
        border.color: FocusColor.divider

        Row {
            id: cardRow
            x: 24
            y: 24
            width: parent.width - 48
            spacing: 16
            FocusIcon {
                id: personIcon
                name: "person.crop.square.fill"
                color: FocusColor.accent
                width: 48
                height: 48
                anchors.verticalCenter: parent.verticalCenter
            }
            Column {
                width: cardRow.width - personIcon.width - signOut.width - 2 * cardRow.spacing
                spacing: 5
                anchors.verticalCenter: parent.verticalCenter
                Text {
                    objectName: "macAccountName"
                    Accessible.name: text
                    width: parent.width
                    text: page.account.displayName
                    textFormat: Text.PlainText
                    elide: Text.ElideRight
                    font.pixelSize: 24
                    font.bold: true
                    color: FocusColor.text
                }
                Text {
                    objectName: "macAccountMethod"
                    Accessible.name: text
                    text: page.account.signedInWith
                    font.pixelSize: 12
                    color: FocusColor.secondaryText
                }
                TextEdit {
                    objectName: "macAccountEmail"
                    Accessible.role: Accessible.StaticText; Accessible.name: text
                    visible: page.account.email !== ""
                    text: page.account.email
                    readOnly: true
                    selectByMouse: true
                    font.pixelSize: 12
                    color: FocusColor.secondaryText
                    selectionColor: FocusColor.accent
                }
            }
            FocusActionStyle {
                id: signOut
                objectName: "macAccountSignOut"
                secondary: true
                iconName: "door.left.hand.open"
                iconSize: 21
                width: 44
                height: 44
                padding: 0
                Accessible.name: "Sign out"
                Basic.ToolTip.visible: hovered
                Basic.ToolTip.text: "Sign out"
                Basic.ToolTip.delay: 600
                available: !page.account.busy
                FocusKeeper.avoided: true
                anchors.verticalCenter: parent.verticalCenter
                onClicked: page.account.signOut()
            }
        }
    }
    Rectangle {
        objectName: "macAccountSignInCard"
        visible: !page.account.signedIn
        width: parent.width
        implicitHeight: signInBlock.implicitHeight + 16
        radius: 14
        color: FocusColor.tabBar
        border.width: 1
        border.color: FocusColor.divider
        Loader {
            id: signInBlock
            x: 8
            y: 8
            width: parent.width - 16
            active: !page.account.signedIn
            sourceComponent: SignInBlock {
                width: signInBlock.width
                signIn: focusView.signInView
            }
        }
    }

    FocusActionStyle {
        objectName: "macAccountPair"
        width: parent.width
        fillsWidth: true
        secondary: true
        iconName: "qrcode"
        text: "Pair iPhone"
        onClicked: page.account.pair()
    }

    DisclosureCard {
        objectName: "macAccountDeveloper"
        width: parent.width
        title: "Developer options"
        Basic.Switch {
            id: developerSwitch
            objectName: "macAccountDeveloperMode"
            text: "Developer Mode"
            checked: page.account.developerMode
            // The engine decides: after asking, the switch shows its value again. Qt's own Toggle
            // and Press would only flip the drawing.
            onToggled: {
                page.account.setDeveloperMode(checked)
                checked = Qt.binding(function() { return page.account.developerMode })
            }
            Accessible.onToggleAction: if (enabled) page.account.setDeveloperMode(!page.account.developerMode)
            Accessible.onPressAction: if (enabled) page.account.setDeveloperMode(!page.account.developerMode)
            readonly property bool reportsDisabled: true
            font.pixelSize: 13
            FocusMark {
                shown: developerSwitch.visualFocus
                controlRadius: 10
            }
            indicator: Rectangle {
                implicitWidth: 36
                implicitHeight: 20
                x: developerSwitch.leftPadding
                y: (developerSwitch.height - height) / 2
                radius: 10
                color: developerSwitch.checked ? FocusColor.accent : FocusColor.divider
                Rectangle {
                    width: 16
                    height: 16
                    radius: 8
                    y: 2
                    x: developerSwitch.checked ? parent.width - width - 2 : 2
                    color: "white"
                }
            }
            contentItem: Text {
                leftPadding: developerSwitch.indicator.width + developerSwitch.spacing
                text: developerSwitch.text
                font: developerSwitch.font
                color: FocusColor.text
                verticalAlignment: Text.AlignVCenter
            }
        }
        Text {
            objectName: "macAccountDeveloperNote"
            Accessible.name: text
            width: parent.width
            text: "4\u00d7 timer speed \u00b7 screen checks every 10 seconds"
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: FocusColor.secondaryText
        }
        FocusActionStyle {
            objectName: "macAccountTestReminder"
            visible: page.account.developerMode
            secondary: true
            text: "Test reminder"
            onClicked: page.account.sendTestNudge()
        }
    }

    Repeater {
        model: page.account.banners
        FeedbackBanner {
            width: page.width
            message: modelData
        }
    }

    DisclosureCard {
        objectName: "macAccountScreenChecks"
        width: parent.width
        title: "How screen checks work"
        iconName: "eye"
        titleWeight: Font.Medium
        Text {
            objectName: "macAccountCheckInterval"
            Accessible.name: text
            width: parent.width
            text: page.account.checkExplanation
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: FocusColor.secondaryText
        }
        Text {
            width: parent.width
            text: "Pause or end your session to stop sharing. Locking or sleeping your computer also pauses monitoring. Resume when you\u2019re ready."
            Accessible.name: text
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: FocusColor.secondaryText
        }
    }

    DisclosureCard {
        objectName: "macAccountDeletion"
        visible: page.account.offersDeletion
        width: parent.width
        title: "Account deletion"
        iconName: "trash"
        titleWeight: Font.Medium
        Text {
            width: parent.width
            text: "Permanently remove your Tovrick account and unlink its devices."
            Accessible.name: text
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: FocusColor.secondaryText
        }
        FocusButtonStyle {
            id: deleteButton
            objectName: "macAccountDelete"
            text: "Delete Tovrick account\u2026"
            available: !page.account.busy
            FocusKeeper.avoided: true
            opacity: available ? 1.0 : 0.45
            Accessible.name: text
            focusRadius: 7
            padding: 8
            leftPadding: 14
            rightPadding: 14
            contentItem: Text {
                text: deleteButton.text
                font.pixelSize: 13
                color: Qt.rgba(1, 0.33, 0.3, 1)
            }
            background: Rectangle {
                radius: 7
                color: deleteButton.down ? FocusColor.divider : FocusColor.card
            }
            onClicked: page.account.requestDeletion()
        }
    }
}
