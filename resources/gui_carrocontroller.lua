-- Carro Controller: the Brink controller's layout for six outputs, without
-- input modes and MIDI/CV channels.
getWindowSize = getWindowSize or function() return 670, 335 end

toggleTriggers = toggleTriggers or function()
    if triggersButton:getState() then
        showGroups(triggerGroups, normalGroups)
        carroInfo:setVisible(false)
    else
        showGroups(normalGroups, triggerGroups)
        carroInfo:setVisible(true)
    end
end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local ww, wh = getWindowSize()
    local outputs, gates, gatesIn = {}, {}, {}
    for i = 1, 6 do
        outputs[#outputs + 1] = { "knob", "Output " .. i, "Out " .. i }
        gates[#gates + 1] = { "knob", "Gates " .. i .. " MIDI Channel", "Ch " .. i }
        gates[#gates + 1] = { "knob", "Gates " .. i .. " Base Note", "Note " .. i }
    end
    for i = 1, 8 do gatesIn[#gatesIn + 1] = { "knob", "Input " .. i .. " To Gate", "In " .. i } end
    local inputs = controlGroup("Inputs", 40, { { { "drop", "Input Thru", "Thru", 50, cw = 54 } } })
    local toGates = controlGroup("Input To Gates", 40, { gatesIn })
    local outputsGroup = controlGroup("Outputs", 40, { outputs })
    local midiOut = controlGroup("MIDI Out", 40, { {
        { "drop", "MIDI Out MIDI Channel", "Channel", 50, cw = 54 },
        { "drop", "MIDI Out Channelise", "Chanlse", 50, cw = 54 }, { "knob", "MIDI Out Output", "Output" },
        { "button", "MIDI Out Clock", "Clock", 40, 30 }, { "drop", "MIDI Clock Swing Type", "Swing", 50, cw = 54 },
        { "knob", "MIDI Clock Swing", "Swing" }, { "knob", "MIDI Clock Offset", "Offset" } } })
    local gatesGroup = controlGroup("Gates", 40, { gates })
    local misc = controlGroup("Misc", 40, { { { "knob", "Test Signal", "Test" } } })
    theKnobRenderer = tinyKnobRenderer
    local triggers = expanderTriggers(6)
    theKnobRenderer = smallKnobRenderer
    local accents = expanderAccents(6)
    oscGroup(false)
    misc:setVisible(false)

    placeGroupRows({ { inputs, toGates }, { outputsGroup, midiOut }, { gatesGroup } })
    placeGroupRows({ { misc } })
    placeGroupRows({ { triggers, accents } })

    local x0, y0, x1, y1 = toGates:bounds()
    carroInfo = infoDisplay(x1 + pad, y0 + 40, ww - windowEdgePad - x1 - pad, 40, 6)
    add(carroInfo)
    local right = ww - windowEdgePad
    add(propertyTriggerButton(64094, "Don't Panic", "Don't Panic", right - 78, y0, 78, 30))
    triggersButton = luaButton(toggleTriggers, "Triggers", "Show/Hide Trigger Settings", "toggle", right - 78 - pad - 60,
        y0, 60, 30)
    add(triggersButton)

    normalGroups = { outputsGroup, gatesGroup, midiOut, inputs, toGates }
    triggerGroups = { triggers, accents }
    triggers:setVisible(false)
    accents:setVisible(false)
end
