-- Sync: the DINsync and clock outputs, and the hardware mode.
getWindowSize = getWindowSize or function() return 526, 201 end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = smallKnobRenderer
    -- The six clock and run knobs' fields are 57 wide for the longest output
    -- names; with the hardware group beside them the window leaves the
    -- other controls only room for short labels and their drop-downs only
    -- the width their values need, and the two switches share one column.
    local switches = { "gap", cw = 72 }
    local top = {
        { "drop", "DINsync Type", "DINsync", 50 }, { "drop", "Divisor", "Divisor", 36 }, switches,
        { "knob", "PPQN", "PPQN" }, { "knob", "Multiplier", "Mult" }, { "drop", "Swing Type", "Swing Type", 35 },
        { "knob", "Swing", "Swing" }, { "knob", "Offset", "Offset", kWideTextW },
    }
    local bottom = { gap = 2,
        { "knob", "Clock Output", "Clock Out", 57 }, { "knob", "Clock Low", "Clock Low", 57 },
        { "knob", "Clock High", "Clock High", 57 }, { "knob", "Run Output", "Run Out", 57 },
        { "knob", "Run Low", "Run Low", 57 }, { "knob", "Run High", "Run High", 57 },
        { "knob", "Trigger Length", "Trig" },
    }
    local clock = controlGroup("DINsync/Clock", 40, { top, bottom })
    local centres = controlCentres(top, 40)
    local x, y = centres[3] - 32, controlRowHeight(bottom) + kLabelH + 4
    clock:add(paramButton("1st Delay", "1st Delay", x, y + 25, 64, 22))
    clock:add(paramButton("Mute Clocks", "Mute", x, y, 64, 22))
    local hardware = controlGroup("Hardware", 40, { { { "drop", "QZ Hardware Mode", "Mode", 56 } } })
    oscGroup(false)
    placeGroupRows({ { clock, hardware } })
end
