-- CV To OSC: two channels, each with its OSC path, and the target address.
getWindowSize = getWindowSize or function() return 550, 269 end

local function channel(letter, title, pathProperty)
    local g = controlGroup(title, 60, { {
        { "button", "Enable", "Enable", 45, 30 },
        { "knob", "Threshold", "Threshold" },
        { "knob", "Max Rate", "Max Rate" },
    } }, " " .. letter)
    local x = 3 * 60 + pad
    local field = propertyTextField(pathProperty, "Enter OSC Path:", x, 0, 300, kTextFieldH + 4)
    g:add(field)
    local l = label("OSC Path", x + 150, -3)
    setLabelColour(l)
    g:add(l)
    return g
end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = smallKnobRenderer
    local right = channel("R", "Right Channel", 64112)
    local left = channel("L", "Left Channel", 64111)
    oscGroup(false)
    local top = placeGroupRows({ { right }, { left } }, windowEdgePad, windowEdgePad + 30)
    local l = label("Target:", windowEdgePad + 45, windowEdgePad + 19, "right")
    setLabelColour(l)
    add(l)
    add(propertyTextField(64110, "Enter target address and port (e.g. 127.0.0.1:7000)", windowEdgePad + 50,
        windowEdgePad + 4, 300, 16))
end
