#include "gui/dialogs/PreferencesPanel.h"

#include <epoxy/gl.h>

#include <algorithm>
#include <cmath>

#include "platform/Debug.h"

namespace QZ {

namespace {

constexpr float kPanelWidth = 400.0f;
constexpr float kRowHeight = 18.0f;
constexpr int kRows = 7; // title, five rows of fields, the buttons
constexpr float kPadding = 8.0f;
constexpr float kColumnGap = 12.0f;

constexpr uint8_t kKeyBackspace = 8;
constexpr uint8_t kKeyReturn = 13;
constexpr uint8_t kKeyEscape = 27;

const Colour kBackdrop{0.0f, 0.0f, 0.0f, 0.55f};
const Colour kPanelFill{0.13f, 0.14f, 0.15f, 1.0f};
const Colour kFrame{0.45f, 0.47f, 0.50f, 1.0f};
const Colour kTitle{0.95f, 0.95f, 0.95f, 1.0f};
const Colour kLabel{0.78f, 0.80f, 0.82f, 1.0f};
const Colour kValue{0.95f, 0.95f, 0.95f, 1.0f};
const Colour kFieldFill{0.06f, 0.07f, 0.08f, 1.0f};
const Colour kButtonFill{0.24f, 0.26f, 0.29f, 1.0f};
const Colour kCheckMark{0.55f, 0.80f, 0.95f, 1.0f};

Box MakeBox(float x0, float y0, float x1, float y1)
{
    return Box{x0, y0, 0, x1, y1, 0};
}

void Fill(const Box& box, const Colour& colour)
{
    glColor4f(colour.r, colour.g, colour.b, colour.a);
    glBegin(GL_QUADS);
    glVertex2f(box.x0, box.y0);
    glVertex2f(box.x1, box.y0);
    glVertex2f(box.x1, box.y1);
    glVertex2f(box.x0, box.y1);
    glEnd();
}

void Outline(const Box& box, const Colour& colour)
{
    glColor4f(colour.r, colour.g, colour.b, colour.a);
    glBegin(GL_LINE_LOOP);
    glVertex2f(box.x0 + 0.5f, box.y0 + 0.5f);
    glVertex2f(box.x1 - 0.5f, box.y0 + 0.5f);
    glVertex2f(box.x1 - 0.5f, box.y1 - 0.5f);
    glVertex2f(box.x0 + 0.5f, box.y1 - 0.5f);
    glEnd();
}

} // namespace

// Layout

PreferencesPanel::Layout PreferencesPanel::LayOut(float windowWidth, float windowHeight)
{
    Layout layout;
    const float width = std::min(kPanelWidth, std::max(0.0f, windowWidth - 4.0f));
    layout.rowHeight = std::min(kRowHeight, std::max(0.0f, (windowHeight - 4.0f - 12.0f) / kRows));
    const float height = layout.rowHeight * kRows + 12.0f;
    const float x0 = std::floor((windowWidth - width) / 2.0f);
    const float y0 = std::floor((windowHeight - height) / 2.0f);
    layout.panel = MakeBox(x0, y0, x0 + width, y0 + height);
    const float column = (width - 2 * kPadding - kColumnGap) / 2.0f;
    layout.leftColumn = x0 + kPadding;
    layout.rightColumn = layout.leftColumn + column + kColumnGap;

    // A part on row `row` of a column, from `from` to `to` (fractions of it).
    const float inset = layout.rowHeight > 6.0f ? 2.0f : 0.0f;
    auto part = [&](float columnLeft, int row, float from, float to) {
        const float top = layout.Row(row) + layout.rowHeight;
        return MakeBox(std::floor(columnLeft + column * from), top - layout.rowHeight + inset,
                       std::floor(columnLeft + column * to), top - inset);
    };
    const float left = layout.leftColumn, right = layout.rightColumn;
    layout.parts[kLink] = part(left, 2, 0.0f, 1.0f);
    layout.parts[kPort] = part(left, 3, 0.62f, 1.0f);
    layout.parts[kArrangementPrevious] = part(left, 5, 0.0f, 0.5f);
    layout.parts[kArrangementNext] = part(left, 5, 0.5f, 1.0f);
    layout.parts[kSkinPrevious] = part(right, 1, 0.22f, 0.61f);
    layout.parts[kSkinNext] = part(right, 1, 0.61f, 1.0f);
    layout.parts[kOpenSkinFolder] = part(right, 2, 0.22f, 1.0f);
    layout.parts[kEyeCandy] = part(right, 3, 0.0f, 1.0f);
    layout.parts[kConstantRedraw] = part(right, 4, 0.0f, 1.0f);
    layout.parts[kFloatingTooltip] = part(right, 5, 0.0f, 1.0f);
    layout.parts[kCancel] = part(right, 6, 0.22f, 0.59f);
    layout.parts[kOk] = part(right, 6, 0.63f, 1.0f);
    return layout;
}

int PreferencesPanel::PartAt(const Layout& layout, const Point& point)
{
    for (int i = 0; i < kPartCount; ++i) {
        const Box& box = layout.parts[i];
        if (point.x >= box.x0 && point.x < box.x1 && point.y >= box.y0 && point.y < box.y1)
            return i;
    }
    return -1;
}

// Installation

PreferencesPanel* PreferencesPanel::Install(Manager& manager)
{
    if (PreferencesPanel* installed = Of(manager))
        return installed;
    auto* root = dynamic_cast<Group*>(manager.Root());
    if (!root)
        return nullptr;
    auto* panel = new PreferencesPanel(&manager);
    root->AddChildFirst(panel);
    // The dialog is drawn in the pop-up pass, over every control and
    // renderer.
    manager.SetDrawPopups(true);
    return panel;
}

PreferencesPanel* PreferencesPanel::Of(const Manager& manager)
{
    auto* root = dynamic_cast<Group*>(manager.Root());
    if (!root || root->Children().empty())
        return nullptr;
    return dynamic_cast<PreferencesPanel*>(root->Children().front());
}

bool ShowPreferencesDialog(Manager& manager)
{
    PreferencesPanel* panel = PreferencesPanel::Of(manager);
    if (!panel) {
        corvane::DebugPrintf("Preferences: this editor has no preferences panel\n");
        return false;
    }
    return panel->Open();
}

// UI thread

bool PreferencesPanel::Open()
{
    if (model)
        return false;
    model = std::make_unique<PreferencesModel>(manager->Plugin());
    manager->SetKeyFocus(this);
    // The control under the pointer (the Prefs button) is covered by the
    // panel now: neither its readout nor its tooltip is drawn over it.
    manager->SetHoveredParameter(-1);
    manager->SetTooltipElement(nullptr);
    Publish();
    return true;
}

void PreferencesPanel::Close()
{
    model.reset();
    if (manager->KeyFocus() == this)
        manager->SetKeyFocus(nullptr);
    Publish();
}

void PreferencesPanel::Publish()
{
    Shown next;
    if (model) {
        next.open = true;
        next.product = model->ProductText();
        next.version = model->VersionText();
        next.port = model->PortText();
        const auto& skins = model->Skins();
        const int skin = model->SelectedSkin();
        next.skin = skin >= 0 && skin < static_cast<int>(skins.size()) ? skins[static_cast<size_t>(skin)] : "";
        const int arrangement = model->Arrangement();
        next.arrangement = arrangement >= 0 && arrangement < static_cast<int>(PreferencesModel::kArrangements.size())
                               ? PreferencesModel::kArrangements[static_cast<size_t>(arrangement)]
                               : "";
        next.eyeCandy = model->EyeCandy();
        next.constantRedraw = model->ConstantRedraw();
        next.floatingTooltip = model->FloatingTooltip();
    }
    std::lock_guard<std::mutex> hold(shownLock);
    shown = std::move(next);
}

void PreferencesPanel::Click(int part)
{
    if (!model)
        return;
    const int skins = static_cast<int>(model->Skins().size());
    const int arrangements = static_cast<int>(PreferencesModel::kArrangements.size());
    // Stepping wraps around, and a preference naming none of the choices
    // (-1) steps to the first or the last.
    auto step = [](int current, int count, int by) { return current < 0 ? (by > 0 ? 0 : count - 1) : (current + by + count) % count; };
    switch (part) {
    case kLink:
        model->VisitMakerSite();
        break;
    case kSkinPrevious:
    case kSkinNext:
        if (skins > 0)
            model->ChooseSkin(step(model->SelectedSkin(), skins, part == kSkinNext ? 1 : -1));
        break;
    case kOpenSkinFolder:
        model->OpenSkinFolder();
        break;
    case kEyeCandy:
        model->ToggleEyeCandy();
        break;
    case kConstantRedraw:
        model->ToggleConstantRedraw();
        break;
    case kFloatingTooltip:
        model->ToggleFloatingTooltip();
        break;
    case kArrangementPrevious:
    case kArrangementNext:
        model->ChooseArrangement(step(model->Arrangement(), arrangements, part == kArrangementNext ? 1 : -1));
        break;
    case kOk:
        model->Ok();
        Close();
        return;
    case kCancel:
        Close();
        return;
    default:
        break;
    }
    Publish();
}

UIElement* PreferencesPanel::HitTest(const Point&)
{
    // Modal: while open every press of the editor comes here.
    return model ? this : nullptr;
}

void PreferencesPanel::MouseDown(const Point& point, uint32_t, int)
{
    if (!model)
        return;
    // The manager drops the key focus on every press; the port keeps it.
    manager->SetKeyFocus(this);
    Click(PartAt(LayOut(static_cast<float>(manager->WindowWidth()), static_cast<float>(manager->WindowHeight())),
                 point));
}

bool PreferencesPanel::KeyDown(uint8_t key)
{
    if (!model)
        return false;
    if (key >= '0' && key <= '9') {
        model->SetPortText(model->PortText() + static_cast<char>(key));
    } else if (key == kKeyBackspace) {
        std::string text = model->PortText();
        if (!text.empty())
            text.pop_back();
        model->SetPortText(text);
    } else if (key == kKeyReturn) {
        Click(kOk);
        return true;
    } else if (key == kKeyEscape) {
        Click(kCancel);
        return true;
    } else {
        return true; // modal: no key reaches the controls below
    }
    Publish();
    return true;
}

// render thread

void PreferencesPanel::Update()
{
    std::lock_guard<std::mutex> hold(shownLock);
    drawn = shown;
}

void PreferencesPanel::InitGL()
{
    font = LoadFirstAvailableFont({{"verdana.ttf", 11}, {"arial.ttf", 11}});
    if (font && font->HasFont())
        PreloadGlyphs(*font);
}

void PreferencesPanel::Text(const std::string& text, float x, float y, const Colour& colour)
{
    FontRecord* record = font && font->HasFont() ? font.get() : nullptr;
    if (!record)
        return;
    if (nextText >= texts.size())
        texts.emplace_back();
    TextCache& cache = texts[nextText++];
    glColor4f(colour.r, colour.g, colour.b, colour.a);
    cache.Layout(record, text, std::floor(x), std::floor(y - record->Descender()));
    cache.Draw(record);
}

void PreferencesPanel::CentredText(const std::string& text, const Box& box, const Colour& colour)
{
    if (!font || !font->HasFont())
        return;
    const float width = MeasureText(*font, text);
    const float lh = font->LineHeight();
    Text(text, (box.x0 + box.x1 - width) / 2.0f, (box.y0 + box.y1 - lh) / 2.0f + 1.0f, colour);
}

void PreferencesPanel::DrawPopup()
{
    if (drawn.open && IsVisible()) {
        glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_LIGHTING);
        glDisable(GL_TEXTURE_2D);
        DrawDialog();
        glPopAttrib();
    }
}

void PreferencesPanel::DrawDialog()
{
    const float windowWidth = static_cast<float>(manager->WindowWidth());
    const float windowHeight = static_cast<float>(manager->WindowHeight());
    const Layout layout = LayOut(windowWidth, windowHeight);
    nextText = 0;

    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    Fill(MakeBox(0, 0, windowWidth, windowHeight), kBackdrop);
    glDisable(GL_BLEND);
    Fill(layout.panel, kPanelFill);
    Outline(layout.panel, kFrame);

    const float lh = layout.rowHeight;
    const float left = layout.leftColumn, right = layout.rightColumn;
    auto baseline = [&](int row) { return layout.Row(row) + (lh - (font ? font->LineHeight() : 0.0f)) / 2.0f + 1.0f; };
    // Title row: the dialog's caption over the left column, "Preferences"
    // over the right one.
    Text(PreferencesModel::kTitle, left, baseline(0), kTitle);
    Text("Preferences", right, baseline(0), kTitle);
    // Left column: who made what, the maker's site, the port, the arrangement.
    Text(std::string(PreferencesModel::kMaker) + "  " + drawn.product + "  " + drawn.version, left, baseline(1),
         kValue);
    Text("OSC Base Port:", left, baseline(3), kLabel);
    Text("VC output arrangement:", left, baseline(4), kLabel);
    Text("Skin:", right, baseline(1), kLabel);

    auto button = [&](int part, const std::string& text) {
        const Box& box = layout.parts[part];
        Fill(box, kButtonFill);
        Outline(box, kFrame);
        CentredText(text, box, kValue);
    };
    button(kLink, PreferencesModel::kMakerLinkText);
    button(kOpenSkinFolder, "Open skin folder");
    button(kCancel, "Cancel");
    button(kOk, "OK");

    // The port field.
    const Box& port = layout.parts[kPort];
    Fill(port, kFieldFill);
    Outline(port, kFrame);
    Text(drawn.port + "_", port.x0 + 4, (port.y0 + port.y1 - (font ? font->LineHeight() : 0.0f)) / 2.0f + 1.0f,
         kValue);

    // The two choosers: "<  value  >" over their halves.
    auto chooser = [&](int previous, int next, const std::string& value) {
        const Box whole = MakeBox(layout.parts[previous].x0, layout.parts[previous].y0, layout.parts[next].x1,
                                  layout.parts[next].y1);
        Fill(whole, kFieldFill);
        Outline(whole, kFrame);
        CentredText(value, whole, kValue);
        Text("<", whole.x0 + 4, (whole.y0 + whole.y1 - (font ? font->LineHeight() : 0.0f)) / 2.0f + 1.0f, kLabel);
        Text(">", whole.x1 - 10, (whole.y0 + whole.y1 - (font ? font->LineHeight() : 0.0f)) / 2.0f + 1.0f, kLabel);
    };
    chooser(kSkinPrevious, kSkinNext, drawn.skin);
    chooser(kArrangementPrevious, kArrangementNext, drawn.arrangement);

    // Check boxes: a square, filled while on, and the label.
    auto check = [&](int part, const char* label, bool on) {
        const Box& row = layout.parts[part];
        const float side = std::min(10.0f, row.y1 - row.y0);
        const float y = std::floor((row.y0 + row.y1 - side) / 2.0f);
        const Box box = MakeBox(row.x0, y, row.x0 + side, y + side);
        Fill(box, kFieldFill);
        Outline(box, kFrame);
        if (on)
            Fill(MakeBox(box.x0 + 2, box.y0 + 2, box.x1 - 2, box.y1 - 2), kCheckMark);
        Text(label, row.x0 + side + 6, (row.y0 + row.y1 - (font ? font->LineHeight() : 0.0f)) / 2.0f + 1.0f, kLabel);
    };
    check(kEyeCandy, "Eye candy", drawn.eyeCandy);
    check(kConstantRedraw, "Constant redraw", drawn.constantRedraw);
    check(kFloatingTooltip, "Floating tooltip", drawn.floatingTooltip);
}

} // namespace QZ
