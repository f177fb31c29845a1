-- AC Encoder: two channels turning a control voltage into an AC signal.
getWindowSize = getWindowSize or function() return 510, 220 end

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
    local right = acEncoderChannel("R", "Right Channel", 69)
    local left = acEncoderChannel("L", "Left Channel", 69)
    oscGroup(false)
    placeGroupRowsPlain({ { right }, { left } })
end
