// Dialog templates as data: for each dialog and language the title, the
// client size and every control with its id, kind, style, text and
// rectangle in dialog units, in template (and tab) order.
#pragma once

#include <vector>

#include "language.h"

namespace dlg {

enum class Kind {
    PushButton,
    DefPushButton,
    AutoCheckBox,
    StaticText,
    GroupBox,
    Picture,     // shows the bitmap whose id is in pictureId
    EtchedLine,  // a sunken frame one unit high: a separator line
    DropList,    // combo box, list only
    DropDown,    // combo box with an editable edit part
    Edit,
    ListBox,
    MonthCalendar,
    ProgressBar,
};

// Style bits; absent bits mean the platform's default for the kind.
enum Style : unsigned {
    kHidden = 1u << 0,
    kTabStop = 1u << 1,
    kGroup = 1u << 2,
    kSorted = 1u << 3,
    kVScroll = 1u << 4,
    kAutoHScroll = 1u << 5,  // edit scrolls horizontally, no word wrap
    kMultiLine = 1u << 6,
    kWantReturn = 1u << 7,  // Enter makes a new line instead of pressing the default button
    kBorder = 1u << 8,
    kNoIntegralHeight = 1u << 9,
    kNotify = 1u << 10,
    kNoToday = 1u << 11,  // month calendar without the today line at its foot
    kSunken = 1u << 12,
};

struct Rect {
    int x, y, cx, cy;
};

struct Control {
    int id;  // IDC_STATIC for controls without an id
    Kind kind;
    unsigned style;
    const char* text;  // UTF-8; empty for controls without text
    Rect rect;         // dialog units, relative to the client area
    int pictureId = 0;
};

struct Template {
    int id;
    const char* title;
    int cx, cy;  // client size in dialog units
    std::vector<Control> controls;
};

// The template with that id in that language; null when there is none.
const Template* FindTemplate(int id, Language language);

// Every template of the program, for reviews and tests.
std::vector<const Template*> AllTemplates();

}  // namespace dlg
