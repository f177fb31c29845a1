-- Learner: the MIDI it has heard, its mappings, and where its OSC goes.
getWindowSize = getWindowSize or function() return 955, 300 end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local ww, wh = getWindowSize()
    local osc = controlGroup("OSC", 50, { { { "knob", "OSC Port Offset", "Port" },
        { "drop", "Send OSC", "Send", 60, cw = 66 } } })
    local infoW = 620
    add(learnerInfoDisplay(windowEdgePad, 40, infoW, 220))
    local x = windowEdgePad + infoW + pad
    osc:setPosition(x, 40, true)
    local y = 160
    add(propertyTriggerButton(64133, "Copy", "Copy long OSC path to Clipboard", x, y, 60, 25))
    add(propertyTriggerButton(64134, "Copy", "Copy compact OSC path to Clipboard", x + 66, y, 60, 25))
    add(propertyTriggerButton(64135, "Copy", "Copy short OSC path to Clipboard", x + 132, y, 60, 25))
    y = 200
    add(propertyButton(64130, "Learn Active", "Activate MIDI learn", x, y, 90, 25))
    add(propertyTriggerButton(64131, "Remove", "Remove MIDI mapping", x + 96, y, 70, 25))
    add(propertyTriggerButton(64132, "Remove All", "Remove all MIDI mappings", x + 172, y, 80, 25))
    local l = label("Target:", windowEdgePad + 45, windowEdgePad + 19, "right")
    setLabelColour(l)
    add(l)
    add(propertyTextField(64110, "Enter target address and port (e.g. 127.0.0.1:7000)", windowEdgePad + 50,
        windowEdgePad + 4, 300, 16))
end
