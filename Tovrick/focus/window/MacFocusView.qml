import QtQuick
import Tovrick.Focus 1.0

// The focus and account window: signed in, the chosen page above the tab bar; signed out, only the
// sign-in page. State and rules are in `focusView`.
Rectangle {
    id: root
    objectName: "macFocusView"
    color: FocusColor.background
    implicitWidth: 640
    implicitHeight: 800

    // Made only while signed out, so that no hidden copy of its banners lingers behind the pages.
    Loader {
        objectName: "macFocusSignIn"
        active: !focusView.signedIn
        visible: active
        anchors.fill: parent
        sourceComponent: SignInPage {}
    }

    Item {
        id: signedInContent
        visible: focusView.signedIn
        // What a dialog or sheet covers does not act, however it is reached.
        enabled: !focusView.confirmDelete && !soundsView.deleteDialogShown && !soundsView.recording
        anchors.fill: parent

        Item {
            id: pageArea
            objectName: "macFocusPageArea"
            anchors { top: parent.top; left: parent.left; right: parent.right; bottom: tabBar.top }
            clip: true

            Item {
                visible: focusView.page === 0
                anchors.fill: parent
                FocusPageView {
                    objectName: "macFocusPage"
                    x: 20
                    y: 16
                    width: parent.width - 40
                    logoLength: focusView.headerLengthFor(pageArea.height, focusView.hasActiveSession)
                }
            }

            NamedScrollView {
                objectName: "macFocusPageScroll"
                visible: focusView.page !== 0 && focusView.page !== 3
                barName: focusView.pageTitle
                anchors.fill: parent
                contentWidth: availableWidth
                Item {
                    implicitHeight: pageBody.implicitHeight + 40
                    Column {
                        id: pageBody
                        x: 20
                        y: 20
                        width: pageArea.width - 40
                        spacing: 24
                        PlainPage {
                            width: parent.width
                            title: focusView.pageTitle
                        }
                        HistoryPage {
                            objectName: "macFocusHistoryPage"
                            visible: focusView.page === 1
                            width: parent.width
                        }
                        VisionImagesPage {
                            objectName: "macFocusVisionPage"
                            visible: focusView.page === 2
                            width: parent.width
                        }
                        AccountPage {
                            id: accountPage
                            visible: focusView.page === 4
                            width: parent.width
                        }
                    }
                }
            }

            // Sounds: made while it is shown, so that leaving the page silences its clips.
            NamedScrollView {
                objectName: "macFocusSoundsArea"
                barName: focusView.pageTitle
                visible: focusView.page === 3
                anchors.fill: parent
                contentWidth: availableWidth
                Item {
                    implicitHeight: soundsBody.implicitHeight + 40
                    Column {
                        id: soundsBody
                        x: 20
                        y: 20
                        width: pageArea.width - 40
                        spacing: 24
                        PlainPage {
                            width: parent.width
                            title: focusView.pageTitle
                        }
                        Loader {
                            width: parent.width
                            active: focusView.page === 3
                            source: "qrc:/tovrick/motivation/qml/MotivationSoundsPage.qml"
                        }
                    }
                }
            }
        }

        Rectangle {
            id: tabBar
            objectName: "macFocusTabBar"
            anchors { left: parent.left; right: parent.right; bottom: parent.bottom }
            height: tabs.implicitHeight + 20
            color: FocusColor.tabBar
            Rectangle {
                width: parent.width
                height: 1
                color: FocusColor.divider
            }
            Row {
                id: tabs
                x: 10
                y: 10
                width: parent.width - 20
                spacing: 8
                Repeater {
                    id: tabButtons
                    model: focusView.pages
                    FocusTabStyle {
                        objectName: modelData.identifier
                        width: (tabs.width - 4 * tabs.spacing) / 5
                        text: modelData.title
                        iconName: modelData.icon
                        selected: focusView.page === index
                        onClicked: focusView.selectPage(index)
                    }
                }
            }
        }
    }

    // A page that goes takes the control the keyboard was on with it: the focus goes to the tab
    // that shows the new page, where a key's press on that tab leaves it. A screen reader's Press on
    // a tab, or a switch made elsewhere, would leave it on the hidden page.
    Connections {
        target: focusView
        function onPageChanged() {
            let inPage = false
            for (let item = root.Window.activeFocusItem; item && !inPage; item = item.parent)
                inPage = item === pageArea
            const tab = tabButtons.itemAt(focusView.page)
            if (inPage && tab && tab.visible && tab.enabled)
                tab.forceActiveFocus(Qt.TabFocusReason)
        }
    }

    DeleteConfirmation {
        visible: focusView.confirmDelete
        opener: accountPage.deleteButton
        anchors.fill: parent
    }
}
