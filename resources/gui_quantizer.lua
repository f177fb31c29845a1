-- Quantizer: two channels, and the calibration the quantizer steps follow.
getWindowSize = getWindowSize or function() return 786, 257 end

local function channel(letter, title, index)
    local s = " " .. letter
    local g = group(title)
    local x = controlRow(g, 0, 0, 46, {
        { "button", "Enable", "Enable", 45, 30 }, { "drop", "Mode", "Mode" },
        { "knob", "Steps", "Steps" }, { "knob", "Steps Fine", "Fine", kWideTextW, "%.3f" },
        { "knob", "Offset", "Offset" }, { "knob", "Transpose", "Transpose", kWideTextW },
        { "button", "Enable Scale", "Enable Scale", 84, 30 }, { "drop", "Key", "Key" },
        { "drop", "Scale", "Scale", 90 }, { "knob", "Key Offset", "Key Offset", kWideTextW },
        { "knob", "Smoothing", "Smoothing", kWideTextW },
    }, s)
    g:add(quantizerInfoDisplay(x + 4, 9, 49, 30, index))
    return g
end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local right = channel("R", "Right Channel", 1)
    local left = channel("L", "Left Channel", 0)
    oscGroup(false)
    placeGroupRows({ { right }, { left } }, windowEdgePad, windowEdgePad + 30 + pad)
    local y = windowEdgePad
    local l = label("Calibration loaded from:", 150, y + 22, "right")
    setLabelColour(l)
    add(l)
    local name = propertyTextField(64121, "Loaded calibration file", 155, y + 7, 300, 16)
    name:setEditable(false)
    add(name)
    add(button("QuantizerLoad", "Load", 470, y, 60, 30))
    add(propertyTriggerButton(64090, "Brink", "Create a calibration suitable for the Brink", 570, y, 60, 30))
    add(propertyTriggerButton(64091, "Dunmore", "Create a calibration suitable for the Dunmore", 670, y, 60, 30))
end
