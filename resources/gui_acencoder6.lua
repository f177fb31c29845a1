-- AC Encoder (6ch): six channels, two to a row, channels 1 and 2 on top.
getWindowSize = getWindowSize or function() return 603, 314 end

acEncoderChannel = acEncoderChannel or function(suffix, title, spacing)
    return controlGroup(title, spacing, { {
        { "button", "Enable", "Enable", 45, 30 },
        { "drop", "Input Polarity", "Input" },
        { "knob", "Min Output Level", "Min Out" },
        { "knob", "Max Output Level", "Max Out" },
    } }, " " .. suffix)
end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = smallKnobRenderer
    local suffixes = { "L", "R", "3", "4", "5", "6" }
    local g = {}
    for i = 1, 6 do
        g[i] = acEncoderChannel(suffixes[i], "Channel " .. i, 49)
    end
    oscGroup(false)
    placeGroupRowsPlain({ { g[5], g[6] }, { g[3], g[4] }, { g[1], g[2] } })
end
