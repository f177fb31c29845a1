-- CV To MIDI: two channels of note and controller conversion, and the MIDI
-- destination.
getWindowSize = getWindowSize or function() return 494, 404 end

-- Controls 58 apart; in the top row the drop-downs take their width and a
-- small gap, and the knobs share what is left of 58 each by their labels'
-- widths, so the row fits the window.
local function channel(letter, title)
    return controlGroup(title, 58, {
        {
            { "button", "Enable Note", "Note", 40, 30, cw = 44 },
            { "drop", "Note On Mode", "Note On", 65, cw = 68 },
            { "drop", "Note Off Mode", "Note Off", 65, cw = 68 },
            { "drop", "Gate Close Msg", "Gate Close", 65, cw = 68 },
            { "knob", "Pitch Centre", "Centre", cw = 56 },
            { "knob", "Pitch Slope", "Slope", cw = 56 },
            { "knob", "Gate Threshold", "Threshold", nil, "%.3f", cw = 64 },
            { "knob", "Max Note Length", "Length", cw = 43 },
        },
        {
            { "button", "Enable", "Enable", 40, 30 },
            { "knob", "Channel", "Channel" },
            { "button", "Enable CC", "CC", 40, 30 },
            { "knob", "Send CC", "CC #" },
            { "knob", "CC Min", "CC Min" },
            { "knob", "CC Max", "CC Max" },
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
