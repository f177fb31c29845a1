-- Follower: the pitch and envelope follower's settings and outputs, its
-- traces, and the calibration its pitch output follows.
getWindowSize = getWindowSize or function() return 685, 360 end

local function outputs(letter, title)
    return controlGroup(title, 46, { { { "knob", "Output Pitch", "Pitch", kWideTextW }, { "knob", "Output Env", "Env", kWideTextW },
        { "knob", "Smoothing", "Smoothing", kWideTextW } } }, " " .. letter)
end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local ww, wh = getWindowSize()
    -- The pitch settings share their row with the calibration, so their
    -- labels are short; the follower's row has room for more.
    local follower = controlGroup("Follower", 46, { { { "drop", "Input Source", "Input Source" },
        { "knob", "Highpass Cutoff", "Highpass" }, { "knob", "Lowpass Cutoff", "Lowpass" },
        { "knob", "Env Gain", "Env Gain" }, { "knob", "Env Attack", "Env Attack" },
        { "knob", "Env Release", "Env Release" }, { "knob", "Env Gate", "Env Gate" } } })
    local pitch = controlGroup("Pitch", 46, { { { "drop", "Pitch Mode", "Mode" },
        { "knob", "Volts Per Octave", "V/Oct" }, { "knob", "Hz Per Volt", "Hz/V", kWideTextW },
        { "drop", "V Scale Mode", "V Scale" }, { "knob", "Manual V Scale", "Manual" },
        { "knob", "Zero V Coarse", "Zero V", nil, "%.0f" }, { "knob", "Zero V Fine", "Fine", nil, "%.1f" } } })
    local right = outputs("R", "Right Outputs")
    local left = outputs("L", "Left Outputs")
    oscGroup(false)
    local top = placeGroupRows({ { pitch, right }, { follower, left } })

    local x0, y0, x1, y1 = right:bounds()
    local cx = x1 + pad
    local cw = ww - windowEdgePad - cx
    local cal = calibrationDisplay(cx, windowEdgePad + 40, cw, y1 - windowEdgePad - 40)
    setCalibrationDisplayColours(cal)
    add(cal)
    add(button("VCLoad", "Load", cx, windowEdgePad, cw / 2 - 2, 28))
    add(button("Transfer", "Transfer", cx + cw / 2 + 2, windowEdgePad, cw / 2 - 2, 28))

    local half = (ww - 2 * windowEdgePad - pad) / 2
    local env = followerEnvDisplay(windowEdgePad, top, half, 100)
    setFollowerEnvelopeDisplayColours(env)
    add(env)
    local pd = followerPitchDisplay(windowEdgePad + half + pad, top, half, 100)
    setFollowerPitchDisplayColours(pd)
    add(pd)
    add(followerInfoDisplay(windowEdgePad, top + 104, half, 30))
    local name = propertyTextField(64121, "Loaded calibration file", windowEdgePad + half + pad, top + 111, half, 16)
    name:setEditable(false)
    add(name)
end
