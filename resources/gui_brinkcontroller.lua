-- Brink Controller: inputs and their modes, the MIDI/CV channels, outputs,
-- gates and MIDI out; the trigger lengths and accents behind "Triggers".
getWindowSize = getWindowSize or function() return 723, 450 end

local function midiCV(n)
    local p = "Ch " .. n .. " "
    return controlGroup("MIDI/CV " .. n, 40, { {
        { "knob", p .. "MIDI Channel", "Chan" }, { "knob", p .. "Range Min", "Min", nil, "%.0f" },
        { "knob", p .. "Range Max", "Max", nil, "%.0f" }, { "knob", p .. "Gate Output", "Gate" },
        { "knob", p .. "Vel Output", "Vel" }, { "drop", p .. "Note Priority", "Priority", 56, cw = 64 },
        { "drop", p .. "Retrigger Mode", "Retrig", 56, cw = 60 },
    } })
end

toggleTriggers = toggleTriggers or function()
    if triggersButton:getState() then
        showGroups(triggerGroups, normalGroups)
    else
        showGroups(normalGroups, triggerGroups)
    end
end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local ww, wh = getWindowSize()
    local inputs = { { "drop", "Input Thru", "Thru", 50, cw = 54 } }
    local modes, gatesIn, outputs, gates = {}, {}, {}, {}
    for i = 1, 5 do
        inputs[#inputs + 1] = { "drop", "Input " .. i, "In " .. i, 50, cw = 54 }
        modes[#modes + 1] = { "drop", "Input Mode " .. i, "Mode " .. i, 50, cw = 54 }
        outputs[#outputs + 1] = { "knob", "Output " .. i, "Out " .. i }
        gates[#gates + 1] = { "knob", "Gates " .. i .. " MIDI Channel", "Ch " .. i }
        gates[#gates + 1] = { "knob", "Gates " .. i .. " Base Note", "Note " .. i }
    end
    for i = 1, 8 do gatesIn[#gatesIn + 1] = { "knob", "Input " .. i .. " To Gate", "In " .. i } end
    local inputsGroup = controlGroup("Inputs", 40, { inputs })
    local midiOut = controlGroup("MIDI Out", 40, { {
        { "drop", "MIDI Out MIDI Channel", "Channel", 50, cw = 54 },
        { "drop", "MIDI Out Channelise", "Chanlse", 50, cw = 54 }, { "knob", "MIDI Out Output", "Output" },
        { "button", "MIDI Out Clock", "Clock", 40, 30 }, { "drop", "MIDI Clock Swing Type", "Swing", 50, cw = 54 },
        { "knob", "MIDI Clock Swing", "Swing" }, { "knob", "MIDI Clock Offset", "Offset" } } })
    local modesGroup = controlGroup("Input Modes", 40, { modes })
    local toGates = controlGroup("Input To Gates", 40, { gatesIn })
    local cv1, cv2 = midiCV(1), midiCV(2)
    local outputsGroup = controlGroup("Outputs", 40, { outputs })
    local gatesGroup = controlGroup("Gates", 40, { gates })
    local misc = controlGroup("Misc", 40, { { { "knob", "Test Signal", "Test" } } })
    theKnobRenderer = tinyKnobRenderer
    local triggers = expanderTriggers(5)
    theKnobRenderer = smallKnobRenderer
    local accents = expanderAccents(5)
    oscGroup(false)
    misc:setVisible(false)

    local top = placeGroupRows({ { inputsGroup, midiOut }, { modesGroup, toGates }, { cv1, cv2 },
        { outputsGroup, gatesGroup } })
    placeGroupRows({ { misc } })
    local _, _, _, y = toGates:bounds()
    y = y + pad
    triggers:setPosition(windowEdgePad, y, true)
    accents:setPosition(windowEdgePad + triggers:width() + pad, y, true)

    local x0, y0, x1, y1 = toGates:bounds()
    triggersButton = luaButton(toggleTriggers, "Triggers", "Show/Hide Trigger Settings", "toggle", x1 + pad,
        y0 + 4, 60, 30)
    add(triggersButton)
    -- Just above the groups, clear of the banner and the Prefs button.
    local stripY = top - 5
    -- Its five columns of "000 " run past its 100 pixels: room for them
    -- before the window's edge.
    local infoX = ww - windowEdgePad - 145
    add(infoDisplay(infoX, stripY, 100, 40, 5))
    add(propertyTriggerButton(64094, "Don't Panic", "Don't Panic", infoX - pad - 78, stripY, 78,
        30))

    normalGroups = { cv1, cv2, outputsGroup, gatesGroup, midiOut }
    triggerGroups = { triggers, accents }
    triggers:setVisible(false)
    accents:setVisible(false)
end
