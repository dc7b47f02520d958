import QtQuick 2.15

// An upright battery picture (50 x 50) that can save itself as a PNG file.
// Not used by the window.
Rectangle {
    id: root
    width: 50
    height: 50
    color: "transparent"

    property real batteryLevel: 1
    property real borderWidth: 1
    property color borderColor: "#aaaaaa"
    property color nomalLevelColor: "#4CAF50"
    property color lowLevelColor: "#FFC107"
    property color lowerLevelColor: "red"

    readonly property color levelColor: batteryLevel < 0.15 ? lowerLevelColor
                                      : batteryLevel <= 0.5 ? lowLevelColor
                                      : nomalLevelColor

    function saveToPng() {
        var name = "./resource/battery/battery-" + Math.round(batteryLevel * 100) + ".png"
        root.grabToImage(function(result) { result.saveToFile(name) })
    }

    Rectangle {
        id: body
        width: root.width - 2 * root.borderWidth
        height: root.height * 0.95
        anchors.bottom: parent.bottom
        anchors.horizontalCenter: parent.horizontalCenter
        color: root.borderColor
        radius: 5

        Rectangle {
            width: body.width - 2 * root.borderWidth
            height: (body.height - 2 * root.borderWidth) * root.batteryLevel
            anchors.bottom: parent.bottom
            anchors.bottomMargin: root.borderWidth
            anchors.horizontalCenter: parent.horizontalCenter
            color: root.levelColor
            radius: 5
        }

        Text {
            anchors.centerIn: parent
            text: Math.round(root.batteryLevel * 100)
            font.family: "Source Han Sans"
            font.pixelSize: 10
            color: "white"
        }
    }

    Rectangle {
        width: root.width * 0.5
        height: root.height * 0.05
        anchors.top: parent.top
        anchors.horizontalCenter: parent.horizontalCenter
        color: root.borderColor
        radius: 5
    }
}
