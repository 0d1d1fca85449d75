#include "framework/TestDialogs.h"

#include "framework/MessageMap.h"

namespace fwtest {

FW_IMPLEMENT_DYNAMIC(TestPage, fw::PropertyPage)

FW_BEGIN_MESSAGE_MAP(TestPage, fw::PropertyPage)
    FW_ON_EN_CHANGE(kEditA, &TestPage::OnEditAChange)
    FW_ON_EN_CHANGE(kEditB, &TestPage::OnEditBChange)
    FW_ON_EN_CHANGE(kLimited, &TestPage::OnLimitedChange)
    FW_ON_CBN_SELCHANGE(kList, &TestPage::OnListChange)
    FW_ON_CBN_SELCHANGE(kCombo, &TestPage::OnComboChange)
    FW_ON_BN_CLICKED(kApply, &TestPage::OnApply)
    FW_ON_WM_TIMER(&TestPage::OnTimer)
    FW_ON_WM_ACTIVATE(&TestPage::OnActivate)
FW_END_MESSAGE_MAP()

bool TestPage::OnInitDialog()
{
    fw::PropertyPage::OnInitDialog();
    Record({"init"});
    if (onInit)
        onInit(*this);
    return true;
}

void TestPage::DoDataExchange(fw::DataExchange& dx)
{
    fw::PropertyPage::DoDataExchange(dx);
    fw::DDX_Control(dx, kLabel, label);
    fw::DDX_Control(dx, kEditA, editA);
    fw::DDX_Control(dx, kEditB, editB);
    fw::DDX_Control(dx, kLimited, limited);
    fw::DDX_Control(dx, kList, list);
    fw::DDX_Control(dx, kCombo, combo);
    fw::DDX_Control(dx, kBar, bar);
    fw::DDX_Control(dx, kApply, apply);
}

void TestPage::Record(Event e)
{
    e.page = name_;
    if (log_)
        log_->push_back(std::move(e));
}

int TestPage::CurrentId() const
{
    const fw::Message* msg = GetCurrentMessage();
    return msg ? fw::LoWord(msg->wParam) : -1;
}

void TestPage::OnEditAChange()
{
    if (onEditAChange)
        onEditAChange(*this);
    Record({"EN_CHANGE", CurrentId()});
}

void TestPage::OnEditBChange() { Record({"EN_CHANGE", CurrentId()}); }
void TestPage::OnLimitedChange() { Record({"EN_CHANGE", CurrentId()}); }
void TestPage::OnListChange() { Record({"CBN_SELCHANGE", CurrentId()}); }
void TestPage::OnComboChange() { Record({"CBN_SELCHANGE", CurrentId()}); }
void TestPage::OnApply() { Record({"BN_CLICKED", CurrentId()}); }

void TestPage::OnTimer(uintptr_t id)
{
    fw::PropertyPage::OnTimer(id);
    Record({"WM_TIMER", static_cast<int>(id)});
}

void TestPage::OnActivate(uint32_t state, fw::Wnd* other, bool minimised)
{
    fw::PropertyPage::OnActivate(state, other, minimised);
    Record({"WM_ACTIVATE", 0, state});
    if (onActivate)
        onActivate(*this, state);
}

} // namespace fwtest
