import QtQuick
// One style on every platform: the Basic one is all the Windows package carries.
import QtQuick.Controls.Basic
import QtQuick.Layouts
// Importing the library's module shows that it loaded; the module itself registers no types.
import OvIntegrations 1.0

ApplicationWindow {
    id: root
    width: 1100
    height: 700
    visible: true
    title: "Lumivex — " + viewer.modeText
    color: "#1d1f23"

    readonly property color panel: "#272a30"
    readonly property color textColor: "#e6e6e6"
    readonly property color dimText: "#9aa0a8"
    readonly property color accent: "#4fa3ff"

    header: ToolBar {
        implicitHeight: 44
        background: Rectangle { color: root.panel }
        RowLayout {
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            spacing: 12
            Label {
                objectName: "modeLabel"
                text: viewer.modeText
                color: root.textColor
                font.bold: true
            }
            Label {
                visible: integrations.isSilent
                text: "silent run"
                color: root.dimText
            }
            Item { Layout.fillWidth: true }
            BusyIndicator {
                running: integrations.loading || viewer.busy
                visible: running
                implicitHeight: 28
                implicitWidth: 28
            }
            Label {
                objectName: "loadingStatusLabel"
                text: viewer.busy ? (viewer.enhanced ? "Enhancing…" : "Preparing preview…") : integrations.loadingStatus
                color: root.dimText
            }
        }
    }

    RowLayout {
        anchors.fill: parent
        spacing: 0

        // Announced images with their thumbnails, and the files that were refused.
        Rectangle {
            Layout.preferredWidth: 250
            Layout.fillHeight: true
            color: root.panel

            ColumnLayout {
                anchors.fill: parent
                anchors.margins: 10
                spacing: 6

                Label { text: "Images"; color: root.dimText; font.capitalization: Font.AllUppercase }

                ListView {
                    id: imageList
                    objectName: "imageList"
                    Layout.fillWidth: true
                    Layout.fillHeight: true
                    clip: true
                    spacing: 4
                    model: viewer.images
                    delegate: Rectangle {
                        required property var modelData
                        width: ListView.view.width
                        height: 64
                        radius: 4
                        color: modelData.id === integrations.currentImage ? "#35506f" : "transparent"
                        RowLayout {
                            anchors.fill: parent
                            anchors.margins: 4
                            spacing: 8
                            Rectangle {
                                Layout.preferredWidth: 56
                                Layout.preferredHeight: 56
                                color: "#15171a"
                                // The library's thumbnail once the image was loaded; before that
                                // a small decode of the file itself, where Qt can read it.
                                Image {
                                    objectName: "thumbnail"
                                    anchors.fill: parent
                                    fillMode: Image.PreserveAspectCrop
                                    source: modelData.thumbnail !== "" ? modelData.thumbnail
                                            : (viewer.filterHost ? "" : "file:" + modelData.id)
                                    sourceSize: Qt.size(112, 112)
                                    cache: false
                                    asynchronous: true
                                }
                            }
                            ColumnLayout {
                                Layout.fillWidth: true
                                spacing: 2
                                Label {
                                    Layout.fillWidth: true
                                    text: modelData.name
                                    color: root.textColor
                                    elide: Text.ElideMiddle
                                }
                                Label {
                                    visible: modelData.merged
                                    text: "from another launch"
                                    color: root.accent
                                    font.pixelSize: 11
                                }
                            }
                        }
                        MouseArea {
                            anchors.fill: parent
                            onClicked: viewer.open(modelData.id)
                        }
                    }
                }

                Label {
                    visible: viewer.rejected.length > 0
                    text: "Cannot open"
                    color: "#ff8a80"
                    font.capitalization: Font.AllUppercase
                }
                Repeater {
                    model: viewer.rejected
                    Label {
                        required property string modelData
                        Layout.fillWidth: true
                        text: modelData
                        color: "#ff8a80"
                        elide: Text.ElideMiddle
                        font.pixelSize: 11
                    }
                }
            }
        }

        ColumnLayout {
            Layout.fillWidth: true
            Layout.fillHeight: true
            spacing: 0

            // The current image; dragging on it while "Crop" is on selects the new region.
            Item {
                id: stage
                Layout.fillWidth: true
                Layout.fillHeight: true

                Image {
                    id: preview
                    objectName: "previewImage"
                    anchors.fill: parent
                    anchors.margins: 16
                    fillMode: Image.PreserveAspectFit
                    source: viewer.previewUrl
                    cache: false
                    smooth: true
                }

                Label {
                    anchors.centerIn: parent
                    visible: !viewer.hasImage && !integrations.loading
                    text: viewer.images.length > 0 ? "Choose an image" : "No images yet — pass files on the command line"
                    color: root.dimText
                }
                Label {
                    anchors.horizontalCenter: parent.horizontalCenter
                    anchors.bottom: parent.bottom
                    anchors.bottomMargin: 24
                    visible: integrations.loadingError.length > 0
                    text: integrations.loadingError
                    color: "#ff8a80"
                }

                Rectangle {
                    id: selection
                    property real x0: 0
                    property real y0: 0
                    visible: cropButton.checked && width > 2 && height > 2
                    color: "#304fa3ff"
                    border.color: root.accent
                    border.width: 2
                }

                MouseArea {
                    id: cropArea
                    enabled: cropButton.checked
                    anchors.fill: preview
                    cursorShape: enabled ? Qt.CrossCursor : Qt.ArrowCursor
                    readonly property real pictureLeft: (preview.width - preview.paintedWidth) / 2
                    readonly property real pictureTop: (preview.height - preview.paintedHeight) / 2
                    function clampX(x) { return Math.max(pictureLeft, Math.min(pictureLeft + preview.paintedWidth, x)) }
                    function clampY(y) { return Math.max(pictureTop, Math.min(pictureTop + preview.paintedHeight, y)) }
                    onPressed: (mouse) => {
                        selection.x0 = clampX(mouse.x)
                        selection.y0 = clampY(mouse.y)
                        selection.x = preview.x + selection.x0
                        selection.y = preview.y + selection.y0
                        selection.width = 0
                        selection.height = 0
                    }
                    onPositionChanged: (mouse) => {
                        const x1 = clampX(mouse.x), y1 = clampY(mouse.y)
                        selection.x = preview.x + Math.min(selection.x0, x1)
                        selection.y = preview.y + Math.min(selection.y0, y1)
                        selection.width = Math.abs(x1 - selection.x0)
                        selection.height = Math.abs(y1 - selection.y0)
                    }
                }
            }

            Rectangle {
                Layout.fillWidth: true
                Layout.preferredHeight: 56
                color: root.panel

                RowLayout {
                    anchors.fill: parent
                    anchors.leftMargin: 12
                    anchors.rightMargin: 12
                    spacing: 8

                    Button {
                        id: cropButton
                        text: "Crop"
                        checkable: true
                        enabled: viewer.hasImage && integrations.resizingSupported
                    }
                    Button {
                        text: "Apply crop"
                        visible: cropButton.checked
                        enabled: selection.visible
                        onClicked: {
                            const left = preview.x + cropArea.pictureLeft, top = preview.y + cropArea.pictureTop
                            viewer.crop((selection.x - left) / preview.paintedWidth,
                                        (selection.y - top) / preview.paintedHeight,
                                        selection.width / preview.paintedWidth,
                                        selection.height / preview.paintedHeight)
                            selection.width = 0
                            cropButton.checked = false
                        }
                    }
                    Button {
                        text: "Reset crop"
                        enabled: viewer.hasImage && integrations.resizingSupported
                        onClicked: viewer.resetCrop()
                    }
                    Label {
                        Layout.fillWidth: true
                        text: viewer.message
                        color: root.dimText
                        elide: Text.ElideRight
                    }
                    Label {
                        objectName: "sizeLabel"
                        text: viewer.imageSizeText
                        color: root.dimText
                    }
                    Button {
                        objectName: "enhanceButton"
                        text: viewer.enhanced ? "Show original" : "Enhance"
                        enabled: viewer.hasImage && !viewer.busy
                        onClicked: viewer.enhanced ? viewer.revert() : viewer.enhance()
                    }
                    Button {
                        objectName: "saveButton"
                        text: viewer.filterHost ? "Apply" : "Save"
                        highlighted: true
                        enabled: viewer.hasImage && !viewer.busy
                        onClicked: viewer.save()
                    }
                }
            }
        }
    }
}
