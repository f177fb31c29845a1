-- Dunmore Combiner: the target, the inputs with their filters, the offsets.
getWindowSize = getWindowSize or function() return 650, 125 end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local target = controlGroup("Target", 40, { { { "drop", "Target Hardware", "Hardware", 56, cw = 60 },
        { "drop", "Target Channel", "Channel", 56, cw = 60 } } })
    local inputs = group("Inputs")
    labelledDropDown(inputs, "Input Thru", "Thru", 2, 0, 40)
    -- The inputs as close as their filter switches' names allow.
    for i = 1, 4 do
        local x = 47 + (i - 1) * 48
        labelledDropDown(inputs, "Input " .. i, "Input " .. i, x, 0, 40)
        inputs:add(paramButton("Filter " .. i, "Filter " .. i, x - 3, kTextFieldH + 6, 46, 24))
    end
    local offsets = controlGroup("Offsets", 46, { { { "knob", "Offset 1", "Offset 1", 40, "%.3f" },
        { "knob", "Offset 2", "Offset 2", 40, "%.3f" }, { "knob", "Offset 3", "Offset 3", 40, "%.3f" },
        { "knob", "Offset 4", "Offset 4", 40, "%.3f" } } })
    local misc = controlGroup("Misc", 40, { { { "knob", "Test Signal", "Test Signal" } } })
    misc:setVisible(false)
    oscGroup(false)
    placeGroupRows({ { target, inputs, offsets } })
    placeGroupRows({ { misc } })
end
