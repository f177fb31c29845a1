-- Voice Controller: modes, voltages, overrides and tuning always shown; the
-- lower left shows one panel at a time (simple envelopes, one envelope in
-- full, the output matrix or the hardware settings), chosen by the buttons
-- above the envelope pictures.
getWindowSize = getWindowSize or function() return 925, 385 end

-- An envelope's group: the group's title names the envelope, so its
-- labels leave the "Env n" out.
local function envelopeGroup(e)
    local p = "Env " .. e .. " "
    return controlGroup("Env " .. e, 40, {
        { { "knob", p .. "Time A1", "Time A1" }, { "knob", p .. "Time A2", "Time A2" },
          { "knob", p .. "Time A3", "Time A3" }, { "knob", p .. "Time R1", "Time R1" },
          { "knob", p .. "Time R2", "Time R2" }, { "knob", p .. "Level A1", "Level A1" },
          { "knob", p .. "Level A2", "Level A2" } },
        { { "knob", p .. "Shape A1", "Shape A1" }, { "knob", p .. "Shape A2", "Shape A2" },
          { "knob", p .. "Shape A3", "Shape A3" }, { "knob", p .. "Shape R1", "Shape R1" },
          { "knob", p .. "Shape R2", "Shape R2" }, { "knob", p .. "Sustain", "Sustain" },
          { "knob", p .. "Level R1", "Level R1" } },
    })
end

local panels = {}
local envelopeDisplays = {}

-- The output matrix needs the height of the envelope pictures too.
local function showPanel(name)
    local on = panels[name]
    local all = {}
    for _, list in pairs(panels) do
        for _, g in ipairs(list) do all[#all + 1] = g end
    end
    for _, d in ipairs(envelopeDisplays) do elementSetVisible(d, name ~= "outputs") end
    showGroups(on, all)
end

envsButton = envsButton or function() showPanel("simple") end
env1Button = env1Button or function() showPanel("env1") end
env2Button = env2Button or function() showPanel("env2") end
env3Button = env3Button or function() showPanel("env3") end
outputsButton = outputsButton or function() showPanel("outputs") end
brinkButton = brinkButton or function() showPanel("hw") end

-- The labels of the groups always shown are short: the output matrix
-- needs its width beside them.
createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local modes = controlGroup("Modes", 40, { { { "drop", "Note Priority", "Priority" },
        { "drop", "Retrigger Mode", "Retrig" }, { "drop", "Poly Mode", "Poly" },
        { "knob", "Polyphony/Voice", "Ply/Vox" } } })
    local voltages = controlGroup("Voltages", 40, { { { "knob", "Gate Closed Voltage", "Gate Off", kWideTextW },
        { "knob", "Gate Open Voltage", "Gate On", kWideTextW }, { "knob", "Trigger Off Voltage", "Trig Off", kWideTextW },
        { "knob", "Trigger On Voltage", "Trig On", kWideTextW }, { "knob", "Velocity Min Voltage", "Vel Min", kWideTextW },
        { "knob", "Velocity Max Voltage", "Vel Max", kWideTextW } } })
    -- The override switches one above the other, their names whole, in the
    -- knobs' height; the knobs beside them.
    local overrides = controlGroup("Overrides", 40, { { { "gap", cw = 102 }, { "knob", "Pitch", "Pitch" },
        { "knob", "Gate", "Gate" } } })
    local switchH = (kTextFieldH + 1 + kKnobSize - 3) / 2
    overrides:add(paramButton("Override Pitch", "Override Pitch", 0, switchH + 3, 98, switchH))
    overrides:add(paramButton("Override Gate", "Override Gate", 0, 0, 98, switchH))
    local detune = controlGroup("Detune", 38, { { { "knob", "Pitch Wheel Range", "Bend Rng" },
        { "knob", "Transpose", "Trans", kWideTextW }, { "knob", "Detune", "Detune", kWideTextW },
        { "knob", "Random Tuning", "Rand" }, { "knob", "Pitch LFO Depth", "LFO D" },
        { "knob", "Pitch LFO Speed", "LFO S" } } })

    -- Each envelope in two columns: its attack times above, its sustain and
    -- release below.
    local attacks, releases = {}, {}
    for e = 1, 3 do
        local p = "Env " .. e .. " "
        for _, name in ipairs({ "Time A2", "Time A3" }) do
            attacks[#attacks + 1] = { "knob", p .. name, p .. name }
        end
        for _, name in ipairs({ "Sustain", "Time R1" }) do
            releases[#releases + 1] = { "knob", p .. name, p .. name }
        end
    end
    local simple = controlGroup("Simple Env Controls", 40, { attacks, releases })
    local envs = { envelopeGroup(1), envelopeGroup(2), envelopeGroup(3) }
    local misc = controlGroup("Env Misc", 40, {
        { { "knob", "Env 1 Velocity Depth", "Vel Depth 1", kWideTextW }, { "knob", "Env 2 Velocity Depth", "Vel Depth 2", kWideTextW },
          { "knob", "Env 3 Velocity Depth", "Vel Depth 3", kWideTextW } },
        { { "drop", "Env 1 Multiplier", "Mult 1", 35 }, { "button", "Env 1 Reset To Zero", "RTZ 1", 40, 22 },
          { "drop", "Env 2 Multiplier", "Mult 2", 35 }, { "button", "Env 2 Reset To Zero", "RTZ 2", 40, 22 },
          { "drop", "Env 3 Multiplier", "Mult 3", 35 }, { "button", "Env 3 Reset To Zero", "RTZ 3", 40, 22 } },
    })
    local trigger = controlGroup("Trigger", 40, { { { "knob", "Trigger Length", "Length" } } })
    local portamento = controlGroup("Portamento", 40, { { { "drop", "Portamento Mode", "Portamento Mode", 70 },
        { "knob", "Portamento Time", "Portamento Time" }, { "knob", "Portamento Shape", "Portamento Shape" } } })
    theKnobRenderer = tinyKnobRenderer
    local matrix = outputMatrixGroup(
        { "Offset", "Pitch", "Gate", "Env1", "Env2", "Env3", "Trigger", "Velocity", "Smoothing" },
        { "Offset", "Pitch", "Gate", "Env1", "Env2", "Env3", "Trig", "Vel", "Smth" }, 36, kTextFieldH - 2)
    theKnobRenderer = smallKnobRenderer
    local brink = controlGroup("Brink", 40, { { { "button", "Bipolar 3", "Bipolar 3", 62, 30 },
        { "button", "Bipolar 4", "Bipolar 4", 62, 30 }, { "button", "Bipolar 5", "Bipolar 5", 62, 30 },
        { "button", "Brink Mode", "Brink Mode", 78, 30 } } })
    -- Each caption whole on its button; one above the other, as the column
    -- has no room for both side by side.
    local calibration = group("Calibration")
    calibration:add(propertyTriggerButton(64091, "Create Dunmore Calibration", "Create Dunmore Calibration", 0, 36,
        190, 30))
    calibration:add(propertyTriggerButton(64090, "Create Brink Calibration", "Create Brink Calibration", 0, 0,
        190, 30))
    oscGroup(false)

    -- Left: the panel area at the bottom, the groups always shown above it.
    local panelTop = 0
    for _, g in ipairs({ simple, envs[1], envs[2], envs[3] }) do
        placeGroupRows({ { g } })
        panelTop = math.max(panelTop, g:height())
    end
    placeGroupRows({ { voltages, overrides }, { detune, modes } }, windowEdgePad, windowEdgePad + panelTop + pad)
    -- Right: envelope settings, the output matrix or the hardware groups,
    -- then the pictures and buttons.
    local right = windowEdgePad + math.max(voltages:width() + overrides:width(), detune:width() + modes:width()) +
        2 * pad
    -- The simple envelope panel's names take more than the column; the
    -- groups shown beside it move over (the matrix and the hardware groups
    -- are never shown with it).
    placeGroupRows({ { misc, trigger }, { portamento } }, math.max(right, windowEdgePad + simple:width() + pad))
    placeGroupRows({ { matrix } }, right)
    placeGroupRows({ { brink }, { calibration } }, right)

    local ww, wh = getWindowSize()
    local y = matrix:height() + windowEdgePad + 3
    for i, id in ipairs({ 2, 1, 0 }) do
        local d = envelopeDisplay(id, right + (i - 1) * 70, y, 64, 28)
        setEnvelopeDisplayColours(d)
        add(d)
        envelopeDisplays[i] = d
    end
    local c = calibrationDisplay(right + 3 * 70, y, 128, 28)
    setCalibrationDisplayColours(c)
    add(c)
    local panelButtons = {
        { envsButton, "Simple", "Show Simple Envelope Controls" },
        { env1Button, "Env 1", "Show Envelope 1 Controls" },
        { env2Button, "Env 2", "Show Envelope 2 Controls" },
        { env3Button, "Env 3", "Show Envelope 3 Controls" },
        { outputsButton, "Outputs", "Show Output Matrix" },
        { brinkButton, "H/W", "Show Ormbury Hardware Controls" },
    }
    y = y + 31
    for i, b in ipairs(panelButtons) do
        add(luaButton(b[1], b[2], b[3], "push", right + (i - 1) * 55, y, 53, 14))
    end
    y = y + 16
    -- Widths that fit each caption, spread over the column.
    local widths = { 100, 97, 35, 36, 78 }
    local gap = (ww - windowEdgePad - right - 346) / 4
    local x = right
    local function place(element, i)
        add(element)
        x = x + widths[i] + gap
    end
    place(propertyTriggerButton(64092, "Calibrate V/oct", "Start calibration routine", x, y, widths[1], 20), 1)
    place(propertyTriggerButton(64093, "Calibrate Hz/V", "Start calibration routine", x, y, widths[2], 20), 2)
    place(button("VCLoad", "Load", x, y, widths[3], 20), 3)
    place(button("VCSave", "Save", x, y, widths[4], 20), 4)
    place(propertyTriggerButton(64094, "Don't Panic", "Don't Panic", x, y, widths[5], 20), 5)

    panels.simple = { simple, misc, trigger, portamento }
    panels.env1 = { envs[1], misc, trigger, portamento }
    panels.env2 = { envs[2], misc, trigger, portamento }
    panels.env3 = { envs[3], misc, trigger, portamento }
    panels.outputs = { matrix }
    panels.hw = { brink, calibration }
    showPanel("simple")
end
