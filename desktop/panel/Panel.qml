// SPDX-License-Identifier: GPL-3.0-or-later
// The one panel: every setting, the detection, the readouts, the consent prompt and the
// stored decisions. It keeps no state of its own: it shows the controller and writes every
// choice straight back to it.
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts

Pane {
    id: panel
    required property QtObject controller
    required property QtObject support

    // A web page can raise the consent prompt while the user is typing elsewhere: both
    // buttons (click and Return) stay dead for a second after it appears and after every
    // change of the origin it shows.
    property bool consentArmed: false
    property int consentGuardMs: 1000
    readonly property string pendingOrigin: controller.pendingConsentOrigin
    readonly property bool consentShown: pendingOrigin !== ""
    onPendingOriginChanged: {
        consentArmed = false
        if (pendingOrigin !== "") // not consentShown: that binding may not have caught up yet
            consentGuard.restart()
    }
    Timer {
        id: consentGuard
        objectName: "consentGuard"
        interval: panel.consentGuardMs
        onTriggered: panel.consentArmed = true
    }
    function answerConsent(allow) {
        if (!consentShown || !consentArmed)
            return
        support.resolveConsent(pendingOrigin, allow)
    }

    readonly property double effectiveFactor: support.effectiveFactor
    readonly property double effectiveCents: support.cents(effectiveFactor)

    // Sizes follow the system font; nothing is fixed in pixels.
    readonly property real captionSize: font.pointSize * 0.85
    readonly property real caption2Size: font.pointSize * 0.78
    readonly property color secondary: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.72)
    readonly property color tertiary: Qt.rgba(palette.windowText.r, palette.windowText.g, palette.windowText.b, 0.5)
    readonly property color orange: "#c25e00"
    readonly property color green: "#1f8a34"

    // Fixed width, 16 pixels inset on every side.
    width: 320
    height: column.implicitHeight + 32
    padding: 0
    focus: true
    Keys.onReturnPressed: answerConsent(true)
    Keys.onEnterPressed: answerConsent(true)

    // Every text is plain: origins and device names come from outside and must never
    // be read as markup.
    component Plain: Label {
        textFormat: Text.PlainText
    }
    component Caption: Plain {
        font.pointSize: panel.captionSize
        color: panel.secondary
    }
    component Caption2: Plain {
        font.pointSize: panel.caption2Size
        color: panel.secondary
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }
    component Mono: Plain {
        font.family: "monospace"
        font.pointSize: panel.captionSize
        color: panel.secondary
    }
    // A block whose content comes and goes keeps at least `reserved` pixels of height.
    component Reserved: ColumnLayout {
        property int reserved: 0
        spacing: 4
        Layout.fillWidth: true
        Layout.minimumHeight: reserved
        Layout.alignment: Qt.AlignTop | Qt.AlignLeft
    }
    // A readout row: label, a flexible space of at least 12, the value.
    component Row: RowLayout {
        property alias label: rowLabel.text
        property alias value: rowValue.text
        property bool mono: false
        property alias valueItem: rowValue
        spacing: 12
        Layout.fillWidth: true
        Caption { id: rowLabel }
        Item { Layout.fillWidth: true }
        Plain {
            id: rowValue
            font.pointSize: panel.captionSize
            font.family: parent.mono ? "monospace" : panel.font.family
            elide: Text.ElideMiddle
            horizontalAlignment: Text.AlignRight
            Layout.maximumWidth: 180
        }
    }

    ColumnLayout {
        id: column
        x: 16
        y: 16
        width: 288
        spacing: 14

        // Header
        RowLayout {
            Layout.fillWidth: true
            ColumnLayout {
                spacing: 2
                Plain {
                    text: "Velmora"
                    font.bold: true
                    font.pointSize: panel.font.pointSize * 1.25
                }
                Plain {
                    objectName: "statusLine"
                    text: panel.controller.isEnabled ? qsTrId("ui.status.active") : qsTrId("ui.status.off")
                    font.pointSize: panel.captionSize
                    color: panel.controller.isEnabled ? panel.green : panel.secondary
                }
            }
            Item { Layout.fillWidth: true }
            Switch {
                objectName: "masterSwitch"
                checked: panel.controller.isEnabled
                onToggled: panel.controller.isEnabled = checked
                Accessible.name: qsTrId("ui.toggle.enable")
            }
        }

        // Consent prompt
        ColumnLayout {
            objectName: "consentPrompt"
            visible: panel.consentShown
            spacing: 6
            Layout.fillWidth: true
            Plain {
                text: qsTrId("ui.consent.title")
                font.pointSize: panel.font.pointSize * 1.05
                font.weight: Font.DemiBold
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            TextEdit {
                id: originText
                objectName: "pendingOrigin"
                text: panel.pendingOrigin
                textFormat: TextEdit.PlainText
                readOnly: true
                selectByMouse: true
                font.family: "monospace"
                font.pointSize: panel.captionSize
                color: panel.palette.windowText
                wrapMode: TextEdit.WrapAnywhere
                Layout.fillWidth: true
                Layout.maximumHeight: 2 * originMetrics.lineSpacing
                FontMetrics { id: originMetrics; font: originText.font }
                clip: true
            }
            Caption2 { text: qsTrId("ui.consent.hint") }
            RowLayout {
                spacing: 8
                Layout.alignment: Qt.AlignHCenter
                Button {
                    objectName: "allowButton"
                    text: qsTrId("ui.consent.allow")
                    highlighted: true
                    enabled: panel.consentArmed
                    onClicked: panel.answerConsent(true)
                }
                Button {
                    objectName: "denyButton"
                    text: qsTrId("ui.consent.deny")
                    enabled: panel.consentArmed
                    onClicked: panel.answerConsent(false)
                }
            }
        }
        MenuSeparator { visible: panel.consentShown; Layout.fillWidth: true; padding: 0 }
        MenuSeparator { Layout.fillWidth: true; padding: 0 }

        // Mode picker ("Modus")
        TabBar {
            objectName: "modePicker"
            Accessible.name: "Modus"
            Layout.fillWidth: true
            currentIndex: panel.controller.mode
            Repeater {
                model: [qsTrId("mode.preset"), qsTrId("mode.freeA4")] // the controller's Mode, in order
                TabButton {
                    required property int index
                    required property string modelData
                    text: modelData
                    font.pointSize: panel.captionSize
                    onClicked: panel.controller.mode = index
                }
            }
        }

        // Tuning: preset or free A4
        Reserved {
            objectName: "tuningBlock"
            reserved: 62
            ColumnLayout {
                visible: panel.controller.mode === 0
                spacing: 6
                Layout.fillWidth: true
                ToolTip.text: panel.support.presetBackground(panel.controller.selectedPresetID)
                ToolTip.visible: presetHover.hovered
                ToolTip.delay: 600
                HoverHandler { id: presetHover }
                ComboBox {
                    objectName: "presetPicker"
                    Accessible.name: "Stimmung"
                    Layout.fillWidth: true
                    font.pointSize: panel.captionSize
                    model: panel.support.presets
                    textRole: "title"
                    valueRole: "id"
                    currentIndex: count > 0 ? indexOfValue(panel.controller.selectedPresetID) : -1
                    onActivated: panel.controller.selectedPresetID = currentValue
                }
                Caption {
                    text: panel.support.presetKeyword(panel.controller.selectedPresetID)
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                Caption2 {
                    readonly property string reference:
                        panel.support.presetReference(panel.controller.selectedPresetID)
                    text: reference !== "" ? qsTrId("ui.preset.reference").arg(reference) : qsTrId("ui.preset.none")
                    color: panel.tertiary
                }
            }
            ColumnLayout {
                visible: panel.controller.mode === 1
                spacing: 6
                Layout.fillWidth: true
                RowLayout {
                    Layout.fillWidth: true
                    Caption { text: qsTrId("ui.freeA4.label"); color: panel.palette.windowText }
                    Item { Layout.fillWidth: true }
                    Mono {
                        objectName: "freeA4Value"
                        text: panel.controller.freeA4.toFixed(1) + " Hz"
                    }
                }
                Slider {
                    objectName: "freeA4Slider"
                    Layout.fillWidth: true
                    from: 400
                    to: 470
                    stepSize: 0.1
                    snapMode: Slider.SnapAlways
                    value: panel.controller.freeA4
                    onMoved: panel.controller.freeA4 = Math.round(value * 10) / 10
                    Accessible.name: qsTrId("ui.freeA4.accessibility")
                }
            }
        }
        MenuSeparator { Layout.fillWidth: true; padding: 0 }

        // Automatic correction
        ColumnLayout {
            spacing: 6
            Layout.fillWidth: true
            Reserved {
                objectName: "detectionBlock"
                reserved: 32
                Caption2 {
                    visible: !panel.controller.isEnabled
                    text: qsTrId("ui.detection.waiting")
                    color: panel.tertiary
                }
                RowLayout {
                    visible: panel.controller.isEnabled
                    spacing: 8
                    Caption2 { text: qsTrId("ui.detection.title"); Layout.fillWidth: false }
                    Item { Layout.fillWidth: true }
                    Mono {
                        objectName: "detectedA4"
                        text: panel.controller.detectedA4.toFixed(1) + " Hz"
                        font.pointSize: panel.caption2Size
                        color: panel.controller.detectionIsConfident ? panel.green : panel.secondary
                    }
                }
                RowLayout {
                    visible: panel.controller.isEnabled
                    spacing: 8
                    Caption2 { text: qsTrId("ui.detection.confidence"); Layout.fillWidth: false }
                    Item { Layout.fillWidth: true }
                    Mono {
                        text: (panel.controller.detectionConfidence * 100).toFixed(0) + " %"
                        font.pointSize: panel.caption2Size
                    }
                }
            }
            Switch {
                objectName: "automaticSwitch"
                Layout.fillWidth: true
                text: qsTrId("ui.automatic.toggle")
                font.pointSize: panel.captionSize
                checked: panel.controller.automatic
                onToggled: panel.controller.automatic = checked
                padding: 0
            }
            Reserved {
                objectName: "correctionBlock"
                reserved: 32
                RowLayout {
                    visible: panel.controller.automatic
                    spacing: 8
                    Caption2 { text: qsTrId("ui.automatic.correction"); Layout.fillWidth: false }
                    Item { Layout.fillWidth: true }
                    Mono {
                        objectName: "correctionValue"
                        text: panel.support.formatCents(panel.controller.appliedCorrectionCents)
                        font.pointSize: panel.caption2Size
                    }
                }
                Caption2 {
                    visible: panel.controller.automatic && panel.controller.isEnabled
                             && !panel.controller.detectionIsConfident
                    text: qsTrId("ui.automatic.unsure")
                    color: panel.orange
                }
                Caption2 {
                    visible: !panel.controller.automatic
                    text: qsTrId("ui.automatic.fixed")
                    color: panel.tertiary
                }
                Caption2 {
                    objectName: "followedTrack"
                    visible: panel.controller.automatic && panel.controller.followedPlayer !== ""
                    text: qsTrId("ui.automatic.following").arg(panel.controller.followedPlayer)
                          .arg(panel.controller.followedTitle)
                    color: panel.tertiary
                    wrapMode: Text.NoWrap
                    elide: Text.ElideRight
                }
            }
        }
        MenuSeparator { Layout.fillWidth: true; padding: 0 }

        // Engine ("Engine")
        ColumnLayout {
            spacing: 6
            Layout.fillWidth: true
            TabBar {
                id: enginePicker
                objectName: "enginePicker"
                Accessible.name: "Engine"
                Layout.fillWidth: true
                currentIndex: panel.support.engines.indexOf(panel.controller.engine)
                Repeater {
                    model: panel.support.engines
                    TabButton {
                        required property int modelData
                        text: panel.support.engineTitle(modelData)
                        font.pointSize: panel.captionSize
                        onClicked: panel.controller.engine = modelData
                    }
                }
            }
            RowLayout {
                spacing: 8
                Layout.fillWidth: true
                Caption2 {
                    text: panel.support.engineSubtitle(panel.controller.engine)
                    wrapMode: Text.NoWrap
                    elide: Text.ElideRight
                }
                Mono {
                    objectName: "latencyText"
                    text: panel.controller.latencyText
                    font.pointSize: panel.caption2Size
                }
            }
            Reserved {
                objectName: "engineNotes"
                reserved: 30
                Caption2 {
                    visible: panel.controller.engine === 1
                    text: "\u26A0 " + qsTrId("ui.engine.hq.warning")
                    color: panel.orange
                }
                Caption2 {
                    objectName: "lowLatencyWarning"
                    visible: panel.controller.engine === 0 && panel.effectiveFactor > 0
                             && isFinite(panel.effectiveFactor) && Math.abs(panel.effectiveCents) > 35
                    text: "\u26A0 " + qsTrId("ui.engine.ll.warning")
                    color: panel.orange
                }
                Caption2 {
                    visible: panel.controller.engine === 2
                    text: qsTrId("ui.engine.balanced.note")
                    color: panel.tertiary
                }
            }
        }
        MenuSeparator { Layout.fillWidth: true; padding: 0 }

        // Readout
        ColumnLayout {
            spacing: 4
            Layout.fillWidth: true
            Row {
                objectName: "shiftRow"
                label: qsTrId("ui.readout.shift")
                value: panel.support.formatCents(panel.effectiveCents)
                mono: true
            }
            Row {
                objectName: "factorRow"
                label: qsTrId("ui.readout.factor")
                value: "×" + panel.effectiveFactor.toFixed(6)
                mono: true
            }
            Row {
                label: qsTrId("ui.readout.output")
                value: panel.controller.outputDeviceName
            }
            Row {
                visible: panel.controller.sampleRate > 0
                label: qsTrId("ui.readout.sampleRate")
                value: panel.controller.sampleRate.toFixed(0) + " Hz"
                mono: true
            }
            Reserved {
                objectName: "statsBlock"
                reserved: 38
                spacing: 6
                Row {
                    visible: panel.controller.isEnabled
                    label: qsTrId("ui.readout.underruns")
                    value: String(panel.controller.underruns)
                    mono: true
                }
                Row {
                    objectName: "rebuildsRow"
                    visible: panel.controller.isEnabled
                    label: qsTrId("ui.readout.rebuilds")
                    value: panel.controller.rebuilds
                           + (panel.controller.lastRebuildReason !== "" ? " · " + panel.controller.reasonText(panel.controller.lastRebuildReason) : "")
                }
            }
        }

        // Error block
        ColumnLayout {
            objectName: "errorBlock"
            visible: panel.controller.errorMessage !== ""
            spacing: 8
            Layout.fillWidth: true
            Plain {
                text: "\u26A0 " + panel.controller.errorMessage
                font.pointSize: panel.captionSize
                color: panel.orange
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
            Caption2 {
                objectName: "errorHint"
                visible: panel.controller.needsPermissionHint
                text: qsTrId(panel.support.errorHintId(panel.controller.errorMessage))
            }
            RowLayout {
                visible: panel.controller.needsPermissionHint
                spacing: 8
                Button {
                    objectName: "openSettingsButton"
                    visible: panel.support.soundSettingsAvailable
                    text: qsTrId("ui.error.openSettings")
                    font.pointSize: panel.captionSize
                    onClicked: panel.support.openSoundSettings()
                }
                Button {
                    objectName: "retryButton"
                    text: qsTrId("ui.error.retry")
                    font.pointSize: panel.captionSize
                    onClicked: if (!panel.controller.isEnabled) panel.controller.isEnabled = true
                }
            }
        }
        MenuSeparator { Layout.fillWidth: true; padding: 0 }

        // Applications: which are retuned (names come from the applications: plain text only),
        // calls, and whether the tuning above belongs to the output device.
        // Unfolded by the footer's button: the panel must fit a small screen below its bar.
        ColumnLayout {
            objectName: "scopeSection"
            visible: scopeToggle.checked || panel.controller.settingsDevice !== ""
            spacing: 4
            Layout.fillWidth: true
            Caption {
                visible: scopeToggle.checked
                text: qsTrId("ui.apps.title")
            }
            Caption2 {
                visible: scopeToggle.checked && appRepeater.count === 0
                text: qsTrId("ui.apps.none")
            }
            Repeater {
                id: appRepeater
                model: panel.controller.applications
                RowLayout {
                    required property var modelData
                    visible: scopeToggle.checked
                    Layout.fillWidth: true
                    opacity: modelData.playing ? 1.0 : 0.5 // greyed while it does not play
                    ToolButton {
                        visible: modelData.icon !== ""
                        icon.name: modelData.icon
                        display: AbstractButton.IconOnly
                        enabled: false
                        padding: 0
                    }
                    Plain {
                        objectName: "appName"
                        text: modelData.name
                        font.pointSize: panel.captionSize
                        elide: Text.ElideRight
                        Layout.fillWidth: true
                    }
                    Switch {
                        objectName: "appSwitch"
                        text: qsTrId("ui.apps.retune")
                        font.pointSize: panel.caption2Size
                        checked: modelData.retune
                        onToggled: panel.controller.setApplicationRetuned(modelData.key, checked)
                        padding: 0
                        Accessible.name: qsTrId("ui.apps.retuneApp").arg(modelData.name)
                    }
                }
            }
            Switch {
                objectName: "retuneCallsSwitch"
                visible: scopeToggle.checked
                Layout.fillWidth: true
                text: qsTrId("ui.apps.retuneCalls")
                font.pointSize: panel.captionSize
                checked: panel.controller.retuneCalls
                onToggled: panel.controller.retuneCalls = checked
                padding: 0
            }
            Switch {
                objectName: "perDeviceSwitch"
                visible: scopeToggle.checked
                Layout.fillWidth: true
                text: qsTrId("ui.device.remember")
                font.pointSize: panel.captionSize
                checked: panel.controller.rememberPerDevice
                onToggled: panel.controller.rememberPerDevice = checked
                padding: 0
            }
            Caption2 {
                objectName: "settingsDevice"
                visible: panel.controller.settingsDevice !== ""
                text: qsTrId("ui.device.settingsFor").arg(panel.controller.settingsDevice)
            }
            MenuSeparator { Layout.fillWidth: true; padding: 0 }
        }

        // Footer
        ColumnLayout {
            spacing: 6
            Layout.fillWidth: true
            Switch {
                objectName: "launchAtLoginSwitch"
                Layout.fillWidth: true
                text: qsTrId("ui.footer.launchAtLogin")
                font.pointSize: panel.captionSize
                checked: panel.controller.launchAtLogin
                onToggled: panel.controller.launchAtLogin = checked
                padding: 0
            }
            Switch {
                objectName: "statusServerSwitch"
                Layout.fillWidth: true
                text: qsTrId("ui.footer.statusServer")
                font.pointSize: panel.captionSize
                checked: panel.controller.statusServerEnabled
                onToggled: panel.controller.statusServerEnabled = checked
                padding: 0
                ToolTip.text: qsTrId("ui.footer.statusServerHint")
                ToolTip.visible: hovered
                ToolTip.delay: 600
            }
            Caption2 {
                objectName: "statusServerError"
                visible: panel.controller.statusServerError !== ""
                text: "\u26A0 " + panel.controller.statusServerError
                color: panel.orange
            }
            Caption2 {
                objectName: "consentSaveError"
                visible: panel.support.consentSaveError !== ""
                text: "\u26A0 " + qsTrId("ui.consent.notSaved").arg(panel.support.consentSaveError)
                color: panel.orange
            }
            ColumnLayout {
                objectName: "consentList"
                visible: consentRepeater.count > 0
                spacing: 4
                Layout.fillWidth: true
                Caption2 { text: qsTrId("ui.consent.list") }
                Repeater {
                    id: consentRepeater
                    model: panel.controller.consentEntries
                    RowLayout {
                        required property var modelData
                        Layout.fillWidth: true
                        Mono {
                            text: modelData.origin
                            font.pointSize: panel.caption2Size
                            elide: Text.ElideMiddle
                            Layout.fillWidth: true
                        }
                        Button {
                            objectName: "revokeButton"
                            text: qsTrId("ui.consent.revoke")
                            font.pointSize: panel.caption2Size
                            padding: 2
                            Accessible.name: qsTrId("ui.consent.revokeOrigin").arg(modelData.origin)
                            onClicked: panel.support.revokeConsent(modelData.origin)
                        }
                    }
                }
            }
            RowLayout {
                visible: panel.controller.launchAtLoginNeedsApproval
                spacing: 6
                Layout.alignment: Qt.AlignHCenter
                Caption2 { text: qsTrId("ui.footer.rejected"); color: panel.orange; Layout.fillWidth: false }
                Button {
                    text: qsTrId("ui.footer.openLoginItems")
                    font.pointSize: panel.caption2Size
                    padding: 2
                    onClicked: panel.support.openAutostartFolder()
                }
            }
            RowLayout {
                Layout.fillWidth: true
                Caption2 {
                    text: panel.support.caption
                    color: panel.tertiary
                    Layout.fillWidth: false
                }
                Item { Layout.fillWidth: true }
                Button {
                    id: scopeToggle
                    objectName: "scopeToggle"
                    checkable: true
                    font.pointSize: panel.captionSize
                    text: (checked ? "\u25BE " : "\u25B8 ") + qsTrId("ui.apps.title")
                }
                Button {
                    objectName: "quitButton"
                    text: qsTrId("ui.footer.quit")
                    font.pointSize: panel.captionSize
                    onClicked: panel.support.quit()
                }
            }
        }
    }
}
