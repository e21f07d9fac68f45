import QtQuick
import QtQuick.Controls.Basic as Basic
import Tovrick.Focus 1.0
import Tovrick.Ui 1.0

// The Focus page: the start section, or the live session's clock and controls, then the message
// and, while screen access must be fixed, its three buttons.
Column {
    id: page
    property int logoLength: 100
    spacing: 16

    // Header.
    Column {
        width: parent.width
        topPadding: 12
        spacing: 16
        FocusLogo {
            objectName: "macFocusLogo"
            width: page.logoLength
            height: page.logoLength
            anchors.horizontalCenter: parent.horizontalCenter
        }
        Text {
            objectName: "macFocusTitle"
            Accessible.role: Accessible.Heading; Accessible.name: text
            width: parent.width
            text: focusView.title
            horizontalAlignment: Text.AlignHCenter
            font.pixelSize: 27
            font.bold: true
            color: FocusColor.text
        }
    }

    // Start section.
    Column {
        id: startSection
        objectName: "macFocusStartSection"
        visible: !focusView.hasActiveSession
        // "Start focus" is off while the screen check runs; a session that starts takes the
        // keyboard to "Pause session".
        FocusKeeper.target: pauseButton
        FocusKeeper.waiting: focusView.checking
        width: parent.width
        spacing: 16

        // Two to three lines tall; a longer task scrolls inside, keeping the cursor in view, and
        // never runs over the chips below.
        NamedScrollView {
            id: taskScroll
            barName: "Focus task"
            objectName: "macFocusTaskScroll"
            width: parent.width
            readonly property real lineHeight: fontMetrics.lineSpacing
            height: Math.max(2 * lineHeight, Math.min(3 * lineHeight, taskField.contentHeight))
                    + taskField.topPadding + taskField.bottomPadding
            clip: true
            contentWidth: availableWidth

            Basic.TextArea {
                id: taskField
                objectName: "macFocusTask"
                padding: 18
                placeholderText: "What do you want to work on?"
                placeholderTextColor: FocusColor.secondaryText
                text: focusView.task
                onTextChanged: if (focusView.task !== text) focusView.task = text
                wrapMode: TextEdit.Wrap
                font.pixelSize: 16
                color: FocusColor.text
                selectionColor: FocusColor.accent
                Accessible.name: "Focus task"
                // Inside its edge: the scroll view around it clips what lies outside.
                background: Rectangle {
                    radius: 16
                    color: FocusColor.card
                    border.width: taskField.activeFocus ? 2 : 0
                    border.color: FocusColor.accent
                }
                onActiveFocusChanged: focusView.editingTask = activeFocus
                // A one-line purpose: Tab leaves the field rather than typing a tab.
                Keys.onTabPressed: (event) => {
                    event.accepted = true
                    taskField.nextItemInFocusChain(true).forceActiveFocus(Qt.TabFocusReason)
                }
                Keys.onBacktabPressed: (event) => {
                    event.accepted = true
                    taskField.nextItemInFocusChain(false).forceActiveFocus(Qt.BacktabFocusReason)
                }
                FontMetrics { id: fontMetrics; font: taskField.font }
                Connections {
                    target: focusView
                    function onEditingTaskChanged() {
                        if (!focusView.editingTask && taskField.activeFocus)
                            taskField.focus = false
                    }
                }
            }
        }

        Row {
            id: chips
            width: parent.width
            spacing: 8
            Repeater {
                model: focusView.durationChoices
                FocusDurationStyle {
                    objectName: "macFocusDuration" + modelData
                    width: (chips.width - 3 * chips.spacing) / 4
                    text: modelData + " min"
                    selected: focusView.minutes === modelData
                    onClicked: focusView.chooseMinutes(modelData)
                }
            }
        }

        Column {
            id: custom
            objectName: "macFocusCustom"
            property bool expanded: false
            width: parent.width
            DisclosureHeader {
                id: customHeader
                objectName: "macFocusCustomDuration"
                width: parent.width
                height: 18
                title: "Custom duration"
                expanded: custom.expanded
                Accessible.name: title
                onActivated: custom.expanded = !custom.expanded
                Row {
                    spacing: 6
                    anchors.verticalCenter: parent.verticalCenter
                    Text {
                        text: "\u203A"
                        rotation: custom.expanded ? 90 : 0
                        font.pixelSize: 14
                        font.bold: true
                        color: FocusColor.secondaryText
                    }
                    Text {
                        text: "Custom duration"
                        font.pixelSize: 12
                        color: FocusColor.secondaryText
                    }
                }
                MouseArea {
                    anchors.fill: parent
                    onClicked: customHeader.activate()
                }
                FocusMark {
                    shown: customHeader.visualFocus
                    controlRadius: 6
                }
            }
            Item {
                visible: custom.expanded
                width: 1
                height: 10
            }
            Row {
                visible: custom.expanded
                spacing: 10
                Text {
                    objectName: "macFocusMinutes"
                    Accessible.name: text
                    text: focusView.minutes + " minutes"
                    font.pixelSize: 12
                    color: FocusColor.secondaryText
                    anchors.verticalCenter: parent.verticalCenter
                    width: 90
                }
                FocusActionStyle {
                    objectName: "macFocusMinutesDown"
                    secondary: true
                    text: "\u2212"
                    Accessible.name: "Decrease custom duration"
                    topPadding: 4; bottomPadding: 4; leftPadding: 12; rightPadding: 12
                    available: focusView.minutes > 1
                    onClicked: focusView.minutes = focusView.minutes - 1
                }
                FocusActionStyle {
                    objectName: "macFocusMinutesUp"
                    secondary: true
                    text: "+"
                    Accessible.name: "Increase custom duration"
                    topPadding: 4; bottomPadding: 4; leftPadding: 12; rightPadding: 12
                    available: focusView.minutes < 240
                    onClicked: focusView.minutes = focusView.minutes + 1
                }
            }
        }

        FocusActionStyle {
            objectName: "macStartFocus"
            width: parent.width
            fillsWidth: true
            text: focusView.startLabel
            iconName: "play.fill"
            available: focusView.canStart
            onClicked: focusView.startFocus()
        }

        Text {
            width: parent.width
            text: "Screen checks run during your session. Pause anytime."
            Accessible.name: text
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: 11
            color: FocusColor.secondaryText
        }
    }

    // Live-session section.
    Column {
        id: liveSection
        objectName: "macFocusLiveSection"
        visible: focusView.hasActiveSession
        // "Resume session" is off while the screen check runs; an ended session takes the
        // keyboard back to the task.
        FocusKeeper.target: taskField
        FocusKeeper.waiting: focusView.checking
        width: parent.width
        spacing: 16

        TextEdit {
            objectName: "macFocusSessionTask"
            Accessible.role: Accessible.StaticText; Accessible.name: text
            width: parent.width
            text: focusView.sessionTask
            readOnly: true
            selectByMouse: true
            wrapMode: TextEdit.Wrap
            horizontalAlignment: TextEdit.AlignHCenter
            font.pixelSize: 20
            font.bold: true
            color: FocusColor.text
            selectionColor: FocusColor.accent
        }

        Item {
            width: parent.width
            height: clock.implicitHeight
            Row {
                anchors.horizontalCenter: parent.horizontalCenter
                spacing: 8
                Text {
                    id: clock
                    objectName: "macFocusClock"
                    text: focusView.clockText
                    font: focusView.clockFont
                    color: FocusColor.accent
                    Accessible.name: "Time remaining: " + text
                }
                Text {
                    objectName: "macFocusClockLabel"
                    Accessible.name: text
                    text: focusView.clockLabel
                    font.pixelSize: 13
                    color: FocusColor.secondaryText
                    anchors.baseline: clock.baseline
                }
            }
        }

        Item {
            objectName: "macFocusProgress"
            width: parent.width
            height: 6
            Accessible.role: Accessible.ProgressBar
            Accessible.name: "Session progress"
            Accessible.description: focusView.progressText
            Rectangle { anchors.fill: parent; radius: 3; color: FocusColor.card }
            Rectangle {
                width: parent.width * focusView.progress
                height: parent.height
                radius: 3
                color: FocusColor.accent
                visible: width > 0
            }
        }

        Text {
            objectName: "macFocusDetail"
            Accessible.name: text
            width: parent.width
            text: focusView.detail
            textFormat: Text.PlainText
            visible: text !== ""
            horizontalAlignment: Text.AlignHCenter
            wrapMode: Text.Wrap
            font.pixelSize: 12
            color: FocusColor.secondaryText
        }

        Row {
            id: buttons
            width: parent.width
            spacing: 10
            FocusActionStyle {
                id: pauseButton
                objectName: "macFocusPauseResume"
                width: buttons.width - endButton.width - buttons.spacing
                text: focusView.sessionRunning ? "Pause session" : "Resume session"
                iconName: focusView.sessionRunning ? "pause.fill" : "play.fill"
                available: !focusView.checking
                onClicked: focusView.pauseOrResume()
            }
            FocusActionStyle {
                id: endButton
                objectName: "macFocusEnd"
                secondary: true
                text: "End session"
                FocusKeeper.avoided: true
                iconName: "stop.fill"
                onClicked: focusView.endSession()
            }
        }

        Row {
            objectName: "macFocusDeveloperBadge"
            visible: focusView.developerBadge
            spacing: 6
            anchors.horizontalCenter: parent.horizontalCenter
            FocusIcon {
                name: "hammer"
                color: FocusColor.secondaryText
                width: 11
                height: 11
                anchors.verticalCenter: parent.verticalCenter
            }
            Text {
                text: "Developer test \u00B7 timer runs at 4\u00D7 speed"
                Accessible.name: text
                font.pixelSize: 11
                color: FocusColor.secondaryText
            }
        }
    }

    FeedbackBanner {
        visible: focusView.message !== ""
        width: parent.width
        message: focusView.message
    }

    Row {
        objectName: "macFocusScreenAccess"
        visible: focusView.needsSettings
        FocusKeeper.waiting: focusView.checking
        spacing: 8
        anchors.horizontalCenter: parent.horizontalCenter
        FocusActionStyle {
            objectName: "macFocusOpenSettings"
            secondary: true
            text: "Open Settings"
            onClicked: focusView.openSettings()
        }
        FocusActionStyle {
            objectName: "macFocusRecheck"
            secondary: true
            text: "Recheck"
            available: !focusView.checking
            onClicked: focusView.recheck()
        }
        FocusActionStyle {
            objectName: "macFocusReopen"
            secondary: true
            text: "Reopen Tovrick"
            onClicked: focusView.reopen()
        }
    }
}
