-- Step LFO: two channels, each with its step editor beside the controls.
getWindowSize = getWindowSize or function() return 854, 360 end

local function channel(letter, title, id)
    local s = " " .. letter
    local g = group(title)
    local upper = 30 + kLabelH + 4
    local right = controlRow(g, 0, upper, 40, {
        { "knob", "Speed", "Speed" }, { "knob", "Beats", "Beats" }, { "knob", "Phase", "Phase" },
        { "knob", "Asymmetry", "Asym" }, { "knob", "Smoothing", "Smooth" }, { "knob", "Swing", "Swing" },
        { "knob", "Offset", "Offset" }, { "knob", "Multiplier", "Scale" }, { "knob", "Start Step", "Start" },
        { "knob", "Length In Steps", "Length" }, { "knob", "End Step", "End" },
    }, s)
    local lowerEnd = controlRow(g, 0, 0, 40, {
        { "drop", "Speed Multiplier", "Speed x", 56 }, { "drop", "Sync", "Sync", 56 },
        { "drop", "Beat Divisor", "Divisor", 56 }, { "button", "Triplet", "Triplet", 40, 30 },
        { "drop", "Speed Mode", "Mode", 56 }, { "drop", "Interpolation", "Interp", 56 },
        { "drop", "Range Mode", "Range", 56 }, { "drop", "Length Mode", "Len Mode", 56 },
        { "drop", "Swing Type", "Swing", 56 }, { "drop", "Input Mode", "Input", 56 },
    }, s)
    local x = math.max(right, lowerEnd) + pad
    local e = stepEditor(id, x, -kLabelH, 820 - x - 2 * pad, upper + kTextFieldH + 1 + kKnobSize + kLabelH)
    setStepEditorColours(e)
    g:add(e)
    return g
end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local right = channel("R", "Right Channel", 1)
    local left = channel("L", "Left Channel", 0)
    oscGroup(false)
    placeGroupRows({ { right }, { left } })
end
