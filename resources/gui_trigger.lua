-- Trigger: set-up, voltages and overrides on top, the envelope below with
-- its picture beside it.
getWindowSize = getWindowSize or function() return 714, 315 end

createUI = createUI or function()
    createUICommon()
    theKnobRenderer = smallKnobRenderer
    local setup = controlGroup("Setup", 46, { { { "drop", "Output Mode", "Output Mode" },
        { "knob", "Trigger Note", "Trigger Note" }, { "knob", "Smoothing", "Smoothing", kWideTextW } } })
    local trigger = controlGroup("Trigger", 46, { { { "knob", "Trigger Length", "Length" } } })
    local voltages = controlGroup("Voltages", 46, { { { "knob", "Min Voltage", "Min", kWideTextW },
        { "knob", "Max Voltage", "Max", kWideTextW } } })
    local overrides = controlGroup("Overrides", 46, { { { "button", "Override Gate", "Override", 60, 30 },
        { "knob", "Gate", "Gate" } } })
    local cv = controlGroup("CV Trigger", 46, { { { "button", "CV Trigger Enable", "Enable", 45, 30 },
        { "knob", "CV Trigger Threshold", "Threshold", kWideTextW } } })
    local env = controlGroup("Env 1", 44, {
        { { "knob", "Env 1 Time A1", "Time A1" }, { "knob", "Env 1 Time A2", "Time A2" },
          { "knob", "Env 1 Time A3", "Time A3" }, { "knob", "Env 1 Time R1", "Time R1" },
          { "knob", "Env 1 Time R2", "Time R2" }, { "knob", "Env 1 Level A1", "Level A1" },
          { "knob", "Env 1 Level A2", "Level A2" }, { "knob", "Env 1 Sustain", "Sustain" },
          { "knob", "Env 1 Level R1", "Level R1" } },
        { { "knob", "Env 1 Shape A1", "Shape A1" }, { "knob", "Env 1 Shape A2", "Shape A2" },
          { "knob", "Env 1 Shape A3", "Shape A3" }, { "knob", "Env 1 Shape R1", "Shape R1" },
          { "knob", "Env 1 Shape R2", "Shape R2" }, { "knob", "Env 1 Velocity Depth", "Velocity Depth", kWideTextW },
          { "button", "Env 1 Reset To Zero", "RTZ", 40, 30 }, { "drop", "Env 1 Multiplier", "Multiplier", 50 } },
    })
    oscGroup(false)
    placeGroupRows({ { env }, { setup, trigger, voltages, overrides, cv } })
    local x0, y0, x1, y1 = env:bounds()
    local d = envelopeDisplay(0, x1 + pad, y0, 714 - windowEdgePad - x1 - pad, voltages:height())
    setEnvelopeDisplayColours(d)
    add(d)
end
