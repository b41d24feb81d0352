// user32 of the simulated machine: message boxes (recorded, answered from the
// test's script) and the text helpers the product uses.
#include <string.h>

#include "sim/machine.h"

using sim::Current;

namespace {
int Answer(UINT type) {
    sim::Machine& m = Current();
    if ((type & 0xF) == MB_OK) return IDOK;
    if (!m.answers.empty()) {
        int a = m.answers.front();
        m.answers.pop_front();
        return a;
    }
    return (type & 0xF) == MB_YESNO ? m.defaultYesNo : IDOK;
}

// A message box runs a modal loop: what the user did meanwhile is dispatched
// to the thread's windows before the box returns.
int Show(sim::MessageBoxCall& c) {
    sim::Machine& m = Current();
    m.boxes.push_back(c);
    if (m.gui.duringMessageBox) {
        std::function<void()> act = m.gui.duringMessageBox;
        act();
    }
    m.gui.Pump();
    return c.answer;
}
}  // namespace

int MessageBoxA(HWND owner, LPCSTR text, LPCSTR title, UINT type) {
    sim::MessageBoxCall c;
    c.text = text ? text : "";
    c.title = title ? title : "";
    c.flags = type;
    c.owner = owner;
    c.answer = Answer(type);
    return Show(c);
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR title, UINT type) {
    sim::MessageBoxCall c;
    c.wide = true;
    c.wtext = text ? text : u"";
    c.wtitle = title ? title : u"";
    c.flags = type;
    c.owner = owner;
    c.answer = Answer(type);
    return Show(c);
}

LPSTR CharUpperA(LPSTR text) {
    if ((uintptr_t)text < 0x10000) {
        unsigned c = (unsigned)(uintptr_t)text;
        return (LPSTR)(uintptr_t)((c >= 'a' && c <= 'z') ? c - 32 : c);
    }
    for (unsigned char* p = (unsigned char*)text; *p; p++) {
        if (*p >= 0x81 && p[1]) {
            p++;
            continue;
        }
        if (*p >= 'a' && *p <= 'z') *p = (unsigned char)(*p - 32);
    }
    return text;
}

int lstrcmpA(LPCSTR a, LPCSTR b) {
    int r = strcmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}

int lstrcmpiA(LPCSTR a, LPCSTR b) {
    int r = strcasecmp(a ? a : "", b ? b : "");
    return r < 0 ? -1 : r > 0 ? 1 : 0;
}
