import QtQuick

// The content of the current page. Texts are the flow's own; the rules behind them (answers, figures,
// reveals, the hold) are the model's.
Loader {
    id: pages
    width: parent ? parent.width : 0
    sourceComponent: [page0, page1, page2, page3, page4, page5, page6, page7, page8, page9, page10,
        page11, page12, page13, page14, page15, page16, page17, page18, page19, page20][onboarding.page]

    Component {
        id: page0
        HeroPage {
            objectName: "onboardingPage0"
            caption: "YOUR FOCUS COMPANION"
            title: "Welcome to Tovrick"
            subtitle: "A little companion. A little more focus. A lot more time for you."
        }
    }
    Component {
        id: page1
        HeroPage {
            objectName: "onboardingPage1"
            title: "Meet your focus buddy."
            subtitle: "Tovrick is here to help you stay with the things you actually want to do."
        }
    }
    Component {
        id: page2
        HeroPage {
            objectName: "onboardingPage2"
            badge: "💭"
            title: "Too many tabs. Too little headspace."
            subtitle: "Every quick check can pull you away from what matters. Let’s make a little room to focus."
        }
    }
    Component {
        id: page3
        Column {
            objectName: "onboardingPage3"
            width: pages.width
            spacing: 20
            PageHeading {
                title: "See the difference."
                subtitle: "Slide from scattered to settled. Small moments of focus add up."
            }
            Portrait {
                size: 190
                portrait.scale: 0.85 + 0.15 * onboarding.progress
                portrait.opacity: 0.5 + 0.5 * onboarding.progress
            }
            Text {
                objectName: "focusPreviewText"
                anchors.horizontalCenter: parent.horizontalCenter
                text: onboarding.progress < 0.5 ? "A little distracted…" : "Back in your flow."
                color: "white"
                font.pixelSize: 20
                font.bold: true
            }
            FlowSlider {
                objectName: "focusPreview"
                from: 0
                to: 1
                value: onboarding.progress
                onMoved: onboarding.progress = value
                Accessible.name: "Focus preview"
            }
            EndLabels { leftText: qsTr("Scattered"); rightText: qsTr("Settled") }
        }
    }
    Component {
        id: page4
        HeroPage {
            objectName: "onboardingPage4"
            badge: "✏️"
            title: "Let’s make this yours."
            subtitle: "A few quick questions will help shape your first focus session."
        }
    }
    Component {
        id: page5
        QuestionPage { objectName: "onboardingPage5"; key: "goals"; title: "What would you like more of?"; multiple: true }
    }
    Component {
        id: page6
        QuestionPage { objectName: "onboardingPage6"; key: "challenges"; title: "What gets in your way?"; multiple: true }
    }
    Component {
        id: page7
        QuestionPage { objectName: "onboardingPage7"; key: "role"; title: "Which sounds most like you?" }
    }
    Component {
        id: page8
        QuestionPage { objectName: "onboardingPage8"; key: "time"; title: "When does your focus drift?" }
    }
    Component {
        id: page9
        QuestionPage { objectName: "onboardingPage9"; key: "history"; title: "Tried changing your habits before?" }
    }
    Component {
        id: page10
        Column {
            objectName: "onboardingPage10"
            width: pages.width
            spacing: 10
            PageHeading {
                title: "Did you know?"
                subtitle: "A few small changes can make space for your attention."
            }
            Portrait { size: 80 }
            InfoCardList {
                compact: true
                reveals: true
                items: ["🔔|A notification can turn a quick glance into a detour.",
                    "📱|Picking up your phone can become an automatic habit.",
                    "🎯|Choosing one clear task gives your focus a place to land.",
                    "🌱|You can start small. One intentional session counts."]
            }
        }
    }
    Component {
        id: page11
        QuestionPage { objectName: "onboardingPage11"; key: "age"; title: "What’s your age range?" }
    }
    Component {
        id: page12
        Column {
            objectName: "onboardingPage12"
            width: pages.width
            spacing: 20
            PageHeading {
                title: "How much time do you spend on your phone?"
                subtitle: "An estimate is enough. No judgment here."
            }
            Portrait { size: 130 }
            Text {
                objectName: "hoursFigure"
                anchors.horizontalCenter: parent.horizontalCenter
                text: onboarding.wholeHours + " " + (onboarding.hours === 1 ? "hour" : "hours")
                color: "#4285FF"
                font.pixelSize: 52
                font.bold: true
            }
            FlowSlider {
                objectName: "phoneHours"
                from: 0
                to: 12
                stepSize: 1
                snapMode: FlowSlider.SnapAlways
                value: onboarding.hours
                onMoved: onboarding.hours = value
                Accessible.name: qsTr("Daily phone time")
            }
            EndLabels { leftText: qsTr("0h"); rightText: qsTr("12h+") }
        }
    }
    Component {
        id: page13
        Column {
            objectName: "onboardingPage13"
            width: pages.width
            spacing: 20
            PageHeading { title: "Your starting point is ready."; subtitle: "Based on the answers you shared." }
            Portrait { size: 150 }
            Repeater {
                model: ["Finding your focus window", "Choosing a small first step", "Putting your plan together"]
                PlanStepCard { title: modelData; index: model.index }
            }
        }
    }
    Component {
        id: page14
        Column {
            objectName: "onboardingPage14"
            width: pages.width
            spacing: 20
            PageHeading {
                title: onboarding.focusTimeHeadline
                subtitle: "Your answers suggest " + onboarding.focusTimePhrase + ". Start with a short session and one clear task."
            }
            Portrait { size: 170 }
            InfoCardList {
                items: ["🎯|Your priority: " + onboarding.priority, "🕒|A good first step: 25 minutes",
                    "💙|Your companion: Tovrick, right beside you"]
            }
        }
    }
    Component {
        id: page15
        Column {
            objectName: "onboardingPage15"
            width: pages.width
            spacing: 20
            PageHeading {
                title: "Little checks. A lot of time."
                subtitle: "At " + onboarding.wholeHours + " hours a day, that’s about " + onboarding.yearDays + " full days on your phone each year."
            }
            Item {
                objectName: "dotGrid"
                width: parent.width
                height: grid.height + 40
                Accessible.role: Accessible.Graphic
                Accessible.name: "Illustration of your estimated annual phone time"
                Accessible.description: onboarding.wholeHours + " hours per day, represented by " + onboarding.blueDotCount + " of 80 dots"
                Grid {
                    id: grid
                    x: 20
                    y: 20
                    width: parent.width - 40
                    columns: 8
                    rowSpacing: 12
                    columnSpacing: 8
                    Repeater {
                        model: 80
                        Item {
                            id: cell
                            readonly property bool blue: onboarding.blueDots > index
                            width: (grid.width - 7 * grid.columnSpacing) / 8
                            height: 16
                            Rectangle {
                                id: dot
                                width: 16
                                height: 16
                                radius: 8
                                anchors.centerIn: parent
                                color: Qt.rgba(1, 1, 1, 0.14)
                                Rectangle {
                                    anchors.fill: parent
                                    radius: 8
                                    color: "#4285FF"
                                    opacity: cell.blue ? 1 : 0
                                    Behavior on opacity { NumberAnimation { duration: onboarding.reduceMotion ? 0 : 420; easing.type: Easing.InOutQuad } }
                                }
                                SequentialAnimation {
                                    id: pop
                                    NumberAnimation { target: dot; property: "scale"; to: 1.25; duration: 140; easing.type: Easing.InOutCubic }
                                    NumberAnimation { target: dot; property: "scale"; to: 1.0; duration: 280; easing.type: Easing.InOutCubic }
                                }
                            }
                            onBlueChanged: if (blue && !onboarding.reduceMotion) pop.restart()
                        }
                    }
                }
            }
            Text {
                width: parent.width
                text: "An illustration based on your estimate, including useful phone time. It isn’t a prediction."
                color: Qt.rgba(1, 1, 1, 0.6)
                font.pixelSize: 13
                wrapMode: Text.Wrap
                horizontalAlignment: Text.AlignHCenter
            }
        }
    }
    Component {
        id: page16
        HeroPage {
            objectName: "onboardingPage16"
            badge: "✨"
            title: "Make room for what matters."
            subtitle: "Even 30 fewer minutes of scrolling a day makes room for over 180 hours a year. What would you do with yours?"
        }
    }
    Component {
        id: page17
        Column {
            objectName: "onboardingPage17"
            width: pages.width
            spacing: 20
            PageHeading { title: "Focus, with a little company."; subtitle: "Here’s how Tovrick fits into your day." }
            InfoCardList {
                items: ["✏️|Choose one thing you want to work on.", "⏱️|Set a session that feels manageable.",
                    "💻|Pair with your Mac and keep Tovrick nearby.", "💙|Get a gentle nudge when you drift."]
            }
            Portrait { size: 100 }
        }
    }
    Component {
        id: page18
        Column {
            objectName: "onboardingPage18"
            width: pages.width
            spacing: 20
            PageHeading { title: "Your first week starts small."; subtitle: "You don’t need to change everything at once." }
            InfoCardList {
                reveals: true
                items: ["🌱|Day 1: one task, one short session.", "🎯|Find a time that works for you.",
                    "🔁|Come back and build your rhythm.", "🎉|Notice the moments you reclaim."]
            }
        }
    }
    Component {
        id: page19
        Column {
            objectName: "onboardingPage19"
            width: pages.width
            spacing: 20
            PageHeading {
                title: onboarding.committed ? "You’re ready. So is Tovrick." : "Ready to make a little space?"
                subtitle: onboarding.committed ? "One small commitment. Your next chapter starts here."
                                               : "Hold the button and take a moment to choose yourself."
            }
            Portrait {
                size: 190
                portrait.y: onboarding.committed ? 4 : 16
            }
            Item { width: 1; height: 96 }
            HoldMeter {
                objectName: "holdControl"
                anchors.horizontalCenter: parent.horizontalCenter
                progress: onboarding.progress
                Accessible.role: Accessible.Button
                Accessible.name: "Commit to your first focus session"
                Accessible.description: Math.floor(onboarding.progress * 100) + " percent"
                Accessible.onPressAction: onboarding.commitNow()
                MouseArea {
                    anchors.fill: parent
                    enabled: !onboarding.committed
                    // Only the disc takes the press.
                    containmentMask: QtObject {
                        function contains(point: point): bool {
                            const dx = point.x - 60, dy = point.y - 60
                            return dx * dx + dy * dy <= 3600
                        }
                    }
                    onPressed: onboarding.holdChanged()
                    onPositionChanged: onboarding.holdChanged()
                    onReleased: onboarding.holdEnded()
                    onCanceled: onboarding.holdEnded()
                }
            }
            Text {
                objectName: "holdHint"
                anchors.horizontalCenter: parent.horizontalCenter
                bottomPadding: 24
                text: onboarding.committed ? "You’re ready." : "Hold for a moment"
                color: Qt.rgba(1, 1, 1, 0.6)
                font.pixelSize: 13
            }
        }
    }
    Component {
        id: page20
        Column {
            objectName: "onboardingPage20"
            width: pages.width
            spacing: 20
            PageHeading {
                title: "A little more focus.\nWith Tovrick."
                subtitle: "Your focus companion is ready when you are."
            }
            Portrait { size: 160 }
            InfoCardList {
                items: ["🎯|Intentional focus sessions", "💙|A companion to keep you company",
                    "💻|Your iPhone and Mac, working together"]
            }
            Text {
                anchors.horizontalCenter: parent.horizontalCenter
                text: "Tovrick Plus"
                color: "white"
                font.pixelSize: 22
                font.bold: true
            }
            Text {
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: "Subscription options are coming soon."
                color: Qt.rgba(1, 1, 1, 0.6)
                font.pixelSize: 16
            }
            Text {
                width: parent.width
                horizontalAlignment: Text.AlignHCenter
                wrapMode: Text.Wrap
                text: "You can explore the app now."
                color: Qt.rgba(1, 1, 1, 0.6)
                font.pixelSize: 13
            }
        }
    }
}
