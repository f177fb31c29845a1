-- CV Input: two channels, and the Tessel settings behind a toggle at the
-- right edge.
getWindowSize = getWindowSize or function() return 510, 220 end

local function channel(letter, title)
    return controlGroup(title, 65, { {
        { "knob", "Level", "Level" },
        { "drop", "Mode", "Mode", 90 },
        { "button", "Bipolar", "Bipolar", 50, 30 },
        { "knob", "Scale", "Scale", 40 },
        { "knob", "Tessel Offset", "Tessel Offset", 40 },
        { "knob", "Smoothing", "Smooth", 40 },
    } }, " " .. letter)
end

toggleTesselControls = toggleTesselControls or function()
    local on = tesselButton:getState()
    if on then
        showGroups({ tesselGroup }, { leftChannelGroup, rightChannelGroup })
    else
        showGroups({ leftChannelGroup, rightChannelGroup }, { tesselGroup })
    end
end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = smallKnobRenderer
    local ww, wh = getWindowSize()
    rightChannelGroup = channel("R", "Right Channel")
    leftChannelGroup = channel("L", "Left Channel")
    tesselGroup = controlGroup("Tessel", 65, { {
        { "knob", "Tessel Filter Freq", "Filter F" },
        { "knob", "Tessel Centre", "Centre", kWideTextW },
        { "knob", "Tessel Tau 1", "Tau 1" },
        { "knob", "Tessel Tau 2", "Tau 2" },
        { "knob", "Tessel Force Smooth", "Force Smth", kWideTextW },
    } })
    oscGroup(false)
    local top = placeGroupRows({ { rightChannelGroup }, { leftChannelGroup } })
    placeGroupRows({ { tesselGroup } })
    tesselGroup:setVisible(false)
    tesselButton = luaButton(toggleTesselControls, "", "Show/Hide Tessel Config", "toggle", ww - 5, (top - 30) / 2, 5,
        30)
    add(tesselButton)
end
