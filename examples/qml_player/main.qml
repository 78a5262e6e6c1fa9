// A small GIF player: the Flipreel type with the controls a user expects.
import QtQuick
import QtQuick.Window
import Flipreel

Window {
    id: root
    width: 480
    height: 360
    visible: true
    color: "#f4f4f4"
    title: reel.source + " - Flipreel"

    property alias source: reel.source
    property bool onePass: false   // play once and quit (--check)
    property string grabPath: ""   // save the window after three frames and quit (--grab)
    property int framesShown: 0

    // The background is an item, so that a grab of the content has it too.
    Rectangle { anchors.fill: parent; color: root.color }

    Flipreel {
        id: reel
        objectName: "reel"
        anchors { left: parent.left; right: parent.right; top: parent.top; bottom: bar.top; margins: 8 }
        fillMode: Flipreel.PreserveAspectFit
        // A large GIF loads while the window runs on, the status line
        // saying so.
        asynchronous: true
        loops: root.onePass ? 1 : 0
        onFrameChanged: {
            root.framesShown += 1
            if (root.grabPath !== "" && root.framesShown === 3)
                root.contentItem.grabToImage(function (result) {
                    result.saveToFile(root.grabPath)
                    Qt.quit()
                })
        }
        onFinished: if (root.onePass) Qt.quit()
    }

    Text {
        anchors.centerIn: reel
        visible: reel.status !== Flipreel.Ready
        text: reel.status === Flipreel.Loading ? "Loading " + Math.round(reel.progress * 100) + "%"
            : reel.status === Flipreel.Error ? "Error " + reel.errorNumber + ": " + reel.errorString
            : "No GIF"
    }

    component Button: Rectangle {
        property alias label: caption.text
        signal clicked
        width: caption.implicitWidth + 16
        height: 28
        radius: 4
        color: tap.pressed ? "#c8c8c8" : "#e0e0e0"
        border.color: "#a0a0a0"
        Text { id: caption; anchors.centerIn: parent }
        TapHandler { id: tap; onTapped: parent.clicked() }
    }

    Row {
        id: bar
        anchors { left: parent.left; bottom: parent.bottom; margins: 8 }
        spacing: 6
        Button {
            label: !reel.playing ? "Play" : reel.paused ? "Resume" : "Pause"
            onClicked: {
                if (!reel.playing) reel.start()
                else reel.paused = !reel.paused
            }
        }
        Button { label: "Stop"; onClicked: reel.stop() }
        Button {
            label: ["Normal", "Reverse", "Random", "Ping Pong"][reel.sequence]
            onClicked: reel.sequence = (reel.sequence + 1) % 4
        }
        Button {
            label: "Speed " + reel.speed + "x"
            onClicked: reel.speed = reel.speed >= 4 ? 0.25 : reel.speed * 2
        }
        Text {
            anchors.verticalCenter: parent.verticalCenter
            text: reel.frameCount > 0
                  ? "frame " + (reel.currentFrame + 1) + " / " + reel.frameCount
                    + " (" + reel.frameDelay(reel.currentFrame) + " ms)"
                  : ""
        }
    }
}
