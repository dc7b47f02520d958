import QtQuick 2.15

// A 32 x 32 level picture: a rounded square in the level colour with the
// level in white. Not used by the window.
Rectangle {
    id: root
    width: 32
    height: 32
    radius: 5

    property real value: 0
    property color nomalLevelColor: "#4CAF50"
    property color lowLevelColor: "#FFC107"
    property color lowerLevelColor: "red"

    color: value < 0.15 ? lowerLevelColor : value <= 0.5 ? lowLevelColor : nomalLevelColor

    function saveToPng() {
        var name = "./resource/battery/battery-" + Math.round(value * 100) + ".png"
        root.grabToImage(function(result) { result.saveToFile(name) })
    }

    Text {
        anchors.centerIn: parent
        text: Math.round(root.value * 100)
        font.family: "Source Han Sans"
        font.bold: true
        font.pixelSize: root.value === 1 ? 20 : 25
        color: "white"
    }
}
