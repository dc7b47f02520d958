import QtQuick 2.15
import QtQuick.Window 2.15
import QtGraphicalEffects 1.15

// A white top bar with a red close dot, for a frameless window. Not used by
// the window.
Rectangle {
    id: root
    height: 45
    width: parent ? parent.width * 0.9 : 0
    radius: 5
    color: "white"

    signal close()

    layer.enabled: true
    layer.effect: DropShadow {
        radius: 8
        samples: 17
        color: "#30000000"
        verticalOffset: 2
    }

    // Moves the window by an offset, keeping it off the screen's top and left edge.
    function setDlgPoint(dlgX, dlgY) {
        var w = Window.window
        if (!w)
            return
        w.x = Math.max(0, w.x + dlgX)
        w.y = Math.max(0, w.y + dlgY)
    }

    Rectangle {
        width: 16
        height: 16
        radius: 8
        color: "red"
        anchors.right: parent.right
        anchors.rightMargin: 15
        anchors.verticalCenter: parent.verticalCenter

        MouseArea {
            anchors.fill: parent
            onClicked: root.close()
        }
    }
}
