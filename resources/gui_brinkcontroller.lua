-- Brink Controller: inputs and their modes, the MIDI/CV channels, outputs,
-- gates and MIDI out; the trigger lengths and accents behind "Triggers".
getWindowSize = getWindowSize or function() return 723, 450 end

-- A MIDI/CV channel. Its gate and velocity outputs' fields are as wide as
-- their longest value names ("Gates 5/8", "Output 5"); the controls close
-- up for both channels to fit side by side.
local function midiCV(n)
    local p = "Ch " .. n .. " "
    return controlGroup("MIDI/CV " .. n, 36, { { gap = 2,
        { "knob", p .. "MIDI Channel", "Chan" }, { "knob", p .. "Range Min", "Min", nil, "%.0f" },
        { "knob", p .. "Range Max", "Max", nil, "%.0f" }, { "knob", p .. "Gate Output", "Gate", 57 },
        { "knob", p .. "Vel Output", "Vel", 51 }, { "drop", p .. "Note Priority", "Priority", 48 },
        { "drop", p .. "Retrigger Mode", "Retrig", 58 },
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
    local inputs = { { "drop", "Input Thru", "Input Thru", 50 } }
    local modes, outputs = {}, {}
    for i = 1, 5 do
        inputs[#inputs + 1] = { "drop", "Input " .. i, "Input " .. i, 50 }
        modes[#modes + 1] = { "drop", "Input Mode " .. i, "Mode " .. i, 50 }
        outputs[#outputs + 1] = { "knob", "Output " .. i, "Output " .. i }
    end
    local inputsGroup = controlGroup("Inputs", 40, { inputs })
    local modesGroup = controlGroup("Input Modes", 40, { modes })
    -- "Input 1" names the first input's drop-down already.
    local toGates = expanderInputsToGates("In ")
    local gatesGroup = expanderGates(5)
    local outputsGroup = controlGroup("Outputs", 38, { { outputs[1], outputs[2], outputs[3] },
        { outputs[4], outputs[5] } })
    local cv1, cv2 = midiCV(1), midiCV(2)
    local midiOut = expanderMidiOut()
    local misc = controlGroup("Misc", 40, { { { "knob", "Test Signal", "Test Signal" } } })
    local triggers = expanderTriggers(5)
    local accents = expanderAccents(5)
    oscGroup(false)
    misc:setVisible(false)

    -- Bottom up: the drop-down row, the gate assignments beside the outputs,
    -- the two MIDI/CV channels, then MIDI out with the buttons and the
    -- info display.
    local top = placeGroupRows({ { inputsGroup, modesGroup }, { toGates, gatesGroup, outputsGroup } })
    placeGroupRows({ { misc } })
    local y = placeGroupRows({ { cv1, cv2 } }, windowEdgePad, top)
    placeGroupRows({ { midiOut } }, windowEdgePad, y)
    local _, _, x, _ = midiOut:bounds()
    x = x + pad
    triggersButton = luaButton(toggleTriggers, "Triggers", "Show/Hide Trigger Settings", "toggle", x, y + 27, 60,
        30)
    add(triggersButton)
    add(propertyTriggerButton(64094, "Don't Panic", "Don't Panic", x + 60 + pad, y + 27, 78, 30))
    -- Its five columns of "000 " run past its 100 pixels: room for them
    -- before the window's edge.
    add(infoDisplay(ww - windowEdgePad - 145, y + 22, 100, 40, 5))

    -- The trigger page: the trigger lengths where the gates and outputs
    -- were, the accents above the gate assignments.
    local x0, y0 = gatesGroup:bounds()
    triggers:setPosition(x0, y0, true)
    local _, _, _, toGatesTop = toGates:bounds()
    accents:setPosition(windowEdgePad, toGatesTop + pad, true)

    normalGroups = { cv1, cv2, outputsGroup, gatesGroup, midiOut }
    triggerGroups = { triggers, accents }
    triggers:setVisible(false)
    accents:setVisible(false)
end
