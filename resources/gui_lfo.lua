-- LFO: two channels; big rate knobs on the left, the shape mix and the
-- timing controls beside them, and a picture of one cycle.
getWindowSize = getWindowSize or function() return 733, 360 end

local function channel(letter, title, id)
    local s = " " .. letter
    local g = group(title)
    local x = controlRow(g, 0, 0, 46, { gap = 0, { "big", "Speed", "Speed" }, { "big", "Beats", "Beats" } }, s)
    local upper = 30 + kLabelH + 4
    -- The big knobs side by side, and the fields here 2 apart, leave the
    -- shape mix's labels room in the window.
    local right = controlRow(g, x, upper, 38, { gap = 2,
        { "knob", "Phase", "Phase" }, { "knob", "Offset", "Offset", kWideTextW }, { "knob", "Asymmetry", "Asym", kWideTextW },
        { "knob", "Pulse Width", "PW" }, { "knob", "Smoothing", "Smoothing", kWideTextW }, { "knob", "Swing", "Swing" },
        { "knob", "Sine", "Sine", kWideTextW }, { "knob", "Triangle", "Triangle", kWideTextW }, { "knob", "Saw", "Saw", kWideTextW },
        { "knob", "Square", "Square", kWideTextW }, { "knob", "Random", "Random" }, { "knob", "Noise", "Noise" },
    }, s)
    local lowerEnd = controlRow(g, x, 0, 40, {
        { "drop", "Speed Multiplier", "Speed Multiplier" }, { "drop", "Sync", "Sync", 68 },
        { "drop", "Beat Divisor", "Beat Divisor" }, { "button", "Triplet", "Triplet", 44, 30 },
        { "button", "Reset By Note", "Reset", 40, 30 }, { "drop", "Swing Type", "Swing Type", 35 },
        { "drop", "Input Mode", "Input Mode" },
    }, s)
    local d = waveformDisplay(id, lowerEnd + 4, 0, right - lowerEnd - 4, 30)
    setWaveformDisplayColours(d)
    g:add(d)
    return g
end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = bigKnobRenderer
    local right = channel("R", "Right Channel", 1)
    local left = channel("L", "Left Channel", 0)
    oscGroup(false)
    placeGroupRows({ { right }, { left } })
end
