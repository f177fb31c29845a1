-- DC: two channels of offset and scaling.
getWindowSize = getWindowSize or function() return 510, 220 end

local function channel(letter, title)
    return controlGroup(title, 69, { {
        { "knob", "Output Positive", "Out 0->1", 40 },
        { "knob", "Output Symmetric", "Out -1->1", 40 },
        { "knob", "Multiplier", "Multiplier", 40 },
        { "knob", "Input Add", "Input Add", 40 },
        { "knob", "Input Multiply", "Input Mult", 40 },
        { "knob", "Smoothing", "Smooth", 40 },
    } }, " " .. letter)
end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = smallKnobRenderer
    local right = channel("R", "Right Channel")
    local left = channel("L", "Left Channel")
    oscGroup(false)
    placeGroupRows({ { right }, { left } })
end
