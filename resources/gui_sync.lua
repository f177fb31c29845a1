-- Sync: the DINsync and clock outputs, and the hardware mode.
getWindowSize = getWindowSize or function() return 526, 201 end

createUI = createUI or function()
    createUICommon()
    setBannerContent("nameOnly", 20, 200)
    theKnobRenderer = smallKnobRenderer
    local clock = controlGroup("DINsync/Clock", 40, {
        {
            { "drop", "DINsync Type", "DINsync", 54, cw = 58 }, { "drop", "Divisor", "Divisor", 54, cw = 58 },
            { "button", "1st Delay", "1st Delay", 50, 30, cw = 56 }, { "knob", "PPQN", "PPQN" },
            { "knob", "Multiplier", "Mult" }, { "button", "Mute Clocks", "Mute", 40, 30, cw = 46 },
            { "drop", "Swing Type", "Swing", 54, cw = 58 }, { "knob", "Swing", "Swing" },
        },
        {
            { "knob", "Clock Output", "Clk Out", 50, cw = 54 }, { "knob", "Clock Low", "Clk Lo", 50, cw = 54 },
            { "knob", "Clock High", "Clk Hi", 50, cw = 54 }, { "knob", "Trigger Length", "Trig" },
            { "knob", "Run Output", "Run Out", 50, cw = 54 }, { "knob", "Run Low", "Run Lo", 50, cw = 54 },
            { "knob", "Run High", "Run Hi", 50, cw = 54 }, { "knob", "Offset", "Offs" },
        },
    })
    local hardware = controlGroup("Hardware", 40, { { { "drop", "QZ Hardware Mode", "Mode", 56, cw = 60 } } })
    oscGroup(false)
    placeGroupRows({ { clock, hardware } })
end
