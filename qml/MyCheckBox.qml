import QtQuick 2.15

// A labelled check box. isCheck is the state given from outside (normally a
// binding); innerValue is the state shown and toggled by the user, and its
// change notification is the component's output. Tab reaches it, Space
// toggles it, and a screen reader finds it as a check box named
// accessibleName (its text by default) with its checked state.
Rectangle {
    id: root
    width: 100

    property bool isCheck: false
    property bool innerValue: false
    property string text: qsTr("标题测试")
    property string accessibleName: text
    // The focus frame shows only while the keyboard is used: focus comes by
    // Tab, and a click with the mouse hides the frame.
    property bool keyboardFocus: false

    function toggle() {
        console.log(root.text + " click")
        root.innerValue = !root.innerValue
    }

    activeFocusOnTab: true
    onActiveFocusChanged: keyboardFocus = activeFocus
    Keys.onSpacePressed: toggle()

    Accessible.role: Accessible.CheckBox
    Accessible.name: accessibleName
    Accessible.checkable: true
    Accessible.checked: innerValue
    Accessible.focusable: true
    Accessible.focused: activeFocus
    Accessible.onToggleAction: toggle()
    Accessible.onPressAction: toggle()

    onIsCheckChanged: {
        if (isCheck !== innerValue)
            innerValue = isCheck
    }
    Component.onCompleted: {
        if (isCheck !== innerValue)
            innerValue = isCheck
    }

    Text {
        id: label
        objectName: "label"
        text: root.text
        textFormat: Text.PlainText
        font.family: "Source Han Sans"
        anchors.left: parent.left
        anchors.verticalCenter: parent.verticalCenter
    }

    Rectangle {
        id: box
        objectName: "box"
        width: 25
        height: 25
        anchors.left: label.right
        anchors.leftMargin: 15
        anchors.verticalCenter: parent.verticalCenter
        color: "white"
        border.width: root.keyboardFocus ? 3 : 2
        border.color: root.keyboardFocus ? "#1e6fd9" : "#e1e6ea"
        radius: 2

        Rectangle {
            id: mark
            objectName: "mark"
            width: parent.width * 0.85
            height: parent.height * 0.85
            anchors.centerIn: parent
            color: "#4CAF50"
            radius: 2
            visible: root.innerValue
        }

        MouseArea {
            anchors.fill: parent
            hoverEnabled: true
            onEntered: root.color = "#f6f7f9"
            onPressed: {
                root.color = "#747576"
                root.keyboardFocus = false
            }
            onReleased: root.color = "#f6f7f9"
            onExited: root.color = "#fefefe"
            onClicked: root.toggle()
        }
    }
}
