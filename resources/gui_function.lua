-- Function: two channels, each with its transfer curve.
getWindowSize = getWindowSize or function() return 400, 400 end

-- The knobs' names whole need two rows: input above output, the function
-- and its switch at their left, the curve beside them as high as both.
local function channel(letter, title, id)
    local g = controlGroup(title, 50, {
        { { "drop", "Function", "Function", 90 }, { "knob", "Input Offset", "Input Offset", kWideTextW },
          { "knob", "Input Scale", "Input Scale", kWideTextW } },
        { { "button", "Enable", "Enable", 45, 30 }, { "knob", "Output Offset", "Output Offset", kWideTextW },
          { "knob", "Output Scale", "Output Scale", kWideTextW } },
    }, " " .. letter)
    local x0, y0, x1, y1 = g:bounds()
    local ww = getWindowSize()
    -- From the group's right margin to the window's edge, less the margin.
    local x = x1
    local right = x0 + ww - 2 * windowEdgePad - 10
    local d = functionDisplay(id, x, y0 + 10, right - x, y1 - y0 - 20)
    setFunctionDisplayColours(d)
    g:add(d)
    return g
end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 140)
    theKnobRenderer = smallKnobRenderer
    local right = channel("R", "Right Channel", 1)
    local left = channel("L", "Left Channel", 0)
    oscGroup(false)
    placeGroupRows({ { right }, { left } })
end
