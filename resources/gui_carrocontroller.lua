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
    local outputs = {}
    for i = 1, 6 do
        outputs[i] = { "knob", "Output " .. i, "Out " .. i }
    end
    local inputs = controlGroup("Inputs", 40, { { { "drop", "Input Thru", "Input Thru", 50 } } })
    local toGates = expanderInputsToGates("Input ")
    local gatesGroup = expanderGates(6)
    local outputsGroup = controlGroup("Outputs", 40, { outputs })
    local midiOut = expanderMidiOut()
    local misc = controlGroup("Misc", 40, { { { "knob", "Test Signal", "Test Signal" } } })
    local triggers = expanderTriggers(6)
    local accents = expanderAccents(6)
    oscGroup(false)
    misc:setVisible(false)

    -- Bottom up: the inputs, gate assignments and gates; outputs and MIDI
    -- out; then the buttons and the info display. The trigger page puts the
    -- trigger lengths and accents where the first two rows were.
    local y = placeGroupRows({ { inputs, toGates, gatesGroup }, { outputsGroup, midiOut } })
    placeGroupRows({ { misc } })
    placeGroupRows({ { triggers, accents } })
    local right = ww - windowEdgePad
    add(propertyTriggerButton(64094, "Don't Panic", "Don't Panic", right - 78, y, 78, 30))
    triggersButton = luaButton(toggleTriggers, "Triggers", "Show/Hide Trigger Settings", "toggle", right - 78 - pad - 60,
        y, 60, 30)
    add(triggersButton)
    carroInfo = infoDisplay(windowEdgePad, y, 170, 40, 6)
    add(carroInfo)

    normalGroups = { outputsGroup, gatesGroup, midiOut, inputs, toGates }
    triggerGroups = { triggers, accents }
    triggers:setVisible(false)
    accents:setVisible(false)
end
