-- The shared library of every editor script: constants, colours, fonts and
-- the helpers that place knobs, text fields, drop-downs and groups.
--
-- Every global is defined only while it is still nil, so a skin's "gui.lua"
-- (which runs first) replaces any of them: a skin that sets kKnobSize
-- changes every knob of every editor.
--
-- Coordinates are pixels from the window's lower-left corner, y upwards.

kBitmapTinyKnobSize = kBitmapTinyKnobSize or 26
kBitmapKnobSize = kBitmapKnobSize or 34
kBitmapBigKnobSize = kBitmapBigKnobSize or 92
pad = pad or 10.0
windowEdgePad = windowEdgePad or 5.0
kTinyKnobSize = kTinyKnobSize or kBitmapTinyKnobSize
kKnobSize = kKnobSize or kBitmapKnobSize
kBigKnobSize = kBigKnobSize or kBitmapBigKnobSize
kTextFieldH = kTextFieldH or 12
kDropdownW = kDropdownW or 60
-- The width of a value field whose values carry a sign and four figures
-- ("-1.000", "-100.0") or run to five digits: a field as wide as a knob
-- cuts their first character off.
kWideTextW = kWideTextW or 37
-- Height a label takes under its field, and the gap above the banner.
kLabelH = kLabelH or 17
kBannerSpace = kBannerSpace or 32

setLabelColour = setLabelColour or function(l)
    l:setBackgroundColour(0.1, 0.1, 0.15, 0.3)
    l:setForegroundColour(0.9, 0.9, 0.9, 1.0)
end

getGraphBackgroundColour = getGraphBackgroundColour or function() return 0.1, 0.1, 0.1, 1 end
getGraphFillColour = getGraphFillColour or function() return 0.15, 0.25, 0.5, 1 end
getGraphLineColour = getGraphLineColour or function() return 0.3, 0.5, 1, 1 end

setEnvelopeDisplayColours = setEnvelopeDisplayColours or function(d)
    d:setBackgroundColour(getGraphBackgroundColour())
    d:setFillColour(getGraphFillColour())
    d:setLineColour(getGraphLineColour())
end
setFollowerPitchDisplayColours = setFollowerPitchDisplayColours or setEnvelopeDisplayColours

setCalibrationDisplayColours = setCalibrationDisplayColours or function(d)
    d:setBackgroundColour(getGraphBackgroundColour())
    d:setLineColour(getGraphLineColour())
end
setWaveformDisplayColours = setWaveformDisplayColours or setCalibrationDisplayColours
setFunctionDisplayColours = setFunctionDisplayColours or setCalibrationDisplayColours

setFollowerEnvelopeDisplayColours = setFollowerEnvelopeDisplayColours or function(d)
    setEnvelopeDisplayColours(d)
    d:setPeakLineColour(0.3, 0.8, 0.6, 1.0)
end

setStepEditorColours = setStepEditorColours or function(d)
    d:setBackgroundColour(getGraphBackgroundColour())
    d:setLineColour(getGraphLineColour())
    d:setFillColour(0.2, 0.4, 0.8, 1)
end

setUIColours = setUIColours or function()
    setBackgroundColour(0.4, 0.4, 0.4)
    setBannerColour(0.1, 0.1, 0.15, 0.3)
    setBannerTextColour(0.9, 0.9, 0.9, 1.0)
    setGroupActiveColour(0.7, 0.7, 0.7, 1.0)
    setGroupInactiveColour(0.6, 0.6, 0.6, 1.0)
end

local function fontList(size)
    local second = "arial.ttf"
    if isMac then second = "Monaco.dfont" end
    return { { name = "Verdana.ttf", size = size }, { name = second, size = size } }
end
getFont = getFont or function() return fontList(13) end
getLabelFont = getLabelFont or function() return fontList(11) end
getTextFieldFont = getTextFieldFont or function() return fontList(11) end

-- A knob with its value field under it and its label under the field; the
-- narrower of knob and field is centred over the wider.
knobAndTextField = knobAndTextField or function(g, param, labelText, x, y, size, textH, textW, format)
    textW = textW or size
    format = format or ""
    local knobX, textX = x, x
    if textW > size then
        knobX = x + (textW - size) / 2
    else
        textX = x + (size - textW) / 2
    end
    g:add(knob(param, knobX, y + textH + 1, size))
    g:add(textField(param, textX, y, textW, textH, format))
    if labelText then
        local l = label(labelText, textX + textW / 2, y - 3)
        setLabelColour(l)
        g:add(l)
    end
end

smallKnobAndTextField = smallKnobAndTextField or function(g, param, labelText, x, y, textW, format)
    knobAndTextField(g, param, labelText, x, y, kKnobSize, kTextFieldH, textW, format)
end

bigKnobAndTextField = bigKnobAndTextField or function(g, param, labelText, x, y)
    knobAndTextField(g, param, labelText, x, y, kBigKnobSize, kTextFieldH, kKnobSize, "")
end

labelledDropDown = labelledDropDown or function(g, param, labelText, x, y, w)
    w = w or kDropdownW
    g:add(dropDown(param, x, y, w, kTextFieldH))
    local l = label(labelText, x + w / 2, y - 3)
    setLabelColour(l)
    g:add(l)
end

createKnobRenderers = createKnobRenderers or function()
    local t = texture("buttons.png")
    tinyKnobRenderer = arcKnobRenderer(t, 2, 128 - 100 - 26, 26, 32, 128 - 100 - 26)
    smallKnobRenderer = arcKnobRenderer(t, 2, 128 - 2 - 34, 34, 2, 128 - 42 - 34)
    bigKnobRenderer = arcKnobRenderer(t, 52, 128 - 2 - 92, 92, 162, 128 - 2 - 92)
end

createUICommon = createUICommon or function()
    createKnobRenderers()
    setUIColours()
    local ww, wh = getWindowSize()
    local w = kKnobSize + 20
    local bx = ww - w - windowEdgePad
    setBannerBounds(pad, wh - 25, bx - pad, wh - 10)
    setBannerContent("full", 60, -1)
    add(button("Prefs", "Prefs", bx, wh - 25 - windowEdgePad, w, 25))
end

-- The row of controls helpers. A control spec is a table:
--   { "knob", param, label [, textW [, format]] }   small knob and field
--   { "big", param, label }                          big knob
--   { "tiny", param, label [, format] }              tiny knob
--   { "drop", param, label [, width] }               drop-down
--   { "button", param, text [, width [, height]] }   parameter button
--   { "gap" }                                        an empty cell
-- Controls follow each other `spacing` pixels apart, centre to centre (a
-- spec's field cw, when given, is its own share of that), further apart
-- only where two controls, or two labels, would otherwise come closer than
-- a few pixels; all fields and drop-downs of a row sit on one line, so
-- their labels line up.

-- The advances of the characters 32 to 126 in the label font as it is
-- found here (11 pixels); a skin with another label font may redefine
-- labelWidth.
local kLabelAdvances = { 4, 4, 5, 9, 7, 10, 9, 3, 4, 4, 6, 9, 4, 4, 4, 4, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 4, 4, 9,
    9, 9, 6, 11, 8, 8, 8, 8, 7, 6, 9, 8, 3, 3, 7, 6, 9, 8, 9, 7, 9, 8, 7, 7, 8, 8, 11, 8, 7, 8, 4, 4, 4, 9, 6, 6,
    7, 7, 6, 7, 7, 4, 7, 7, 3, 3, 6, 3, 11, 7, 7, 7, 7, 5, 6, 4, 7, 7, 9, 7, 7, 6, 7, 4, 7, 9 }

-- The width of a label's box: its text and the inset on both sides.
labelWidth = labelWidth or function(text)
    local w = 6
    for i = 1, #text do
        w = w + (kLabelAdvances[text:byte(i) - 31] or 7)
    end
    return w
end

-- How wide a spec's control is on the field line.
controlWidth = controlWidth or function(spec)
    local kind = spec[1]
    if kind == "knob" then return math.max(kKnobSize, spec[4] or kKnobSize)
    elseif kind == "big" then return kBigKnobSize
    elseif kind == "tiny" then return kTinyKnobSize
    elseif kind == "drop" then return spec[4] or kDropdownW
    elseif kind == "button" then return spec[4] or 45
    end
    return 0
end

-- Gaps kept between neighbouring controls and between neighbouring labels.
kControlGap = kControlGap or 4
kLabelGap = kLabelGap or 2

-- The centre of every spec of a row, from the row's start, and the row's
-- width. A row's field gap, when given, replaces kControlGap.
controlCentres = controlCentres or function(specs, spacing)
    local centres, width = {}, 0
    local gap = specs.gap or kControlGap
    local labelEnd = -kLabelGap
    for i, spec in ipairs(specs) do
        local room = (spec.cw or spacing) / 2
        local half = controlWidth(spec) / 2
        local labelHalf = 0
        if spec[3] and spec[1] ~= "button" and spec[1] ~= "gap" then
            labelHalf = labelWidth(spec[3]) / 2
        end
        local c = math.max(room, half + gap / 2)
        if i > 1 then
            local prev = specs[i - 1]
            c = centres[i - 1] + math.max((prev.cw or spacing) / 2 + room,
                (controlWidth(prev) + controlWidth(spec)) / 2 + gap)
        end
        if labelHalf > 0 then
            c = math.max(c, labelEnd + kLabelGap + labelHalf)
            labelEnd = c + labelHalf
        end
        centres[i] = c
        width = math.max(width, c + math.max(room, half + gap / 2, labelHalf))
    end
    return centres, width
end

-- The height of a row: the tallest control above the field line.
controlRowHeight = controlRowHeight or function(specs)
    local h = kTextFieldH
    for _, spec in ipairs(specs) do
        local kind = spec[1]
        if kind == "knob" then h = math.max(h, kTextFieldH + 1 + kKnobSize)
        elseif kind == "big" then h = math.max(h, kTextFieldH + 1 + kBigKnobSize)
        elseif kind == "tiny" then h = math.max(h, kTextFieldH + 1 + kTinyKnobSize)
        elseif kind == "button" then h = math.max(h, spec[5] or 30)
        end
    end
    return h
end

-- Places the specs from x along the field line y; suffix is appended to
-- every parameter name (" L", " R", or ""). Returns the x after the row.
-- centres, when given, replaces the row's own (controlCentres).
controlRow = controlRow or function(g, x, y, spacing, specs, suffix, centres)
    suffix = suffix or ""
    local rowH = controlRowHeight(specs)
    local width
    if centres then
        width = centres.width
    else
        centres, width = controlCentres(specs, spacing)
    end
    for i, spec in ipairs(specs) do
        local kind, param, text = spec[1], spec[2], spec[3]
        local cx = x + centres[i]
        if param then param = param .. suffix end
        -- Each knob size draws with its own renderer (the script's choice
        -- when the renderer of that size is missing).
        local chosen = theKnobRenderer
        if kind == "knob" then
            theKnobRenderer = smallKnobRenderer or chosen
            local textW = spec[4] or kKnobSize
            smallKnobAndTextField(g, param, text, cx - math.max(kKnobSize, textW) / 2, y, textW, spec[5])
        elseif kind == "big" then
            theKnobRenderer = bigKnobRenderer or chosen
            bigKnobAndTextField(g, param, text, cx - kBigKnobSize / 2, y)
        elseif kind == "tiny" then
            theKnobRenderer = tinyKnobRenderer or chosen
            knobAndTextField(g, param, text, cx - kTinyKnobSize / 2, y, kTinyKnobSize, kTextFieldH, kTinyKnobSize,
                spec[4])
        elseif kind == "drop" then
            local w = spec[4] or kDropdownW
            labelledDropDown(g, param, text, cx - w / 2, y, w)
        elseif kind == "button" then
            local w, h = spec[4] or 45, spec[5] or 30
            g:add(paramButton(param, text, cx - w / 2, y + (rowH - h) / 2, w, h))
        end
        theKnobRenderer = chosen
    end
    return x + width
end

-- Rows of controls in one group, the first row at the top. Returns the
-- group.
controlGroup = controlGroup or function(title, spacing, rows, suffix)
    local g = group(title)
    -- Rows of as many controls line them up in columns, each as far from
    -- the last as the row that needs most room wants.
    local columns
    for _, row in ipairs(rows) do
        if #row ~= #rows[1] then columns = nil break end
        local centres, width = controlCentres(row, spacing)
        if not columns then
            columns = { width = 0 }
            for i = 1, #row do columns[i] = 0 end
        end
        for i = 1, #row do
            local step = centres[i] - (centres[i - 1] or 0)
            columns[i] = math.max(columns[i], step)
        end
        columns.width = math.max(columns.width, width - centres[#row])
    end
    if columns and #rows > 1 then
        for i = 2, #columns do columns[i] = columns[i - 1] + columns[i] end
        columns.width = columns.width + columns[#columns]
    else
        columns = nil
    end
    local y = 0
    for i = #rows, 1, -1 do
        controlRow(g, 0, y, spacing, rows[i], suffix, columns)
        y = y + controlRowHeight(rows[i]) + kLabelH + 4
    end
    return g
end

-- Places rows of groups bottom-up from the window's lower-left corner: the
-- first row lowest. In a row each group follows the previous one with pad
-- between them; the next row starts above the row's tallest group.
-- Returns the top of the last row.
placeGroupRows = placeGroupRows or function(rows, x0, y0)
    local y = y0 or windowEdgePad
    for _, row in ipairs(rows) do
        local x = x0 or windowEdgePad
        local tallest = 0
        for _, g in ipairs(row) do
            g:setPosition(x, y, true)
            x = x + g:width() + pad
            tallest = math.max(tallest, g:height())
        end
        y = y + tallest + pad
    end
    return y
end

-- The plain placement of the small editors: each group's own origin (its
-- field line's left end) goes to the point, the rows starting at (20, 30);
-- each next group in a row follows the previous one's width and pad, the
-- next row starts the first group's height and pad higher.
placeGroupRowsPlain = placeGroupRowsPlain or function(rows)
    local y = 30
    for _, row in ipairs(rows) do
        local x = 20
        for _, g in ipairs(row) do
            g:setPosition(x, y)
            x = x + g:width() + pad
        end
        y = y + row[1]:height() + pad
    end
    return y
end

-- The hidden group every editor carries for the OSC port offset; shown only
-- by the Learner.
oscGroup = oscGroup or function(visible)
    local g = controlGroup("OSC", 50, { { { "knob", "OSC Port Offset", "Port" } } })
    g:setVisible(visible and true or false)
    return g
end

-- Shows the groups of `on` and hides those of `off`, then redraws the
-- labels.
showGroups = showGroups or function(on, off)
    for _, g in ipairs(off) do g:setVisible(false) end
    for _, g in ipairs(on) do g:setVisible(true) end
    redrawLabels()
end

-- The expander controllers' trigger lengths: `rows` rows of eight tiny
-- knobs, row 1 at the top; their value fields a little lower than others
-- and wide enough for "100.0".
expanderTriggers = expanderTriggers or function(rows)
    local g = group("Triggers")
    local chosen = theKnobRenderer
    theKnobRenderer = tinyKnobRenderer or chosen
    local textH = kTextFieldH - 2
    local cell, rowH = 37, textH + 1 + kTinyKnobSize + 3
    for r = 1, rows do
        local y = (rows - r) * rowH
        for c = 1, 8 do
            knobAndTextField(g, "Trigger " .. r .. "/" .. c .. " Length", nil, (c - 1) * cell, y, kTinyKnobSize,
                textH, cell - 4, "")
        end
    end
    theKnobRenderer = chosen
    return g
end

-- The expander controllers' gate assignment of their eight inputs, each
-- labelled by the prefix and its number: the gate names ("Gates 5/8") need
-- fields 57 wide, so four to a row.
expanderInputsToGates = expanderInputsToGates or function(prefix)
    local rows = { {}, {} }
    for i = 1, 8 do
        local row = rows[i <= 4 and 1 or 2]
        row[#row + 1] = { "knob", "Input " .. i .. " To Gate", prefix .. i, 57 }
    end
    return controlGroup("Input To Gates", 40, rows)
end

-- The expander controllers' gates: each gate's MIDI channel above its base
-- note.
expanderGates = expanderGates or function(count)
    local channels, notes = {}, {}
    for i = 1, count do
        channels[i] = { "knob", "Gates " .. i .. " MIDI Channel", "Ch " .. i }
        notes[i] = { "knob", "Gates " .. i .. " Base Note", "Note " .. i }
    end
    return controlGroup("Gates", 40, { channels, notes })
end

-- The expander controllers' MIDI out; its output field as wide as the
-- gate names.
expanderMidiOut = expanderMidiOut or function()
    return controlGroup("MIDI Out", 40, { {
        { "drop", "MIDI Out MIDI Channel", "Channel", 50 }, { "drop", "MIDI Out Channelise", "Channelise", 50 },
        { "knob", "MIDI Out Output", "Output", 57 }, { "button", "MIDI Out Clock", "Clock", 40, 30 },
        { "drop", "MIDI Clock Swing Type", "Swing Type", 50 }, { "knob", "MIDI Clock Swing", "Swing" },
        { "knob", "MIDI Clock Offset", "Offset", kWideTextW } } })
end

-- The expander controllers' accent switches: per row the steps 2, 4, 6, 8.
expanderAccents = expanderAccents or function(rows)
    local g = group("Accents")
    for r = 1, rows do
        local y = (rows - r) * 34
        for i, step in ipairs({ 2, 4, 6, 8 }) do
            g:add(paramButton("Accent " .. r .. "/" .. step, r .. "/" .. step, (i - 1) * 42, y, 38, 28))
        end
    end
    return g
end

-- An output matrix of tiny knobs: rows "Output 1 <column>" .. "Output 6
-- <column>" numbered from the top, the column titles above them; every
-- value with two decimals but the last column's with none. textH: the
-- value fields' height (default kTextFieldH).
outputMatrixGroup = outputMatrixGroup or function(columns, titles, cell, textH)
    textH = textH or kTextFieldH
    local g = group("Output Matrix")
    local chosen = theKnobRenderer
    theKnobRenderer = tinyKnobRenderer or chosen
    local rowH = textH + 1 + kTinyKnobSize + 3
    local left = 14 -- room for the row numbers
    for n = 1, 6 do
        local y = (6 - n) * rowH
        local l = label(tostring(n), 7, y + rowH - 8)
        setLabelColour(l)
        g:add(l)
        for c = 1, #columns do
            local format = "%.2f"
            if c == #columns then format = "%.0f" end
            knobAndTextField(g, "Output " .. n .. " " .. columns[c], nil, left + (c - 1) * cell, y, kTinyKnobSize,
                textH, cell - 4, format)
        end
    end
    -- The titles centred over their columns; one wider than its column
    -- ("Offset") leans left, clear of the next.
    local nextLeft = math.huge
    for c = #columns, 1, -1 do
        local w = labelWidth(titles[c])
        local centre = math.min(left + (c - 1) * cell + (cell - 4) / 2, nextLeft - kLabelGap - w / 2)
        local l = label(titles[c], centre, 6 * rowH + kLabelH)
        setLabelColour(l)
        g:add(l)
        nextLeft = centre - w / 2
    end
    theKnobRenderer = chosen
    return g
end
