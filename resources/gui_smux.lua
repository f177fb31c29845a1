-- SMUX: the two flip switches.
getWindowSize = getWindowSize or function() return 410, 135 end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 150)
    theKnobRenderer = smallKnobRenderer
    local flip = controlGroup("Flip", 69, { { { "knob", "Flip L", "Flip L" }, { "knob", "Flip R", "Flip R" } } })
    oscGroup(false)
    placeGroupRowsPlain({ { flip } })
end
