-- Step LFO: two channels, each with its step editor beside the controls.
getWindowSize = getWindowSize or function() return 854, 360 end

local function channel(letter, title, id)
    local s = " " .. letter
    local g = group(title)
    local lower = {
        { "knob", "Phase", "Phase" }, { "knob", "Asymmetry", "Asymmetry", kWideTextW }, { "knob", "Smoothing", "Smoothing", kWideTextW },
        { "knob", "Swing", "Swing" }, { "drop", "Swing Type", "Swing Type" }, { "drop", "Input Mode", "Input Mode" },
        { "knob", "Offset", "Offset", kWideTextW }, { "knob", "Multiplier", "Scale", kWideTextW }, { "knob", "Start Step", "Start" },
        { "knob", "Length In Steps", "Length" }, { "knob", "End Step", "End" },
    }
    local upper = controlRowHeight(lower) + kLabelH + 4
    local upperEnd = controlRow(g, 0, upper, 40, {
        { "knob", "Speed", "Speed" }, { "knob", "Beats", "Beats" }, { "drop", "Speed Multiplier", "Speed Multiplier" },
        { "drop", "Sync", "Sync", 68 }, { "drop", "Beat Divisor", "Beat Divisor" }, { "drop", "Speed Mode", "Speed Mode" },
        { "drop", "Interpolation", "Interpolation" }, { "drop", "Range Mode", "Range" },
        { "drop", "Length Mode", "Length Mode", 72 }, { "button", "Triplet", "Triplet", 44, 30 },
    }, s)
    local lowerEnd = controlRow(g, 0, 0, 40, lower, s)
    local x = math.max(upperEnd, lowerEnd) + pad
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
