#pragma once
// Small templates and window classes the framework tests share: a page with one control of
// each kind, whose handlers record what reaches them.

#include "framework/Button.h"
#include "framework/ComboBox.h"
#include "framework/DataExchange.h"
#include "framework/Edit.h"
#include "framework/ProgressBar.h"
#include "framework/PropertyPage.h"
#include "framework/Static.h"

#include <functional>
#include <string>
#include <vector>

namespace fwtest {

using namespace std::string_view_literals;

inline constexpr int kEditA = 2001;
inline constexpr int kEditB = 2002;
inline constexpr int kList = 2003;
inline constexpr int kCombo = 2004;
inline constexpr int kBar = 2005;
inline constexpr int kApply = 2006;
inline constexpr int kLabel = 2007;
inline constexpr int kLimited = 2008;

inline constexpr fw::ControlTemplate kControls[] = {
    {kLabel, fw::ControlKind::Label, u"Network Name", 2, 7, 49, 8},
    {kEditA, fw::ControlKind::Edit, u"", 52, 7, 85, 12},
    {kEditB, fw::ControlKind::Edit, u"", 52, 22, 85, 12, fw::StyleNoBorder},
    {kList, fw::ControlKind::List, u"", 52, 37, 31, 53},
    {kCombo, fw::ControlKind::Combo, u"", 52, 52, 36, 45, fw::StyleSorted},
    {kBar, fw::ControlKind::Bar, u"Progress1", 2, 70, 135, 8},
    {kLimited, fw::ControlKind::Edit, u"", 2, 82, 40, 12},
    {kApply, fw::ControlKind::Button, u"Apply", 83, 120, 54, 12},
};
inline constexpr std::u16string_view kChannels[] = {u"1", u"2",  u"3",  u"4",  u"5",  u"6",  u"7",
                                                    u"8", u"9", u"10", u"11", u"12", u"13", u"14"};
inline constexpr std::u16string_view kKeys[] = {u"3", u"1", u"4", u"2"};  // kept sorted by the combo
inline constexpr fw::ComboEntries kLists[] = {{kList, kChannels}, {kCombo, kKeys}};

inline constexpr fw::DialogTemplate kPageA{501, u"Alpha", 139, 139, u"System", 10, kControls, kLists};
inline constexpr fw::DialogTemplate kPageB{502, u"Configuration", 139, 139, u"System", 10, kControls, kLists};
inline constexpr fw::DialogTemplate kPageC{503, u"Encryption", 100, 60, u"System", 10, {}, {}};
inline constexpr fw::DialogTemplate kEmptyDialog{504, u"Host", 138, 145, u"System", 8, {}, {}};

// One entry per message a page handled, with the id GetCurrentMessage reported inside it.
struct Event {
    Event(std::string w, int i = 0, uint32_t s = 0, std::string p = {})
        : what(std::move(w)), id(i), state(s), page(std::move(p)) {}
    std::string what;
    int id = 0;
    uint32_t state = 0;
    std::string page;
    bool operator==(const Event&) const = default;
};

class TestPage : public fw::PropertyPage {
    FW_DECLARE_DYNAMIC(TestPage)
    FW_DECLARE_MESSAGE_MAP()

public:
    TestPage(const fw::DialogTemplate& tmpl, std::string name, std::vector<Event>* log)
        : fw::PropertyPage(tmpl), name_(std::move(name)), log_(log) {}
    ~TestPage() override { Record({"destroyed"}); }

    bool OnInitDialog() override;

    fw::Edit editA;
    fw::Edit editB;
    fw::Edit limited;
    fw::ComboBox list;
    fw::ComboBox combo;
    fw::ProgressBar bar;
    fw::Button apply;
    fw::Static label;

    // Run at the end of OnInitDialog, after the base initialisation.
    std::function<void(TestPage&)> onInit;
    // Run inside the handler of editA's change, before it records its own id.
    std::function<void(TestPage&)> onEditAChange;
    // Run inside the activation handler, after it has recorded the state.
    std::function<void(TestPage&, uint32_t)> onActivate;

protected:
    void DoDataExchange(fw::DataExchange& dx) override;

private:
    void Record(Event e);
    void OnEditAChange();
    void OnEditBChange();
    void OnLimitedChange();
    void OnListChange();
    void OnComboChange();
    void OnApply();
    void OnTimer(uintptr_t id);
    void OnActivate(uint32_t state, fw::Wnd* other, bool minimised);
    int CurrentId() const;

    std::string name_;
    std::vector<Event>* log_;
};

} // namespace fwtest
