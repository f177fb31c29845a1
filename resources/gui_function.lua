-- Function: two channels, each with its transfer curve.
getWindowSize = getWindowSize or function() return 400, 400 end

local function channel(letter, title, id)
    local s = " " .. letter
    local g = group(title)
    local upper = kTextFieldH + 1 + kKnobSize + kLabelH + 4
    controlRow(g, 0, upper, 50, { { "drop", "Function", "Function", 90, cw = 100 },
        { "button", "Enable", "Enable", 45, 30, cw = 100 } }, s)
    local x = controlRow(g, 0, 0, 50, {
        { "knob", "Input Offset", "In Offset", kWideTextW }, { "knob", "Input Scale", "In Scale", kWideTextW },
        { "knob", "Output Offset", "Out Offset", kWideTextW }, { "knob", "Output Scale", "Out Scale", kWideTextW },
    }, s)
    local d = functionDisplay(id, x + pad, -kLabelH + 3, 120, upper + 30 + kLabelH - 3)
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
