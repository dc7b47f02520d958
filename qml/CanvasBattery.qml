import QtQuick 2.15

// A horizontal battery gauge: body, level bar, percentage and head.
Rectangle {
    id: root
    width: 100
    height: 50

    property real batteryLevel: 1
    property real borderWidth: 1
    property color borderColor: "#aaaaaa"
    property color nomalLevelColor: "#4CAF50"
    property color lowLevelColor: "#FFC107"
    property color lowerLevelColor: "red"

    readonly property color levelColor: batteryLevel < 0.15 ? lowerLevelColor
                                      : batteryLevel <= 0.5 ? lowLevelColor
                                      : nomalLevelColor

    Rectangle {
        id: body
        objectName: "body"
        width: root.width * 0.95
        height: root.height - 2 * root.borderWidth
        anchors.centerIn: parent
        color: root.borderColor
        border.width: root.borderWidth
        border.color: root.borderColor
        radius: 5
        z: 22

        Rectangle {
            id: bar
            objectName: "levelBar"
            x: root.borderWidth
            anchors.verticalCenter: parent.verticalCenter
            width: (body.width - 2 * root.borderWidth) * root.batteryLevel
            height: body.height - 2 * root.borderWidth
            visible: width > 0
            radius: 5
            color: root.levelColor
        }

        Text {
            id: percent
            objectName: "percentText"
            anchors.centerIn: parent
            text: Math.round(root.batteryLevel * 100) + "%"
            font.family: "Source Han Sans"
            font.pixelSize: 10
            color: "white"
        }
    }

    Rectangle {
        id: head
        objectName: "head"
        x: body.x + body.width
        anchors.verticalCenter: body.verticalCenter
        width: root.width * 0.05
        height: root.height * 0.5
        color: root.borderColor
        radius: 3

        // Squares the head's left corners against the body.
        Rectangle {
            anchors.left: parent.left
            width: 3
            height: parent.height
            color: parent.color
        }
    }
}
