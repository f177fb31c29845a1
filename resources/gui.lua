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
-- A spec's field cw, when given, is its cell width.
-- Each spec takes one cell of `spacing` pixels (a drop-down or button wider
-- than that takes its width plus 6) and is centred in it; all fields and
-- drop-downs of a row sit on one line, so their labels line up.
-- About how wide a label's text is in the label font (a skin with another
-- font may redefine it).
labelWidth = labelWidth or function(text)
    return 7 * #text + 6
end

controlCellWidth = controlCellWidth or function(spec, spacing)
    if spec.cw then return spec.cw end
    local kind = spec[1]
    local w = spacing
    if kind == "drop" then
        w = math.max(w, (spec[4] or kDropdownW) + 6)
    elseif kind == "button" then
        return math.max(w, (spec[4] or 45) + 6)
    elseif kind == "big" then
        w = math.max(w, kBigKnobSize + 6)
    elseif kind == "knob" then
        w = math.max(w, (spec[4] or kKnobSize) + 6)
    end
    if spec[3] and kind ~= "gap" then
        w = math.max(w, labelWidth(spec[3]) + 2)
    end
    return w
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
controlRow = controlRow or function(g, x, y, spacing, specs, suffix)
    suffix = suffix or ""
    local rowH = controlRowHeight(specs)
    for _, spec in ipairs(specs) do
        local kind, param, text = spec[1], spec[2], spec[3]
        local cw = controlCellWidth(spec, spacing)
        local cx = x + cw / 2
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
        x = x + cw
    end
    return x
end

-- Rows of controls in one group, the first row at the top. Returns the
-- group.
controlGroup = controlGroup or function(title, spacing, rows, suffix)
    local g = group(title)
    local y = 0
    for i = #rows, 1, -1 do
        controlRow(g, 0, y, spacing, rows[i], suffix)
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
-- knobs, row 1 at the top; their value fields a little lower than others.
expanderTriggers = expanderTriggers or function(rows)
    local g = group("Triggers")
    local chosen = theKnobRenderer
    theKnobRenderer = tinyKnobRenderer or chosen
    local textH = kTextFieldH - 2
    local cell, rowH = 32, textH + 1 + kTinyKnobSize + 3
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
    for n = 1, 6 do
        local y = (6 - n) * rowH
        local l = label(tostring(n), 8, y + rowH - 8)
        setLabelColour(l)
        g:add(l)
        for c = 1, #columns do
            local format = "%.2f"
            if c == #columns then format = "%.0f" end
            knobAndTextField(g, "Output " .. n .. " " .. columns[c], nil, 18 + (c - 1) * cell, y, kTinyKnobSize,
                textH, cell - 4, format)
        end
    end
    for c = 1, #columns do
        local l = label(titles[c], 18 + (c - 1) * cell + (cell - 4) / 2, 6 * rowH + kLabelH)
        setLabelColour(l)
        g:add(l)
    end
    theKnobRenderer = chosen
    return g
end
