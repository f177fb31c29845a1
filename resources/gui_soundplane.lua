-- Soundplane: the voice, the output matrix, and the calibration the pitch
-- outputs follow.
getWindowSize = getWindowSize or function() return 570, 380 end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = tinyKnobRenderer
    local ww, wh = getWindowSize()
    local matrix = outputMatrixGroup({ "Offset", "Note", "Gate", "X", "Y", "Z", "Smoothing" },
        { "Offset", "Note", "Gate", "X", "Y", "Z", "Smth" }, 36)
    theKnobRenderer = smallKnobRenderer
    local voice = controlGroup("Voice", 46, { { { "knob", "Voice ID", "Voice ID" },
        { "button", "Gate Z", "Gate Z", 45, 30 } } })
    oscGroup(false)
    placeGroupRows({ { matrix, voice } })
    local x0, y0, x1, y1 = matrix:bounds()
    local cx = x1 + pad
    local cw = ww - windowEdgePad - cx
    local cal = calibrationDisplay(cx, 110, cw, 120)
    setCalibrationDisplayColours(cal)
    add(cal)
    local bw = (cw - 3 * 4) / 4
    add(button("VCLoad", "Load", cx, 240, bw, 28))
    add(button("Transfer", "Transfer", cx + (bw + 4), 240, bw, 28))
    add(propertyTriggerButton(64090, "Brink", "Create a calibration suitable for the Brink", cx + 2 * (bw + 4), 240,
        bw, 28))
    add(propertyTriggerButton(64091, "Dunmore", "Create a calibration suitable for the Dunmore", cx + 3 * (bw + 4),
        240, bw, 28))
    local name = propertyTextField(64121, "Loaded calibration file", cx, 280, cw, 16)
    name:setEditable(false)
    add(name)
end
