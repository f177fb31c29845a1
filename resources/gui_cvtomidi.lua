-- CV To MIDI: two channels of note and controller conversion, and the MIDI
-- destination.
getWindowSize = getWindowSize or function() return 494, 404 end

-- Controls 58 apart; in the top row the drop-downs' width keeps them
-- further apart, so the button and the knobs there close up a little for
-- the row to fit the window, and the drop-downs' labels leave out "Mode"
-- and "Msg".
local function channel(letter, title)
    return controlGroup(title, 58, {
        {
            { "button", "Enable Note", "Note", 40, 30, cw = 46 },
            { "drop", "Note On Mode", "Note On", 65 },
            { "drop", "Note Off Mode", "Note Off", 65 },
            { "drop", "Gate Close Msg", "Gate Close", 65 },
            { "knob", "Pitch Centre", "Centre", cw = 48 },
            { "knob", "Pitch Slope", "Slope", kWideTextW, cw = 48 },
            { "knob", "Gate Threshold", "Threshold", kWideTextW, "%.3f", cw = 48 },
            { "knob", "Max Note Length", "Length", cw = 48 },
        },
        {
            { "button", "Enable", "Enable", 46, 30 },
            { "knob", "Channel", "Channel" },
            { "button", "Enable CC", "CC", 40, 30 },
            { "knob", "Send CC", "CC #" },
            { "knob", "CC Min", "CC Min", kWideTextW },
            { "knob", "CC Max", "CC Max", kWideTextW },
        },
    }, " " .. letter)
end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = smallKnobRenderer
    local right = channel("R", "Right Channel")
    local left = channel("L", "Left Channel")
    oscGroup(false)
    placeGroupRows({ { right }, { left } }, windowEdgePad, windowEdgePad + 30)
    local l = label("Target:", windowEdgePad + 45, windowEdgePad + 19, "right")
    setLabelColour(l)
    add(l)
    add(propertyTextField(64100, "Enter MIDI destination", windowEdgePad + 50, windowEdgePad + 2, 300, 20))
    add(midiBrowseButton("Browse", "Browse for MIDI target", 64100, windowEdgePad + 360, windowEdgePad + 2, 53, 20))
end
